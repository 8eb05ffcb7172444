// The cut's terrain definitions as the Wavefront file's materials, with their looks resolved.
#include "cut/materials.h"

#include "platform/file_names.h"
#include "text/whole_numbers.h"

namespace mc {

std::vector<Material> materialsOf(const Cut& cut, TerrainLibrary& library) {
    const MeshBuffers& mesh = cut.mesh;
    const TileTerrain& terrain = cut.terrain;
    std::vector<Material> materials;
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        uint32_t definition = mesh.runs[r].patch.definition;
        if (!runHasTriangles(mesh, r)) continue;
        bool known = false;
        for (const Material& m : materials) known = known || m.definition == definition;
        if (known) continue;
        Material m{definition, {}, {}};
        if (definition < terrain.definitions.size()) {
            const std::string& path = terrain.definitions[definition];
            m.name = fileStemOf(path);
            m.look = lookUpTerrain(library, path);
        } else {
            m.name = std::string("definition_").append(intToText(definition));
            m.look.problem = "the tile names no terrain definition " + intToText(definition);
        }
        materials.push_back(std::move(m));
    }
    // names two definitions share are told apart by the definitions' indices
    std::vector<bool> shared(materials.size(), false);
    for (size_t a = 0; a < materials.size(); ++a) {
        for (size_t b = a + 1; b < materials.size(); ++b) {
            if (materials[a].name == materials[b].name) shared[a] = shared[b] = true;
        }
    }
    for (size_t k = 0; k < materials.size(); ++k) {
        if (shared[k]) materials[k].name.append(1, '_').append(intToText(materials[k].definition));
    }
    return materials;
}

const Material& materialOf(const std::vector<Material>& materials, uint32_t definition) {
    for (const Material& m : materials) {
        if (m.definition == definition) return m;
    }
    return materials.front();  // every run with triangles has its material
}

Mapping mappingOf(const Material& material, const BlockPatch& patch) {
    if (material.look.look != TerrainLook::textured) return Mapping::none;
    if (material.look.nowrap && patch.depth >= 7) return Mapping::vertexValues;
    return material.look.projectedX > 0 ? Mapping::projected : Mapping::none;
}

}  // namespace mc
