// A clipped cut put back: the pieces the carve clipped fitted, then turned back into the tile's
// triangles, split along the outline only where the edit changed them.
#include "put_back/along_outline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "area/clipped_parts.h"
#include "geo/edge_points.h"
#include "geo/triangulation.h"
#include "put_back/fitting.h"
#include "text/fields.h"
#include "text/whole_numbers.h"

namespace mc {

Status clipForPutBack(Cut& cut, OutlinePieces& outline, double thinnest) {
    ClipOrigins origins;
    origins.thinnest = thinnest;
    if (Status status = clipCut(cut, {INT32_MAX, INT32_MAX}, &origins); !status.ok()) {
        return status;
    }
    MeshBuffers clipped = std::move(cut.mesh);
    cut.mesh = std::move(origins.before);
    outline.tileVertices = cut.mesh.vertices.count;
    std::vector<int32_t> numberOf(clipped.vertices.count);
    for (size_t v = 0; v < clipped.vertices.count; ++v) {
        numberOf[v] = origins.vertexBefore[v];
        if (numberOf[v] < 0) {
            numberOf[v] = int32_t(cut.mesh.vertices.count);
            cut.mesh.vertices.push(clipped.vertices[v]);
        }
    }
    outline.pieces = {};
    outline.pieces.runs = std::move(clipped.runs);
    for (size_t i = 0; i < clipped.indices.count; ++i) {
        outline.pieces.indices.push(numberOf[size_t(clipped.indices[i])]);
    }
    outline.triangleBefore = std::move(origins.triangleBefore);
    if (cut.origin.index >= 0) cut.origin.index = numberOf[size_t(cut.origin.index)];
    return {};
}

namespace {

AreaPoint placeOfVertex(const Cut& cut, uint32_t vertex, bool& read) {
    std::string_view line;
    read = keptLine(cut.lines, sourceOffset(cut.mesh.vertices[vertex]), line);
    if (!read) return {};
    VertexPosition p = readVertexPosition(splitFirstField(line).rest);
    return {p.lon, p.lat};
}

struct Folding {
    Cut& cut;
    const OutlinePieces& outline;
    FittedCut& fitted;
    std::vector<RemovedTriangle> whole = {};
    std::vector<uint32_t> wholeOfPiece = {};  // per piece the fit took: its triangle in `whole`
    std::vector<uint8_t> leaving = {}, split = {};
    std::vector<std::pair<uint32_t, uint32_t>> onOutline = {};  // (triangle, outline vertex)
    ClippedPart part = {};
    std::vector<PlanePoint> points = {};
    std::vector<uint32_t> holeStarts = {}, ears = {};
    VertexScratch scratch = {};
    // the points the faces put on the outline between its own, by longitude: (place, edited
    // vertex), and the new point of each (vertex, definition)
    std::vector<std::pair<AreaPoint, uint32_t>> extras = {};
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> pointOf = {};
    std::unordered_map<uint32_t, uint32_t> raised = {};  // outline vertex -> edited vertex
};

// The cut's base triangles in the order the fit takes them, and the piece each came from.
void matchPiecesToTriangles(Folding& g) {
    const MeshBuffers& mesh = g.cut.mesh;
    collectRemoved(g.cut, mesh, g.whole);
    std::vector<uint32_t> removedOf(mesh.indices.count / 3, NONE);
    uint32_t k = 0;
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        if (mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG) continue;
        for (size_t i = mesh.runs[r].firstIndex; i + 3 <= runIndexEnd(mesh, r); i += 3) {
            removedOf[i / 3] = k++;
        }
    }
    const MeshBuffers& pieces = g.outline.pieces;
    for (size_t r = 0; r < pieces.runs.size(); ++r) {
        if (pieces.runs[r].patch.flags & OVERLAY_PATCH_FLAG) continue;
        for (size_t i = pieces.runs[r].firstIndex; i + 3 <= runIndexEnd(pieces, r); i += 3) {
            g.wholeOfPiece.push_back(removedOf[g.outline.triangleBefore[i / 3]]);
        }
    }
}

bool sameCorners(const RemovedTriangle& a, const RemovedTriangle& b) {
    uint32_t x[3] = {a.corners[0], a.corners[1], a.corners[2]};
    uint32_t y[3] = {b.corners[0], b.corners[1], b.corners[2]};
    std::sort(x, x + 3), std::sort(y, y + 3);
    return std::equal(x, x + 3, y);
}

// Which triangles the outline split, which leave, and the outline's vertices of each.
void markTriangles(Folding& g) {
    g.leaving.assign(g.whole.size(), 0), g.split.assign(g.whole.size(), 0);
    std::vector<uint32_t> pieceCount(g.whole.size(), 0);
    for (size_t k = 0; k < g.fitted.removed.size(); ++k) {
        uint32_t w = g.wholeOfPiece[k];
        const RemovedTriangle& piece = g.fitted.removed[k];
        ++pieceCount[w];
        if (!g.fitted.backAsItWas[k]) g.leaving[w] = 1;
        if (!sameCorners(piece, g.whole[w])) g.split[w] = 1;
        for (uint32_t v : piece.corners) {
            if (v >= g.outline.tileVertices) g.onOutline.push_back({w, v});
        }
    }
    for (size_t w = 0; w < g.whole.size(); ++w) g.split[w] |= pieceCount[w] > 1;
    std::sort(g.onOutline.begin(), g.onOutline.end());
    g.onOutline.erase(std::unique(g.onOutline.begin(), g.onOutline.end()), g.onOutline.end());
}

// The vertex for a corner of a piece outside the outline: the triangle's own corner, or the
// outline vertex its inside pieces have there, or a new one.
bool vertexAt(Folding& g, uint32_t w, const AreaPoint (&t)[3], const AreaPoint& at,
              uint32_t& vertex) {
    const RemovedTriangle& triangle = g.whole[w];
    for (int k = 0; k < 3; ++k) {
        if (metresBetween(at, t[k]) <= SAME_PLACE_METRES) return vertex = triangle.corners[k], true;
    }
    double best = SAME_PLACE_METRES;
    vertex = NONE;
    auto first = std::lower_bound(g.onOutline.begin(), g.onOutline.end(), std::pair(w, 0u));
    for (auto it = first; it != g.onOutline.end() && it->first == w; ++it) {
        bool read;
        double apart = metresBetween(at, placeOfVertex(g.cut, it->second, read));
        if (!read) return false;
        if (apart <= best) best = apart, vertex = it->second;
    }
    if (vertex != NONE) return true;
    const int32_t corners[3] = {int32_t(triangle.corners[0]), int32_t(triangle.corners[1]),
                                int32_t(triangle.corners[2])};
    StoredVertex made;
    if (!outlineVertex(g.cut, corners, t, at, made, g.scratch)) return false;
    vertex = uint32_t(g.cut.mesh.vertices.count);
    g.cut.mesh.vertices.push(made);
    g.onOutline.insert(first, {w, vertex});
    return true;
}

// Whether a place is a corner of the triangle or one of its outline vertices (within 1 cm).
bool knownPlace(Folding& g, uint32_t w, const AreaPoint (&t)[3], const AreaPoint& at) {
    for (int k = 0; k < 3; ++k) {
        if (metresBetween(at, t[k]) <= SAME_PLACE_METRES) return true;
    }
    auto first = std::lower_bound(g.onOutline.begin(), g.onOutline.end(), std::pair(w, 0u));
    for (auto it = first; it != g.onOutline.end() && it->first == w; ++it) {
        bool read;
        if (metresBetween(at, placeOfVertex(g.cut, it->second, read)) <= SAME_PLACE_METRES) {
            return true;
        }
    }
    return false;
}

// The outline's pieces inside and outside a triangle come from two overlays, and one may keep a
// corner of the outline, nearly in line with its neighbours, that the other left out: a corner
// the inside pieces do not have, within a millimetre of the line between its neighbours, is left
// out of the outside piece too, so that both meet edge for edge.
void dropStrayCorners(Folding& g, uint32_t w, const AreaPoint (&t)[3],
                      std::vector<AreaPoint>& places) {
    std::vector<AreaPoint> kept;
    std::vector<uint32_t> starts;
    for (size_t ring = 0; ring <= g.holeStarts.size(); ++ring) {
        size_t first = ring == 0 ? 0 : g.holeStarts[ring - 1];
        size_t end = ring < g.holeStarts.size() ? g.holeStarts[ring] : places.size();
        if (ring > 0) starts.push_back(uint32_t(kept.size()));
        size_t ringStart = kept.size();
        for (size_t k = first; k < end; ++k) {
            const AreaPoint& before = kept.size() > ringStart ? kept.back() : places[end - 1];
            const AreaPoint& after = places[k + 1 < end ? k + 1 : first];
            if (end - first > 3 && !knownPlace(g, w, t, places[k]) &&
                isOnSegment(places[k], before, after)) {
                continue;
            }
            kept.push_back(places[k]);
        }
    }
    places = std::move(kept), g.holeStarts = std::move(starts);
}

// A polygon over the triangle's plane triangulated, facing up as the triangle does: its corners
// are vertices of the cut, at these places.
void addTriangulated(Folding& g, uint32_t w, double facing, const std::vector<FitCorner>& vertices,
                     const std::vector<AreaPoint>& places) {
    // in metres from the first corner, so that thinness is measured as the ground has it
    g.points.clear();
    double east = cosineOfLatitude<double>(places[0].lat) * METRES_PER_DEGREE;
    for (const AreaPoint& p : places) {
        g.points.push_back(
            {(p.lon - places[0].lon) * east, (p.lat - places[0].lat) * METRES_PER_DEGREE});
    }
    g.ears.clear();
    triangulatePolygon(g.points, g.holeStarts, g.ears);
    flipThinTriangles(g.points, g.ears, ROUNDING_TURNS_OVER_METRES);
    for (size_t k = 0; k + 3 <= g.ears.size(); k += 3) {
        uint32_t* e = &g.ears[k];
        double turn = turnOf(g.points[e[0]], g.points[e[1]], g.points[e[2]]);
        auto same = [&](uint32_t a, uint32_t b) {
            return vertices[a].original == vertices[b].original &&
                   vertices[a].index == vertices[b].index;
        };
        // two corners on one vertex, or a sliver the printed places cannot hold
        if (turn == 0 || same(e[0], e[1]) || same(e[1], e[2]) || same(e[0], e[2])) continue;
        if ((turn > 0) != (facing > 0)) std::swap(e[1], e[2]);
        g.fitted.triangles.push_back(
            {{vertices[e[0]], vertices[e[1]], vertices[e[2]]}, g.whole[w].definition, true, NONE});
    }
}

// The faces' points on the outline between its own, by place: the pieces outside take them.
void collectExtras(Folding& g) {
    std::vector<uint32_t> firstPointOf;
    for (uint32_t k = 0; k < g.fitted.points.size(); ++k) {
        const NewPointPlace& point = g.fitted.points[k];
        if (point.vertex == NO_VERTEX || point.onOriginal != NO_ORIGINAL) continue;
        g.pointOf.try_emplace({point.vertex, point.definition}, k);
        if (point.vertex >= firstPointOf.size()) firstPointOf.resize(point.vertex + 1, NONE);
        if (firstPointOf[point.vertex] == NONE) firstPointOf[point.vertex] = k;
    }
    std::vector<uint32_t> vertices = g.fitted.onOutlineEdges;
    std::sort(vertices.begin(), vertices.end());
    vertices.erase(std::unique(vertices.begin(), vertices.end()), vertices.end());
    for (uint32_t vertex : vertices) {
        if (vertex >= firstPointOf.size() || firstPointOf[vertex] == NONE) continue;
        AreaPoint place;
        degreesOf(g.cut, g.fitted.points[firstPointOf[vertex]].at, place.lon, place.lat);
        g.extras.push_back({place, vertex});
    }
    std::sort(g.extras.begin(), g.extras.end(),
              [](const auto& a, const auto& b) { return a.first.lon < b.first.lon; });
}

// The new point of an edited vertex for a definition: the faces' own, or one made like it.
FitCorner pointFor(Folding& g, uint32_t vertex, uint32_t definition) {
    auto found = g.pointOf.find({vertex, definition});
    if (found != g.pointOf.end()) return {false, found->second};
    auto other = g.pointOf.lower_bound({vertex, 0});
    NewPointPlace point = g.fitted.points[other->second];
    point.definition = definition, point.texture = -1;
    g.pointOf[{vertex, definition}] = uint32_t(g.fitted.points.size());
    g.fitted.points.push_back(point);
    return {false, uint32_t(g.fitted.points.size() - 1)};
}

// Each side of a piece's rings that runs along the outline takes the faces' points on it, in
// order, so that the piece and the faces share every vertex there.
void takeExtras(Folding& g, uint32_t w, std::vector<FitCorner>& vertices,
                std::vector<AreaPoint>& places) {
    std::vector<FitCorner> corners;
    std::vector<AreaPoint> at;
    std::vector<uint32_t> starts;
    std::vector<std::pair<double, uint32_t>> along;
    for (size_t ring = 0; ring <= g.holeStarts.size(); ++ring) {
        size_t first = ring == 0 ? 0 : g.holeStarts[ring - 1];
        size_t end = ring < g.holeStarts.size() ? g.holeStarts[ring] : places.size();
        if (ring > 0) starts.push_back(uint32_t(corners.size()));
        for (size_t k = first; k < end; ++k) {
            corners.push_back(vertices[k]), at.push_back(places[k]);
            const AreaPoint &a = places[k], &b = places[k + 1 < end ? k + 1 : first];
            auto from = std::lower_bound(
                g.extras.begin(), g.extras.end(), std::min(a.lon, b.lon) - 1e-7,
                [](const auto& extra, double lon) { return extra.first.lon < lon; });
            along.clear();
            for (auto e = from;
                 e != g.extras.end() && e->first.lon <= std::max(a.lon, b.lon) + 1e-7; ++e) {
                if (!isOnSegment(e->first, a, b) ||
                    metresBetween(e->first, a) <= SAME_PLACE_METRES ||
                    metresBetween(e->first, b) <= SAME_PLACE_METRES) {
                    continue;
                }
                along.push_back({metresBetween(e->first, a), uint32_t(e - g.extras.begin())});
            }
            std::sort(along.begin(), along.end());
            for (const auto& [distance, extra] : along) {
                corners.push_back(pointFor(g, g.extras[extra].second, g.whole[w].definition));
                at.push_back(g.extras[extra].first);
            }
        }
    }
    vertices = std::move(corners), places = std::move(at), g.holeStarts = std::move(starts);
}

// The corner of a piece at an outline vertex: the vertex, or the point the faces raised it to.
FitCorner outlineCorner(Folding& g, uint32_t w, uint32_t vertex) {
    auto raised = g.raised.find(vertex);
    if (raised == g.raised.end()) return {true, vertex};
    return pointFor(g, raised->second, g.whole[w].definition);
}

bool cornerPlaces(Folding& g, uint32_t w, AreaPoint (&t)[3], double& facing) {
    for (int k = 0; k < 3; ++k) {
        bool read;
        t[k] = placeOfVertex(g.cut, g.whole[w].corners[k], read);
        if (!read) return false;
    }
    facing = turnOf({t[0].lon, t[0].lat}, {t[1].lon, t[1].lat}, {t[2].lon, t[2].lat});
    return true;
}

// What the outline leaves of a triangle outside, triangulated, facing up as the triangle does.
bool addOutsidePieces(Folding& g, uint32_t w) {
    AreaPoint t[3];
    double facing;
    if (!cornerPlaces(g, w, t, facing)) return false;
    return forEachClippedPart(g.cut.clipRegion, t, PartsOf::outside, g.part,
                              [&](ClippedPart& part) {
                                  std::vector<AreaPoint>& places = part.places;
                                  g.holeStarts = part.holeStarts;
                                  dropStrayCorners(g, w, t, places);
                                  std::vector<FitCorner> vertices(places.size());
                                  for (size_t k = 0; k < places.size(); ++k) {
                                      bool read;
                                      uint32_t vertex;
                                      if (!vertexAt(g, w, t, places[k], vertex)) return false;
                                      vertices[k] = outlineCorner(g, w, vertex);
                                      places[k] = placeOfVertex(g.cut, vertex, read);
                                  }
                                  if (!g.extras.empty()) takeExtras(g, w, vertices, places);
                                  addTriangulated(g, w, facing, vertices, places);
                                  return true;
                              });
}

// An edge of the tile by the places of its ends, whichever triangle and patch has it.
using EdgeKey = std::array<double, 4>;

EdgeKey edgeKey(const Cut& cut, uint32_t a, uint32_t b) {
    const StoredVertex &p = cut.mesh.vertices[a], &q = cut.mesh.vertices[b];
    EdgeKey key{p.x, p.z, q.x, q.z};
    if (std::pair(q.x, q.z) < std::pair(p.x, p.z)) key = {q.x, q.z, p.x, p.z};
    return key;
}

// An outline point on an edge of a split triangle: the edge, the place, the outline vertex.
struct OnEdge {
    EdgeKey edge;
    AreaPoint at;
    uint32_t vertex;
};

// The outline's points that a split triangle's new triangles put on its edges, by edge.
bool pointsOnSplitEdges(Folding& g, std::vector<OnEdge>& onEdges) {
    for (const auto& [w, v] : g.onOutline) {
        if (!g.leaving[w] || !g.split[w]) continue;
        AreaPoint t[3];
        double facing;
        bool read;
        if (!cornerPlaces(g, w, t, facing)) return false;
        AreaPoint at = placeOfVertex(g.cut, v, read);
        for (int k = 0; k < 3; ++k) {
            if (!isOnSegment(at, t[k], t[(k + 1) % 3])) continue;
            const uint32_t* c = g.whole[w].corners;
            onEdges.push_back({edgeKey(g.cut, c[k], c[(k + 1) % 3]), at, v});
        }
    }
    std::sort(onEdges.begin(), onEdges.end(), [](const OnEdge& a, const OnEdge& b) {
        return std::tie(a.edge, a.at.lon, a.at.lat) < std::tie(b.edge, b.at.lon, b.at.lat);
    });
    return true;
}

// A triangle that stays beside one the outline split would meet it with a point in the middle
// of their common edge: it leaves too, cut at those points (on its own plane, so the ground is
// where it was), that no edge of the tile ends on another.
bool splitNeighboursAtOutlinePoints(Folding& g) {
    std::vector<OnEdge> onEdges;
    if (!pointsOnSplitEdges(g, onEdges)) return false;
    if (onEdges.empty()) return true;
    auto byEdge = [](const OnEdge& entry, const EdgeKey& key) { return entry.edge < key; };
    std::vector<uint32_t> ring;
    std::vector<std::pair<double, uint32_t>> along;
    for (uint32_t w = 0; w < g.whole.size(); ++w) {
        if (g.leaving[w]) continue;
        const uint32_t* c = g.whole[w].corners;
        std::vector<FitCorner> vertices;
        std::vector<AreaPoint> places;
        AreaPoint t[3];
        double facing = 0;
        bool cut = false;
        for (int k = 0; k < 3; ++k) {
            EdgeKey key = edgeKey(g.cut, c[k], c[(k + 1) % 3]);
            auto at = std::lower_bound(onEdges.begin(), onEdges.end(), key, byEdge);
            if (at == onEdges.end() || at->edge != key) continue;
            if (!cut && !cornerPlaces(g, w, t, facing)) return false;
            cut = true;
        }
        if (!cut) continue;
        const int32_t corners[3] = {int32_t(c[0]), int32_t(c[1]), int32_t(c[2])};
        // the ring's ids: 0 to 2 the corners, from 3 on the points of onEdges
        auto pointsOn = [&](int k, std::vector<std::pair<double, uint32_t>>& found) {
            EdgeKey key = edgeKey(g.cut, c[k], c[(k + 1) % 3]);
            for (auto e = std::lower_bound(onEdges.begin(), onEdges.end(), key, byEdge);
                 e != onEdges.end() && e->edge == key; ++e) {
                found.push_back({metresBetween(e->at, t[k]), uint32_t(3 + (e - onEdges.begin()))});
            }
        };
        const uint32_t ids[3] = {0, 1, 2};
        int lastEdge = 0;
        ringWithEdgePoints(ids, pointsOn, along, ring, lastEdge);
        for (uint32_t id : ring) {
            if (id < 3) {
                vertices.push_back({true, c[id]}), places.push_back(t[id]);
                continue;
            }
            const OnEdge& p = onEdges[id - 3];
            places.push_back(p.at);
            if (g.raised.count(p.vertex)) {  // where the faces put it
                vertices.push_back(outlineCorner(g, w, p.vertex));
                continue;
            }
            StoredVertex made;
            if (!outlineVertex(g.cut, corners, t, p.at, made, g.scratch)) return false;
            vertices.push_back({true, uint32_t(g.cut.mesh.vertices.count)});
            g.cut.mesh.vertices.push(made);
        }
        g.leaving[w] = 1;
        g.holeStarts.clear();
        addTriangulated(g, w, facing, vertices, places);
    }
    return true;
}

// Corners on the outline are points the tile does not have: one new point per vertex and
// definition, every value from its line.
void outlineCornersAsPoints(Folding& g) {
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> pointOf;
    for (NewPointPlace& point : g.fitted.points) {
        if (point.onOriginal != NO_ORIGINAL && point.onOriginal >= g.outline.tileVertices) {
            point.onOutline = true;
        }
    }
    for (FittedTriangle& t : g.fitted.triangles) {
        if (!t.changed) continue;
        for (FitCorner& corner : t.corners) {
            if (!corner.original || corner.index < g.outline.tileVertices) continue;
            const uint32_t vertex = corner.index;
            auto [at, added] =
                pointOf.try_emplace({vertex, t.definition}, uint32_t(g.fitted.points.size()));
            if (added) {
                Metres place = metresOf(g.cut.mesh.vertices[vertex], g.cut.origin);
                g.fitted.points.push_back({place, t.definition, -1, NO_VERTEX, vertex, true});
            }
            corner = FitCorner{false, at->second};
        }
    }
}

}  // namespace

Status foldPiecesIntoTriangles(Cut& cut, const OutlinePieces& outline, FittedCut& fitted) {
    Folding g{cut, outline, fitted};
    collectExtras(g);
    g.raised.insert(fitted.raisedOutline.begin(), fitted.raisedOutline.end());
    matchPiecesToTriangles(g);
    markTriangles(g);
    // a changed triangle goes out whole: its unchanged pieces go in again with the changed ones
    for (FittedTriangle& t : fitted.triangles) {
        if (!t.changed && g.leaving[g.wholeOfPiece[t.removed]]) t.changed = true;
    }
    for (uint32_t w = 0; w < g.whole.size(); ++w) {
        if (g.leaving[w] && g.split[w] && !addOutsidePieces(g, w)) return keptLinesFailure(cut);
    }
    if (!splitNeighboursAtOutlinePoints(g)) return keptLinesFailure(cut);
    outlineCornersAsPoints(g);
    fitted.removed = std::move(g.whole);
    fitted.backAsItWas.assign(g.leaving.size(), 0);
    for (size_t w = 0; w < g.leaving.size(); ++w) fitted.backAsItWas[w] = !g.leaving[w];
    return {};
}

}  // namespace mc
