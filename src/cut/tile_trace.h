// Where a cut came from in its tile: which primitive each kept block is, which line and triangle
// of it each stored vertex and triangle was, and the tile's bytes. The selection and the assembly
// fill it when their caller hands them one; the put-back writes the tile again from it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cut/chunked_array.h"
#include "dsf/commands.h"
#include "dsf/tile.h"
#include "platform/platform.h"

namespace mc {

/// Where the tile's bytes are, and whether they are a binary tile.
struct TileSource {
    bool binary = false;
    bool packed = false;                      // unpacked from a 7z archive: not the file's bytes
    std::shared_ptr<const ByteBuffer> bytes;  // a binary tile's
    std::shared_ptr<dsf::Tile> tile;          // and its atoms and pools, as the pass found them
    uint64_t lastPatchEnd = UINT64_MAX;       // text: the offset just after the last END_PATCH
};

/// Where a kept block's stored vertices and indices start.
struct BlockStart {
    size_t firstVertex;
    size_t firstIndex;
};

/// Where every stored vertex and triangle came from in its block.
struct MeshTrace {
    std::vector<BlockStart> blocks;          // per kept block, then one past the last
    ChunkedArray<uint32_t> vertexLines;      // per stored vertex: its vertex line in its block
    ChunkedArray<uint32_t> triangleNumbers;  // per stored triangle: its number in its primitive
};

struct TileTrace {
    TileSource source;
    std::vector<uint64_t> keptSources;               // per kept block: its primitive's offset
    std::vector<dsf::PrimitivePlace> keptPlaces;     // binary: per kept block, its command
    std::vector<dsf::PrimitivePlace> overlayPlaces;  // binary: every overlay primitive's command
    MeshTrace mesh;
};

/// The stored vertices of kept block `block`: from `first` to before `end`.
struct VertexSpan {
    size_t first, end;
};
VertexSpan blockVertices(const TileTrace& trace, size_t block);

/// The triangles of kept block `block` that the cut holds, marked by their number in the block's
/// primitive; with `only`, those of them it marks (per stored triangle of the cut).
void takenTriangles(const TileTrace& trace, size_t block, std::vector<uint8_t>& taken,
                    const std::vector<uint8_t>* only = nullptr);

}  // namespace mc
