// Areas read from apt.dat, GeoJSON and KML files.
#include "scenery/area_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <numbers>
#include <pugixml.hpp>

#include "cut/frame.h"
#include "platform/platform.h"
#include "text/file_names.h"
#include "text/line_reader.h"

namespace mc {

namespace {

constexpr size_t NEAREST_NAMES = 3;

Status areaFailure(std::string reason) {
    return failedWith(Failure::readArea, std::move(reason));
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
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

// ---- apt.dat ---------------------------------------------------------------------------------

// A boundary node: row 111 (plain), 112 (with a Bezier control point), 113/114 (the same, closing
// the ring), 115/116 (the same, ending it open).
struct AptNode {
    AreaPoint at, control;
    bool curved = false;
    bool endsRing = false;
};

AreaPoint bezierPoint(const AreaPoint (&p)[4], int degree, double t) {
    double u = 1 - t;
    if (degree == 2) {
        return {u * u * p[0].lon + 2 * u * t * p[1].lon + t * t * p[3].lon,
                u * u * p[0].lat + 2 * u * t * p[1].lat + t * t * p[3].lat};
    }
    double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    return {a * p[0].lon + b * p[1].lon + c * p[2].lon + d * p[3].lon,
            a * p[0].lat + b * p[1].lat + c * p[2].lat + d * p[3].lat};
}

double metresBetween(const AreaPoint& a, const AreaPoint& b) {
    double east = (b.lon - a.lon) * std::cos((a.lat + b.lat) / 2 * std::numbers::pi / 180);
    return std::hypot(east, b.lat - a.lat) * METRES_PER_DEGREE;
}

// The segment from one node to the next: straight, or a Bezier from the first node's control
// point and the mirror of the second's, in pieces no longer than BEZIER_PIECE_METRES along it
// (a curve of degree n moves at most n times its longest control leg per unit of t).
void appendSegment(AreaRing& ring, const AptNode& from, const AptNode& to, bool curvedAllowed) {
    // a node written again at its own place draws nothing, whatever its controls: the airport
    // tools split a node's handles so ("112 P C1", "111 P", "112 P C2")
    if (from.at.lon == to.at.lon && from.at.lat == to.at.lat) return;
    AreaPoint p[4] = {from.at,
                      from.control,
                      {2 * to.at.lon - to.control.lon, 2 * to.at.lat - to.control.lat},
                      to.at};
    bool out = from.curved && curvedAllowed, in = to.curved && curvedAllowed;
    if (!out && !in) {
        ring.push_back(to.at);
        return;
    }
    int degree = out && in ? 3 : 2;
    if (!out) p[1] = p[2];  // the one control point a quadratic curve has
    double longest = degree == 3 ? std::max({metresBetween(p[0], p[1]), metresBetween(p[1], p[2]),
                                             metresBetween(p[2], p[3])})
                                 : std::max(metresBetween(p[0], p[1]), metresBetween(p[1], p[3]));
    // an airport's curve is metres to a few kilometres long: a control point far off (or not a
    // number) gets no more pieces than a 5 km curve, not millions
    constexpr double MOST_PIECES = 1000;
    double wanted = std::ceil(degree * longest / BEZIER_PIECE_METRES);
    size_t pieces = wanted >= 1 ? size_t(std::min(wanted, MOST_PIECES)) : 1;
    for (size_t k = 1; k < pieces; ++k)
        ring.push_back(bezierPoint(p, degree, double(k) / double(pieces)));
    ring.push_back(to.at);
}

AreaRing ringOf(const std::vector<AptNode>& nodes, size_t first, size_t end) {
    AreaRing ring{nodes[first].at};
    for (size_t k = first; k + 1 < end; ++k) appendSegment(ring, nodes[k], nodes[k + 1], true);
    // a ring that closes curves back to its start; one left open is closed by a straight edge
    bool closes = nodes[end - 1].endsRing;
    appendSegment(ring, nodes[end - 1], nodes[first], closes);
    return ring;
}

// "111 45.5 7.5", "112 45.5 7.5 45.51 7.52": latitude first, then longitude.
bool readAptNode(int row, std::string_view fields, AptNode& node) {
    double values[4];
    int needed = (row == 112 || row == 114 || row == 116) ? 4 : 2;
    for (int k = 0; k < needed; ++k) {
        if (!parseDecimal(nextWord(fields), values[k])) return false;
    }
    node.at = {values[1], values[0]};
    node.curved = needed == 4;
    if (node.curved) node.control = {values[3], values[2]};
    node.endsRing = row == 113 || row == 114;
    return true;
}

// A 130 row and its nodes: rings, each ended by a 113-116 node (or by the boundary's end).
struct AptBoundary {
    std::vector<AptNode> nodes;
    std::vector<size_t> ringEnds;
};

struct AptReading {
    const std::string& wanted;
    std::vector<std::string> airports = {};  // every identifier seen, for the nearest names
    std::string airport = {};                // the one the rows belong to
    std::string taken = {};                  // the one whose boundaries are read
    bool chosen = false, inBoundary = false, takenDone = false, airportFound = false;
    std::vector<AptBoundary> boundaries = {};  // every 130 of the taken airport
    std::string error = {};
};

void readAptRow(AptReading& r, std::string_view line, uint64_t lineNumber) {
    std::string_view fields = line, code = nextWord(fields);
    int row = 0;
    auto [end, error] = std::from_chars(code.data(), code.data() + code.size(), row);
    if (error != std::errc() || end != code.data() + code.size()) return;
    if (row == 1 || row == 16 || row == 17) {
        r.takenDone = r.takenDone || !r.boundaries.empty();
        std::string_view field;
        for (int k = 0; k < 4; ++k) field = nextWord(fields);
        r.airport = std::string(field);
        r.airports.push_back(r.airport);
        r.chosen = !r.takenDone && (r.wanted.empty() || r.airport == r.wanted);
        r.airportFound = r.airportFound || r.chosen;
        r.inBoundary = false;
        return;
    }
    if (row >= 111 && row <= 116 && r.inBoundary) {
        AptNode node;
        if (!readAptNode(row, fields, node)) {
            r.error = "line " + std::to_string(lineNumber) + ": a boundary node (row " +
                      std::to_string(row) + ") without its coordinates";
            return;
        }
        AptBoundary& boundary = r.boundaries.back();
        boundary.nodes.push_back(node);
        if (row >= 113) boundary.ringEnds.push_back(boundary.nodes.size());
        return;
    }
    r.inBoundary = false;  // any other row ends a boundary
    if (row == 130 && r.chosen) {
        r.inBoundary = true, r.taken = r.airport;
        r.boundaries.emplace_back();
    }
}

// A boundary's rings: the first its outline, the others holes in it.
AreaPolygon polygonOf(AptBoundary& b) {
    if (b.ringEnds.empty() || b.ringEnds.back() != b.nodes.size()) {
        b.ringEnds.push_back(b.nodes.size());
    }
    AreaPolygon polygon;
    for (size_t k = 0, first = 0; k < b.ringEnds.size(); first = b.ringEnds[k++]) {
        if (b.ringEnds[k] == first) continue;
        AreaRing ring = ringOf(b.nodes, first, b.ringEnds[k]);
        (polygon.outline.empty() ? polygon.outline : polygon.holes.emplace_back()) =
            std::move(ring);
    }
    return polygon;
}

Status readAptDat(const std::string& path, const std::string& wanted, Area& area) {
    LineReader reader;
    if (!openForReading(reader, path)) {
        return areaFailure("cannot open " + path + ": " + systemErrorText());
    }
    AptReading r{wanted};
    for (uint64_t number = 1; !atEnd(reader) && r.error.empty() && !r.takenDone; ++number) {
        readAptRow(r, readLine(reader), number);  // the rest of the world is not needed
    }
    closeReader(reader);
    if (!r.error.empty()) return areaFailure(r.error);
    std::string file = fileNameOf(path);
    if (!wanted.empty() && !r.airportFound) {
        return areaFailure(notThere("airport", wanted, file, r.airports));
    }
    area.polygons.clear();
    for (AptBoundary& boundary : r.boundaries) {
        if (!boundary.nodes.empty()) area.polygons.push_back(polygonOf(boundary));
    }
    if (area.polygons.empty()) {
        return areaFailure(wanted.empty()
                               ? file + " holds no airport boundary (row 130 and its nodes)"
                               : "airport '" + wanted + "' has no boundary (row 130) in " + file);
    }
    area.name = r.taken;
    area.format = "apt.dat";
    return {};
}

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
