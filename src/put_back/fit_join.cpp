// The join of a fit checked: the edited faces' open outline against the removed triangles', with
// the place of the first difference for the user.
#include <algorithm>
#include <charconv>
#include <cmath>

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

Status compareOutlines(const Fitting& f) {
    OpenEdges hole = holeOutline(f), faces = changedOutline(f);
    if (hole == faces) return {};
    for (const auto& [edge, net] : hole) {
        for (uint32_t id : {uint32_t(edge >> 32), uint32_t(edge)}) {
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
