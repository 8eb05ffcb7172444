// The pieces of a cut clipped along an outline, as both a put-back along the outline and a
// flattening take them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cut/cut.h"

namespace mc {

/// The clipped pieces a fit takes, over the cut's vertex table: the tile's vertices, then the
/// new ones on the outline.
struct OutlinePieces {
    MeshBuffers pieces;                    // runs and indices; the vertices are the cut's
    std::vector<uint32_t> triangleBefore;  // per piece: the cut's triangle it is part of
    size_t tileVertices = 0;               // vertices from this one on lie on the outline
};

}  // namespace mc
