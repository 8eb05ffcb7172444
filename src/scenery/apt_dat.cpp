// Airport boundaries read from apt.dat as the airport tools write them: every 130 boundary of the
// airport, Bezier nodes drawn in short pieces, split handles drawing nothing between a node and
// itself.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "geo/places.h"
#include "platform/file_names.h"
#include "scenery/area_reading.h"
#include "text/line_reader.h"

namespace mc {

namespace {

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
    std::string elevation = {};              // feet, the last header row's
    std::string elevationText = {};          // the taken airport's
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
        for (int k = 0; k < 4; ++k) {
            field = nextWord(fields);
            if (k == 0) r.elevation = std::string(field);
        }
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
        r.elevationText = r.elevation;
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

}  // namespace

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
    double feet = 0;
    auto [end, error] = std::from_chars(r.elevationText.data(),
                                        r.elevationText.data() + r.elevationText.size(), feet);
    area.hasElevation = error == std::errc() &&
                        end == r.elevationText.data() + r.elevationText.size() &&
                        !r.elevationText.empty();
    area.elevationFeet = area.hasElevation ? feet : 0;
    return {};
}

}  // namespace mc
