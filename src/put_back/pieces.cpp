// What is left of a primitive once triangles are taken out of it, as primitives again.
#include "put_back/pieces.h"

#include <algorithm>
#include <tuple>

namespace mc {

namespace {

constexpr uint32_t MOST_LIST_TRIANGLES = MOST_COMMAND_VERTICES / 3;
// Strip pieces hold an even number of triangles, so that the next starts at an even one.
constexpr uint32_t MOST_STRIP_TRIANGLES = MOST_COMMAND_VERTICES - 3;

void addListTriangle(std::vector<Piece>& pieces, Piece& list, uint32_t a, uint32_t b, uint32_t c) {
    list.lines.insert(list.lines.end(), {a, b, c});
    if (list.lines.size() == 3 * MOST_LIST_TRIANGLES) {
        pieces.push_back(list);
        list.lines.clear();
    }
}

// Strip triangles first..last (first even): strips of at most 252 triangles each.
void addStripRun(std::vector<Piece>& pieces, uint32_t first, uint32_t last) {
    for (uint32_t from = first; from <= last; from += MOST_STRIP_TRIANGLES) {
        uint32_t to = std::min(last, from + MOST_STRIP_TRIANGLES - 1);
        Piece strip{STRIP_PRIMITIVE, {}};
        for (uint32_t line = from; line <= to + 2; ++line) strip.lines.push_back(line);
        pieces.push_back(std::move(strip));
    }
}

// Fan triangles first..last around line 0: fans of at most 253 triangles, each going on from the
// last rim vertex of the one before.
void addFanRun(std::vector<Piece>& pieces, uint32_t first, uint32_t last) {
    for (uint32_t from = first; from <= last; from += MOST_COMMAND_VERTICES - 2) {
        uint32_t to = std::min(last, from + MOST_COMMAND_VERTICES - 3);
        Piece fan{FAN_PRIMITIVE, {0}};
        for (uint32_t line = from + 1; line <= to + 2; ++line) fan.lines.push_back(line);
        pieces.push_back(std::move(fan));
    }
}

}  // namespace

uint32_t triangleCount(int32_t type, uint32_t vertexCount) {
    if (type == LIST_PRIMITIVE) return vertexCount / 3;
    return vertexCount >= 3 ? vertexCount - 2 : 0;
}

void remainingPieces(int32_t type, uint32_t vertexCount, const std::vector<uint8_t>& taken,
                     std::vector<Piece>& pieces) {
    pieces.clear();
    Piece list{LIST_PRIMITIVE, {}};
    uint32_t triangles = triangleCount(type, vertexCount);
    for (uint32_t t = 0; t < triangles;) {
        if (t < taken.size() && taken[t]) {
            ++t;
            continue;
        }
        uint32_t end = t;  // the run of kept triangles t..end-1
        while (end < triangles && !(end < taken.size() && taken[end])) ++end;
        if (type == LIST_PRIMITIVE) {
            for (uint32_t k = t; k < end; ++k)
                addListTriangle(pieces, list, 3 * k, 3 * k + 1, 3 * k + 2);
        } else if (type == FAN_PRIMITIVE) {
            addFanRun(pieces, t, end - 1);
        } else {
            uint32_t first = t;
            if (first % 2 == 1) addListTriangle(pieces, list, first + 1, first, first + 2), ++first;
            if (first + 1 == end)
                addListTriangle(pieces, list, first, first + 1, first + 2), ++first;
            if (first < end) addStripRun(pieces, first, end - 1);
        }
        t = end;
    }
    if (!list.lines.empty()) pieces.push_back(std::move(list));
}

namespace {

// Triangles by their directed edges, to find the one across an edge that no strip took yet.
struct Chaining {
    const std::vector<uint32_t>& corners;
    std::vector<std::pair<uint64_t, uint32_t>> edges = {};  // (from << 32 | to, triangle), sorted
    std::vector<uint8_t> used = {};
};

uint64_t edgeKey(uint32_t from, uint32_t to) {
    return uint64_t(from) << 32 | to;
}

// The untaken triangle with this directed edge, and its corner after `to`; false when none.
bool across(const Chaining& c, uint32_t from, uint32_t to, uint32_t& triangle, uint32_t& next) {
    auto at = std::lower_bound(c.edges.begin(), c.edges.end(), std::pair(edgeKey(from, to), 0u));
    for (; at != c.edges.end() && at->first == edgeKey(from, to); ++at) {
        if (c.used[at->second]) continue;
        triangle = at->second;
        const uint32_t* t = &c.corners[3 * size_t(triangle)];
        for (int k = 0; k < 3; ++k) {
            if (t[k] == to) next = t[(k + 1) % 3];
        }
        return true;
    }
    return false;
}

// How many untaken triangles share an edge with this one: strips start where there are few.
uint32_t untakenNeighbours(const Chaining& c, uint32_t triangle) {
    const uint32_t* t = &c.corners[3 * size_t(triangle)];
    uint32_t count = 0, found, next;
    for (int k = 0; k < 3; ++k) count += across(c, t[(k + 1) % 3], t[k], found, next);
    return count;
}

// A strip from these three corners on, each next triangle across the last edge, wound as the
// strip winds it: even ones on (s[i], s[i+1], s[i+2]), odd ones on (s[i+1], s[i], s[i+2]).
void walkStrip(Chaining& c, std::vector<uint32_t>& strip, std::vector<uint32_t>& taken) {
    uint32_t found, next;
    while (strip.size() < MOST_COMMAND_VERTICES) {
        size_t n = strip.size();
        bool even = (n - 2) % 2 == 0;
        uint32_t from = even ? strip[n - 2] : strip[n - 1], to = even ? strip[n - 1] : strip[n - 2];
        if (!across(c, from, to, found, next)) break;
        c.used[found] = 1;
        taken.push_back(found);
        strip.push_back(next);
    }
}

// The longest strip from this triangle, of the three it may start with.
std::vector<uint32_t> stripFrom(Chaining& c, uint32_t triangle) {
    const uint32_t* t = &c.corners[3 * size_t(triangle)];
    c.used[triangle] = 1;
    std::vector<uint32_t> best, strip, taken;
    for (int k = 0; k < 3; ++k) {
        strip = {t[k], t[(k + 1) % 3], t[(k + 2) % 3]};
        taken.clear();
        walkStrip(c, strip, taken);
        for (uint32_t other : taken) c.used[other] = 0;
        if (strip.size() > best.size()) best = strip;
    }
    strip = {best[0], best[1], best[2]};
    walkStrip(c, strip, taken);
    return strip;
}

}  // namespace

void chainIntoStrips(const std::vector<uint32_t>& corners, std::vector<Piece>& pieces) {
    pieces.clear();
    Chaining c{corners};
    const uint32_t triangles = uint32_t(corners.size() / 3);
    for (uint32_t t = 0; t < triangles; ++t) {
        for (int k = 0; k < 3; ++k) {
            c.edges.push_back({edgeKey(corners[3 * t + k], corners[3 * t + (k + 1) % 3]), t});
        }
    }
    std::sort(c.edges.begin(), c.edges.end());
    c.used.assign(triangles, 0);
    std::vector<std::pair<uint32_t, uint32_t>> order;  // (neighbours, triangle)
    for (uint32_t t = 0; t < triangles; ++t) order.push_back({untakenNeighbours(c, t), t});
    std::sort(order.begin(), order.end());
    Piece list{LIST_PRIMITIVE, {}};
    for (const auto& [neighbours, t] : order) {
        if (c.used[t]) continue;
        std::vector<uint32_t> strip = stripFrom(c, t);
        if (strip.size() == 3) {
            addListTriangle(pieces, list, strip[0], strip[1], strip[2]);
        } else {
            pieces.push_back({STRIP_PRIMITIVE, std::move(strip)});
        }
    }
    if (!list.lines.empty()) pieces.push_back(std::move(list));
}

}  // namespace mc
