// The join of a fit checked: the edited faces' open outline against the removed triangles', with
// the place of the first difference for the user.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

#include "put_back/fitting.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

// Edges that only one triangle has, with how often more in one direction than the other.
using OpenEdges = std::vector<std::pair<uint64_t, int32_t>>;

OpenEdges openEdgesOf(std::vector<uint64_t>& directed) {
    auto canonical = [](uint64_t e) {
        uint32_t a = uint32_t(e >> 32), b = uint32_t(e);
        return a < b ? e : uint64_t(b) << 32 | a;
    };
    for (uint64_t& e : directed) e = canonical(e) << 1 | (canonical(e) == e ? 0 : 1);
    std::sort(directed.begin(), directed.end());
    OpenEdges open;
    for (size_t i = 0; i < directed.size();) {
        uint64_t key = directed[i] >> 1;
        int32_t net = 0;
        for (; i < directed.size() && directed[i] >> 1 == key; ++i) {
            net += (directed[i] & 1) == 0 ? 1 : -1;
        }
        if (net != 0) open.push_back({key, net});
    }
    return open;
}

void addEdges(std::vector<uint64_t>& directed, uint32_t a, uint32_t b, uint32_t c) {
    if (a == b || b == c || a == c) return;  // a triangle with two corners in one place
    directed.insert(directed.end(),
                    {uint64_t(a) << 32 | b, uint64_t(b) << 32 | c, uint64_t(c) << 32 | a});
}

// The hole the faces must fill: the open edges of the removed triangles that no face is, in the
// tile's own winding (where its triangles fold, the Wavefront file turns them up, and their
// edges would look open). The triangles both have cancel out, so that only the edited part is
// compared.
OpenEdges holeOutline(const Fitting& f) {
    std::vector<uint64_t> directed;
    const std::vector<uint32_t>& welded = f.originals.welded;
    size_t turned = 0;
    for (const RemovedTriangle& t : f.fitted.removed) turned += t.turned;
    bool tileTurnsAll = turned * 2 > f.fitted.removed.size();  // a tile wound clockwise
    directed.reserve(3 * size_t(std::count(f.reused.begin(), f.reused.end(), 0)));
    for (size_t k = 0; k < f.fitted.removed.size(); ++k) {
        if (f.reused[k]) continue;
        const RemovedTriangle& t = f.fitted.removed[k];
        bool flip = t.turned != tileTurnsAll;
        uint32_t second = t.corners[flip ? 2 : 1], third = t.corners[flip ? 1 : 2];
        addEdges(directed, welded[t.corners[0]], welded[second], welded[third]);
    }
    return openEdgesOf(directed);
}

OpenEdges changedOutline(const Fitting& f) {
    std::vector<uint64_t> directed;
    size_t changed = 0;
    for (const FittedTriangle& t : f.fitted.triangles) changed += t.changed;
    directed.reserve(3 * changed);
    for (const FittedTriangle& t : f.fitted.triangles) {
        if (!t.changed) continue;
        uint32_t ids[3];
        for (int k = 0; k < 3; ++k) {
            const FitCorner& c = t.corners[k];
            ids[k] = c.original ? f.originals.welded[c.index] : f.pointIds[c.index];
        }
        addEdges(directed, ids[0], ids[1], ids[2]);
    }
    return openEdgesOf(directed);
}

// "moved 3.00 m east and 5.00 m up"
std::string movement(const Metres& from, const EditedVertex& to) {
    const double parts[3] = {to.x - from.x, from.z - to.z, to.y - from.y};
    const char* names[3][2] = {{"east", "west"}, {"north", "south"}, {"up", "down"}};
    std::vector<std::string> said;
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(parts[k]) < 0.005) continue;
        char text[64];
        char* end =
            std::to_chars(text, text + 48, std::fabs(parts[k]), std::chars_format::fixed, 2).ptr;
        said.push_back(std::string(text, end) + " m " + names[k][parts[k] < 0]);
    }
    std::string text = "moved";
    for (size_t k = 0; k < said.size(); ++k) {
        text += (k == 0 ? " " : k + 1 == said.size() ? " and " : ", ") + said[k];
    }
    return said.empty() ? "moved less than 5 mm, past what a put-back takes as the same vertex"
                        : text;
}

// The cut's edge vertex the faces do not use: where its nearest vertex of the file went.
std::string describeMissing(const Fitting& f, uint32_t position) {
    const Metres from = positionMetres(f.cut, f.originals, position);
    double best = 100.0;
    int64_t nearest = -1;
    for (size_t v = 0; v < f.usedVertex.size(); ++v) {
        const EditedVertex& e = f.edited.vertices[v];
        double across = std::hypot(e.x - from.x, e.z - from.z);
        if (f.usedVertex[v] && across < best) best = across, nearest = int64_t(v);
    }
    std::string place = "the vertex at " + placeOfId(f, position) + " on the cut's edge ";
    if (nearest < 0) return place + "is missing from the edited faces";
    return place + "was " + movement(from, f.edited.vertices[size_t(nearest)]);
}

}  // namespace

