// What is left of a primitive once triangles are taken out of it, as primitives again.
#include "put_back/pieces.h"

#include <algorithm>

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

}  // namespace mc
