// The cut's terrain definitions as materials: the names the Wavefront file gives them, which both
// directions use, and how each one's texture lies on the faces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cut/cut.h"
#include "scenery/terrain_library.h"

namespace mc {

/// One material per terrain definition a stored triangle uses, in order of first use.
struct Material {
    uint32_t definition;
    std::string name;  // the .ter file's base name, the definition's number added when shared
    TerrainMaterial look;
};

/// The cut's materials, their looks resolved through the library.
std::vector<Material> materialsOf(const Cut& cut, TerrainLibrary& library);
/// The material of a definition the cut uses.
const Material& materialOf(const std::vector<Material>& materials, uint32_t definition);

/// Where a patch's texture coordinates come from, if anywhere: the vertices' own sixth and
/// seventh values (orthophotos), or a projection of the ground.
enum class Mapping { none, vertexValues, projected };
Mapping mappingOf(const Material& material, const BlockPatch& patch);

/// Where run `run`'s indices and stored vertices end: where the next run's start.
inline size_t runIndexEnd(const MeshBuffers& mesh, size_t run) {
    return run + 1 < mesh.runs.size() ? mesh.runs[run + 1].firstIndex : mesh.indices.count;
}
inline size_t runVertexEnd(const MeshBuffers& mesh, size_t run) {
    return run + 1 < mesh.runs.size() ? mesh.runs[run + 1].firstVertex : mesh.vertices.count;
}
inline bool runHasTriangles(const MeshBuffers& mesh, size_t run) {
    return runIndexEnd(mesh, run) > mesh.runs[run].firstIndex;
}

}  // namespace mc
