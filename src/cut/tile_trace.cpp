// Queries on where a cut came from: a kept block's stored vertices and triangles.
#include "cut/tile_trace.h"

namespace mc {

VertexSpan blockVertices(const TileTrace& trace, size_t block) {
    return {trace.mesh.blocks[block].firstVertex, trace.mesh.blocks[block + 1].firstVertex};
}

void takenTriangles(const TileTrace& trace, size_t block, std::vector<uint8_t>& taken,
                    const std::vector<uint8_t>* only) {
    taken.clear();
    const MeshTrace& mesh = trace.mesh;
    for (size_t t = mesh.blocks[block].firstIndex / 3; t < mesh.blocks[block + 1].firstIndex / 3;
         ++t) {
        if (only && !(*only)[t]) continue;
        uint32_t number = mesh.triangleNumbers[t];
        if (number >= taken.size()) taken.resize(number + 1, 0);
        taken[number] = 1;
    }
}

}  // namespace mc
