// Areas read from apt.dat, GeoJSON and KML files.
#include "scenery/area_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "platform/file_names.h"
#include "platform/platform.h"
#include "scenery/area_reading.h"

namespace mc {

namespace {

constexpr size_t NEAREST_NAMES = 3;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Case-insensitive edit distance, for the names nearest to one that is not there.
size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

Status areaFailure(std::string reason) {
    return failedWith(Failure::readArea, std::move(reason));
}

// The next word of a text between spaces, tabs and line ends; empty at its end.
std::string_view nextWord(std::string_view& rest) {
    size_t start = 0;
    while (start < rest.size() && isSpace(rest[start])) ++start;
    size_t end = start;
    while (end < rest.size() && !isSpace(rest[end])) ++end;
    std::string_view word = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return word;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// The whole text as a finite decimal number, or false: coordinates are never guessed at.
bool parseDecimal(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// "no airport 'LFXX' in apt.dat (the nearest: LFLB, LFLY, LFLC)"
std::string notThere(const std::string& what, const std::string& wanted, const std::string& file,
                     std::vector<std::string> names) {
    std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return editDistance(a, wanted) < editDistance(b, wanted);
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::string text = "no " + what + " '" + wanted + "' in " + file;
    if (names.empty()) return text + ", which names none";
    text += " (the nearest: ";
    for (size_t k = 0; k < std::min(names.size(), NEAREST_NAMES); ++k) {
        text += (k ? ", " : "") + names[k];
    }
    return text + ")";
}

namespace {

// ---- GeoJSON ---------------------------------------------------------------------------------

using Json = nlohmann::json;

bool jsonRing(const Json& points, AreaRing& ring) {
    if (!points.is_array()) return false;
    for (const Json& point : points) {
        if (!point.is_array() || point.size() < 2 || !point[0].is_number() ||
            !point[1].is_number()) {
            return false;
        }
        ring.push_back({point[0].get<double>(), point[1].get<double>()});
    }
    return true;
}

bool jsonPolygon(const Json& rings, std::vector<AreaPolygon>& polygons) {
    if (!rings.is_array() || rings.empty()) return false;
    AreaPolygon polygon;
    for (size_t k = 0; k < rings.size(); ++k) {
        if (!jsonRing(rings[k], k == 0 ? polygon.outline : polygon.holes.emplace_back())) {
            return false;
        }
    }
    polygons.push_back(std::move(polygon));
    return true;
}

// A member's text, empty when it is missing or no string.
std::string jsonText(const Json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// A geometry's polygons; false when it has none or its coordinates are not as GeoJSON says.
// Collections nest a few deep at most (GeoJSON advises against nesting them at all).
bool jsonPolygons(const Json& geometry, std::vector<AreaPolygon>& polygons, int depth = 0) {
    if (!geometry.is_object()) return false;
    std::string type = jsonText(geometry, "type");
    const Json& coordinates = geometry.contains("coordinates") ? geometry["coordinates"] : Json();
    if (type == "Polygon") return jsonPolygon(coordinates, polygons);
    if (type == "MultiPolygon") {
        if (!coordinates.is_array() || coordinates.empty()) return false;
        for (const Json& polygon : coordinates) {
            if (!jsonPolygon(polygon, polygons)) return false;
        }
        return true;
    }
    if (type == "GeometryCollection" && geometry.contains("geometries") && depth < 8) {
        bool any = false;
        for (const Json& part : geometry["geometries"]) {
            any = jsonPolygons(part, polygons, depth + 1) || any;
        }
        return any;
    }
    return false;
}

// The feature's "id", or one of its properties: exports of airport polygons carry the code in
// "ref" or "icao".
std::string jsonName(const Json& feature, const char* key) {
    const Json* value = nullptr;
    if (std::string(key) == "id") {
        if (feature.contains("id")) value = &feature["id"];
    } else if (feature.contains("properties") && feature["properties"].is_object() &&
               feature["properties"].contains(key)) {
        value = &feature["properties"][key];
    }
    if (!value || value->is_null()) return {};
    return value->is_string() ? value->get<std::string>() : value->dump();
}

Status readGeoJson(std::string_view text, const std::string& file, const std::string& wanted,
                   Area& area) {
    Json document;
    try {
        document = Json::parse(text);
    } catch (const Json::parse_error& error) {
        std::string said = error.what();
        return areaFailure(file + " is not JSON: " + said.substr(said.find(']') + 2));
    }
    if (!document.is_object()) {
        return areaFailure(
            file + " holds no GeoJSON object (a Polygon, a Feature or a FeatureCollection)");
    }
    std::vector<const Json*> features;
    if (jsonText(document, "type") == "FeatureCollection" && document.contains("features") &&
        document["features"].is_array()) {
        for (const Json& feature : document["features"]) features.push_back(&feature);
    } else {
        features.push_back(&document);  // a Feature, or a bare geometry
    }
    std::vector<std::string> names;
    for (const Json* feature : features) {
        std::string id = jsonName(*feature, "id"), name = jsonName(*feature, "name");
        bool named = false;
        for (const char* key : {"id", "name", "ref", "icao"}) {
            std::string text = jsonName(*feature, key);
            if (!text.empty()) names.push_back(text);
            named = named || text == wanted;
        }
        if (!wanted.empty() && !named) continue;
        const Json& geometry = feature->contains("geometry") ? (*feature)["geometry"] : *feature;
        std::vector<AreaPolygon> polygons;
        if (!jsonPolygons(geometry, polygons)) {
            if (wanted.empty()) continue;
            return areaFailure(
                "the feature '" + wanted + "' in " + file +
                " has no Polygon or MultiPolygon of [longitude, latitude] positions");
        }
        area.polygons = std::move(polygons);
        area.name = wanted.empty() ? (name.empty() ? id : name) : wanted;
        area.format = "GeoJSON";
        return {};
    }
    return areaFailure(wanted.empty() ? file + " holds no Polygon or MultiPolygon"
                                      : notThere("feature", wanted, file, names));
}

// ---- KML -------------------------------------------------------------------------------------

std::string_view localName(const pugi::xml_node& node) {
    std::string_view name = node.name();
    size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node childNamed(const pugi::xml_node& node, std::string_view name) {
    for (pugi::xml_node child : node.children()) {
        if (localName(child) == name) return child;
    }
    return {};
}

// "7.5,45.5,0 7.51,45.5,0 ...": longitude, latitude and an altitude that is left aside.
bool kmlRing(const pugi::xml_node& boundary, AreaRing& ring) {
    pugi::xml_node coordinates = childNamed(childNamed(boundary, "LinearRing"), "coordinates");
    std::string_view text = coordinates.child_value();
    for (std::string_view tuple = nextWord(text); !tuple.empty(); tuple = nextWord(text)) {
        size_t comma = tuple.find(',');
        if (comma == std::string_view::npos) return false;
        std::string_view latitude = tuple.substr(comma + 1);
        latitude = latitude.substr(0, latitude.find(','));
        AreaPoint point;
        if (!parseDecimal(tuple.substr(0, comma), point.lon) ||
            !parseDecimal(latitude, point.lat)) {
            return false;
        }
        ring.push_back(point);
    }
    return !ring.empty();
}

// Nodes below a node in document order, walked without recursion (a file may nest deeply).
template <typename Visit>
void forEachBelow(const pugi::xml_node& top, Visit visit) {
    pugi::xml_node node = top.first_child();
    while (node && node != top) {
        bool descend = visit(node);
        if (descend && node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != top && !node.next_sibling()) node = node.parent();
        if (node != top) node = node.next_sibling();
    }
}

bool kmlPolygons(const pugi::xml_node& placemark, std::vector<AreaPolygon>& polygons) {
    bool good = true;
    forEachBelow(placemark, [&](const pugi::xml_node& node) {
        if (localName(node) != "Polygon") return true;
        AreaPolygon polygon;
        good = good && kmlRing(childNamed(node, "outerBoundaryIs"), polygon.outline);
        for (pugi::xml_node inner : node.children()) {
            if (localName(inner) == "innerBoundaryIs") {
                good = good && kmlRing(inner, polygon.holes.emplace_back());
            }
        }
        polygons.push_back(std::move(polygon));
        return false;
    });
    return good && !polygons.empty();
}

Status readKml(std::string_view text, const std::string& file, const std::string& wanted,
               Area& area) {
    pugi::xml_document document;
    pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
    if (!parsed) {
        return areaFailure(file + " is not XML: " + parsed.description() + " at byte " +
                           std::to_string(parsed.offset));
    }
    std::vector<std::string> names;
    std::vector<pugi::xml_node> placemarks;
    forEachBelow(document, [&](const pugi::xml_node& node) {
        if (localName(node) == "Placemark") placemarks.push_back(node);
        return true;
    });
    for (const pugi::xml_node& placemark : placemarks) {
        std::string name(trimmed(childNamed(placemark, "name").child_value()));
        names.push_back(name);
        if (!wanted.empty() && name != wanted) continue;
        std::vector<AreaPolygon> polygons;
        if (!kmlPolygons(placemark, polygons)) {
            if (wanted.empty()) continue;
            return areaFailure("the placemark '" + wanted + "' in " + file +
                               " has no Polygon of longitude,latitude coordinates");
        }
        area.polygons = std::move(polygons);
        area.name = name;
        area.format = "KML";
        return {};
    }
    return areaFailure(wanted.empty() ? file + " holds no Placemark with a Polygon"
                                      : notThere("placemark", wanted, file, names));
}

}  // namespace

Status readArea(const std::string& path, const std::string& wanted, Area& area) {
    char start[256];
    size_t got = 0;
    if (!readFileStart(path, start, sizeof start, got)) {
        return areaFailure("cannot open " + path + ": " + systemErrorText());
    }
    std::string_view head(start, got);
    if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
    head = trimmed(head);
    char first = head.empty() ? 0 : head.front();
    if (first != '{' && first != '[' && first != '<') return readAptDat(path, wanted, area);
    ByteBuffer bytes;
    if (!readWholeFile(path, bytes)) {
        return areaFailure("cannot read " + path + ": " + systemErrorText());
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data), bytes.size);
    return first == '<' ? readKml(text, fileNameOf(path), wanted, area)
                        : readGeoJson(text, fileNameOf(path), wanted, area);
}

}  // namespace mc
