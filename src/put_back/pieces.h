// What is left of a primitive once the put-back takes triangles out of it, as primitives a
// command can hold: at most 255 vertices, every triangle facing as it did.
#pragma once

#include <cstdint>
#include <vector>

namespace mc {

constexpr int32_t LIST_PRIMITIVE = 0;
constexpr int32_t STRIP_PRIMITIVE = 1;
constexpr int32_t FAN_PRIMITIVE = 2;
/// A primitive command holds at most this many vertices (its count is one byte).
constexpr uint32_t MOST_COMMAND_VERTICES = 255;

/// A primitive of the output: its type and its vertices, as the numbers of the original
/// primitive's vertex lines.
struct Piece {
    int32_t type;
    std::vector<uint32_t> lines;
};

/// The pieces that hold the triangles of a primitive of `vertexCount` vertices not marked in
/// `taken` (per triangle), in the primitive's own order. Strips stay strips from an even triangle
/// on (a run starting at an odd one gives its first triangle to a list, so every triangle keeps
/// its facing); fans stay fans; each piece fits one command.
void remainingPieces(int32_t type, uint32_t vertexCount, const std::vector<uint8_t>& taken,
                     std::vector<Piece>& pieces);

/// New triangles (three corner numbers each, one number a vertex) as primitives: strips where
/// they chain across common edges, as tiles are written, lists for the rest; each piece fits one
/// command, and every triangle keeps its winding. The pieces' lines are corner numbers.
void chainIntoStrips(const std::vector<uint32_t>& corners, std::vector<Piece>& pieces);

/// The triangles of a primitive, by their vertex lines, in order.
uint32_t triangleCount(int32_t type, uint32_t vertexCount);

}  // namespace mc