void weldNewPoints(Fitting& f) {
    const std::vector<NewPointPlace>& points = f.fitted.points;
    f.pointIds.assign(points.size(), NONE);
    std::vector<uint32_t> byPlace;  // the points off the original positions
    for (uint32_t k = 0; k < points.size(); ++k) {
        if (points[k].onOriginal != NO_ORIGINAL) {
            f.pointIds[k] = f.originals.welded[points[k].onOriginal];
        } else {
            byPlace.push_back(k);
        }
    }
    auto place = [&](uint32_t k) {
        const EditedVertex& v = f.edited.vertices[points[k].vertex];
        return std::tuple(v.x, v.y, v.z);
    };
    std::sort(byPlace.begin(), byPlace.end(), [&](uint32_t a, uint32_t b) {
        return std::pair(place(a), points[a].vertex) < std::pair(place(b), points[b].vertex);
    });
    for (size_t k = 0; k < byPlace.size(); ++k) {
        bool same = k > 0 && place(byPlace[k]) == place(byPlace[k - 1]);
        f.pointIds[byPlace[k]] =
            same ? f.pointIds[byPlace[k - 1]] : f.originals.positions + points[byPlace[k]].vertex;
    }
}

namespace {

// Where an outline id stands, in the cut's metres.
Metres metresOfId(const Fitting& f, uint32_t id) {
    if (id < f.originals.positions) return positionMetres(f.cut, f.originals, id);
    const EditedVertex& v = f.edited.vertices[id - f.originals.positions];
    return {v.x, v.y, v.z};
}

// The clip's outline runs straight in degrees, and the cut's metres bend a long edge of it by
// millimetres: how far a place lies from the segment between two others is measured in degrees,
// scaled to metres around it.
double metresOffSegment(const Fitting& f, const Metres& p, const Metres& a, const Metres& b,
                        double& along) {
    AreaPoint place, from, to;
    degreesOf(f.cut, p, place.lon, place.lat), degreesOf(f.cut, a, from.lon, from.lat);
    degreesOf(f.cut, b, to.lon, to.lat);
    const SegmentOffset offset = offsetToSegment(place, from, to);
    along = offset.along;
    return offset.metres();
}

// The faces' open edges from u to w through new points on the segment between them, in order.
bool chainAlong(const Fitting& f, const std::vector<std::pair<uint32_t, uint32_t>>& from,
                uint32_t u, uint32_t w, std::vector<uint32_t>& chain) {
    const Metres start = metresOfId(f, u), end = metresOfId(f, w);
    chain.clear();
    double reached = 0;
    for (uint32_t at = u; at != w;) {
        uint32_t next = NONE;
        double nearest = 1;
        auto first = std::lower_bound(from.begin(), from.end(), std::pair(at, 0u));
        for (auto e = first; e != from.end() && e->first == at && next != w; ++e) {
            double along;
            if (e->second == w) {
                next = w;
            } else if (e->second >= f.originals.positions &&
                       metresOffSegment(f, metresOfId(f, e->second), start, end, along) <=
                           POINT_TOLERANCE_METRES &&
                       along > reached && along < nearest) {
                next = e->second, nearest = along;
            }
        }
        if (next == NONE || chain.size() > f.edited.vertices.size()) return false;
        if (next != w) chain.push_back(next), reached = nearest;
        at = next;
    }
    return !chain.empty();
}

// A cut clipped along an outline may have its edge there met by faces with new points on it
// (the flattening's band shortens the edges of its outer rim): each edge of the hole that the
// faces meet as a chain of new points along it is taken as that chain, and the points are noted
// for the pieces outside, which take them too.
void bridgeOutlineEdges(const Fitting& f, OpenEdges& hole, const OpenEdges& faces) {
    std::vector<std::pair<uint32_t, uint32_t>> from;  // the faces' open edges, directed, by start
    for (const auto& [key, net] : faces) {
        uint32_t a = uint32_t(key >> 32), b = uint32_t(key);
        if (net > 0) from.push_back({a, b});
        if (net < 0) from.push_back({b, a});
    }
    std::sort(from.begin(), from.end());
    OpenEdges kept, bridged;
    std::vector<uint32_t> chain;
    for (const auto& edge : hole) {
        auto [key, net] = edge;
        uint32_t u = uint32_t(key >> 32), w = uint32_t(key);
        if (net < 0) std::swap(u, w);
        if (std::abs(net) != 1 || std::binary_search(faces.begin(), faces.end(), edge) ||
            !chainAlong(f, from, u, w, chain)) {
            kept.push_back(edge);
            continue;
        }
        uint32_t previous = u;
        for (uint32_t point : chain) {
            bridged.push_back({uint64_t(previous) << 32 | point, 0});
            f.fitted.onOutlineEdges.push_back(point - f.originals.positions);
            previous = point;
        }
        bridged.push_back({uint64_t(previous) << 32 | w, 0});
    }
    if (bridged.empty()) return;
    for (auto& [key, net] : bridged) {  // as open edges: the lower id first, the winding in net
        uint32_t a = uint32_t(key >> 32), b = uint32_t(key);
        key = a < b ? key : uint64_t(b) << 32 | a;
        net = a < b ? 1 : -1;
    }
    hole = std::move(kept);
    hole.insert(hole.end(), bridged.begin(), bridged.end());
    std::sort(hole.begin(), hole.end());
}

// An outline position: every stored vertex at it is one the clip made.
bool isOutlinePosition(const Fitting& f, uint32_t id) {
    const Originals& o = f.originals;
    for (uint32_t k = o.storedStart[id]; k < o.storedStart[id + 1]; ++k) {
        if (o.stored[k].first < f.edge.firstOutlineVertex) return false;
    }
    return true;
}

// Open edges with their ends renamed, as open edges again.
OpenEdges renamed(const OpenEdges& edges, const std::function<uint32_t(uint32_t)>& name) {
    std::vector<uint64_t> directed;
    for (const auto& [key, net] : edges) {
        uint32_t a = name(uint32_t(key >> 32)), b = name(uint32_t(key));
        if (a == b) continue;  // its ends welded into one: no edge is left
        for (int32_t k = 0; k < std::abs(net); ++k) {
            directed.push_back(net > 0 ? uint64_t(a) << 32 | b : uint64_t(b) << 32 | a);
        }
    }
    return openEdgesOf(directed);
}

// Two triangles of different patches across one edge are clipped apart, and their points where
// the outline crosses that edge may differ in their last bits: outline positions within a
// millimetre are one, and one with a tile vertex that near (a patch that has the vertex, the
// other a crossing beside it), so that the seam between them does not look open.
std::vector<uint32_t> weldOutlinePositions(const Fitting& f, OpenEdges& hole, OpenEdges& faces) {
    const uint32_t positions = f.originals.positions;
    std::vector<uint32_t> sameAs(positions);
    for (uint32_t id = 0; id < positions; ++id) sameAs[id] = id;
    std::vector<std::pair<double, uint32_t>> byX;
    for (const auto& [key, net] : hole) {
        for (uint32_t id : {uint32_t(key >> 32), uint32_t(key)}) {
            if (id < positions) byX.push_back({metresOfId(f, id).x, id});
        }
    }
    std::sort(byX.begin(), byX.end());
    byX.erase(std::unique(byX.begin(), byX.end()), byX.end());
    auto root = [&](uint32_t id) {  // the lowest position of those welded together
        while (sameAs[id] != id) id = sameAs[id];
        return id;
    };
    bool welded = false;
    for (size_t k = 0; k < byX.size(); ++k) {
        const Metres a = metresOfId(f, byX[k].second);
        for (size_t j = k + 1;
             j < byX.size() && byX[j].first <= byX[k].first + POINT_TOLERANCE_METRES; ++j) {
            const Metres b = metresOfId(f, byX[j].second);
            if (std::hypot(a.x - b.x, a.z - b.z) > POINT_TOLERANCE_METRES) continue;
            // a tile vertex the outline passes through, and a patch's crossing beside it, too
            if (!isOutlinePosition(f, byX[k].second) && !isOutlinePosition(f, byX[j].second)) {
                continue;
            }
            uint32_t one = root(byX[k].second), other = root(byX[j].second);
            sameAs[std::max(one, other)] = std::min(one, other);
            welded = true;
        }
    }
    if (!welded) return sameAs;
    for (uint32_t id = 0; id < positions; ++id) sameAs[id] = root(id);
    auto name = [&](uint32_t id) { return id < positions ? sameAs[id] : id; };
    hole = renamed(hole, name), faces = renamed(faces, name);
    return sameAs;
}

// Without a band the faces meet the clipped cut's outline points with new heights: each new
// point of the faces' edge at the place of an outline point of the hole's (within a millimetre
// across) stands for it, and the pieces outside will take it.
void raiseOutline(const Fitting& f, const std::vector<uint32_t>& sameAs, const OpenEdges& hole,
                  OpenEdges& faces) {
    std::vector<std::pair<double, uint32_t>> outline;  // the hole's outline points, by x
    for (const auto& [key, net] : hole) {
        for (uint32_t id : {uint32_t(key >> 32), uint32_t(key)}) {
            if (id < f.originals.positions && isOutlinePosition(f, id)) {
                outline.push_back({metresOfId(f, id).x, id});
            }
        }
    }
    std::sort(outline.begin(), outline.end());
    outline.erase(std::unique(outline.begin(), outline.end()), outline.end());
    std::vector<std::pair<uint32_t, uint32_t>> standsFor;  // (new point id, outline id)
    for (const auto& [key, net] : faces) {
        for (uint32_t id : {uint32_t(key >> 32), uint32_t(key)}) {
            if (id < f.originals.positions) continue;
            const Metres at = metresOfId(f, id);
            auto first = std::lower_bound(outline.begin(), outline.end(),
                                          std::pair(at.x - POINT_TOLERANCE_METRES, 0u));
            for (auto it = first; it != outline.end() && it->first <= at.x + POINT_TOLERANCE_METRES;
                 ++it) {
                const Metres o = metresOfId(f, it->second);
                if (std::hypot(o.x - at.x, o.z - at.z) <= POINT_TOLERANCE_METRES) {
                    standsFor.push_back({id, it->second});
                    break;
                }
            }
        }
    }
    if (standsFor.empty()) return;
    std::sort(standsFor.begin(), standsFor.end());
    standsFor.erase(std::unique(standsFor.begin(), standsFor.end()), standsFor.end());
    faces = renamed(faces, [&](uint32_t id) {
        auto found = std::lower_bound(standsFor.begin(), standsFor.end(), std::pair(id, 0u));
        return found != standsFor.end() && found->first == id ? found->second : id;
    });
    // every stored vertex of the position, and of those welded to it
    std::vector<uint32_t> raisedTo(f.originals.positions, NONE);
    for (const auto& [point, id] : standsFor) raisedTo[id] = point - f.originals.positions;
    const Originals& o = f.originals;
    for (uint32_t id = 0; id < o.positions; ++id) {
        uint32_t edited = raisedTo[sameAs.empty() ? id : sameAs[id]];
        if (edited == NONE) continue;
        for (uint32_t k = o.storedStart[id]; k < o.storedStart[id + 1]; ++k) {
            f.fitted.raisedOutline.push_back({o.stored[k].first, edited});
        }
    }
}

}  // namespace

