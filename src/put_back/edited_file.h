// The edited cut as the modeller writes it: a Wavefront OBJ file, read face by face.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cut/edited_cut.h"
#include "text/status.h"

namespace mc {

/// Reads the file, handing each face over as it comes. Fails (readEdited, with the line and
/// what is wrong) when it cannot be read, is not a Wavefront file, holds a value that is not a
/// finite number, a face that names a vertex or texture coordinate not before it, a face of
/// fewer than three corners or without a material, or no face at all; and with what the taker
/// returns when it refuses a face.
Status readEditedCut(const std::string& path, EditedCut& edited, const FaceTaker& takeFace);

/// Hands an edited mesh made in memory over as readEditedCut hands a file's over (its vertices and
/// texture coordinates moved out of it, not copied): its vertices,
/// texture coordinates and materials (their Blender suffixes taken off) first, then its faces in
/// order. Fails as readEditedCut does when it has no face, or with what the taker returns.
Status takeEditedMesh(EditedMesh& mesh, EditedCut& edited, const FaceTaker& takeFace);

/// Where an edited cut comes from: its Wavefront file, or a mesh made in memory.
struct EditedSource {
    std::string path;
    EditedMesh* made = nullptr;
};
/// The edited cut from its source, by readEditedCut or takeEditedMesh.
inline Status readEdited(const EditedSource& source, EditedCut& edited, const FaceTaker& takeFace) {
    return source.made ? takeEditedMesh(*source.made, edited, takeFace)
                       : readEditedCut(source.path, edited, takeFace);
}

/// A material name without the ".001" Blender adds to names it already has.
std::string withoutBlenderSuffix(std::string name);

}  // namespace mc