Status compareOutlines(const Fitting& f) {
    OpenEdges hole = holeOutline(f), faces = changedOutline(f);
    if (hole == faces) return {};
    std::vector<uint32_t> sameAs;  // per position: the outline position it is one with
    if (f.edge.clipped) {
        sameAs = weldOutlinePositions(f, hole, faces);
        if (hole == faces) return {};
    }
    if (f.edge.outlineMayRise) {
        raiseOutline(f, sameAs, hole, faces);
        if (hole == faces) return {};
    }
    if (f.edge.clipped) {
        bridgeOutlineEdges(f, hole, faces);
        if (hole == faces) return {};
    }
    for (const auto& [edge, net] : hole) {
        for (uint32_t id : {uint32_t(edge >> 32), uint32_t(edge)}) {
            // an outline point that may rise stands for a face's point at another height
            if (f.edge.outlineMayRise && id < f.originals.positions && isOutlinePosition(f, id)) {
                continue;
            }
            if (id < f.originals.positions && !f.usedPosition[id]) {
                return misfit(describeMissing(f, id));
            }
        }
    }
    for (const auto& edge : hole) {
        if (!std::binary_search(faces.begin(), faces.end(), edge)) {
            return misfit("no edited face meets the edge from " +
                          placeOfId(f, uint32_t(edge.first >> 32)) + " to " +
                          placeOfId(f, uint32_t(edge.first)) +
                          ": the faces leave a hole there, or do not meet the terrain around the "
                          "cut");
        }
    }
    for (const auto& edge : faces) {
        if (!std::binary_search(hole.begin(), hole.end(), edge) && std::abs(edge.second) > 1) {
            return misfit("the edited faces overlap at the edge from " +
                          placeOfId(f, uint32_t(edge.first >> 32)) + " to " +
                          placeOfId(f, uint32_t(edge.first)) +
                          ": two of them lie on the same side of it, folded over each other");
        }
    }
    for (const auto& edge : faces) {
        if (!std::binary_search(hole.begin(), hole.end(), edge)) {
            return misfit("the edited faces leave an open edge from " +
                          placeOfId(f, uint32_t(edge.first >> 32)) + " to " +
                          placeOfId(f, uint32_t(edge.first)) +
                          ": a hole, an overlap or a face past the cut's edge");
        }
    }
    return {};
}

}  // namespace mc
