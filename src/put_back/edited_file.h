// The edited cut as the modeller writes it: a Wavefront OBJ file, read face by face.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "text/status.h"

namespace mc {

struct EditedVertex {
    double x, y, z;  // metres: east, up, south, from the cut's origin
};
struct EditedCorner {
    uint32_t vertex;  // from 0
    int32_t texture;  // from 0; -1 when the face gives none
};
struct EditedFace {
    const EditedCorner* corners;
    uint32_t cornerCount;
    uint32_t material;  // into EditedCut::materials
    uint32_t line;      // where the face is in the file
};

/// The file's vertices and texture coordinates, and the materials its faces name, as far as it
/// has been read.
struct EditedCut {
    std::vector<EditedVertex> vertices;
    std::vector<double> textures;        // u and v, two per texture coordinate
    std::vector<std::string> materials;  // as named by usemtl, Blender's ".001" suffixes taken off
};

/// What takes each face of the file outside its overlay objects (those whose name ends in
/// "_overlay"), as it is read: every vertex and texture coordinate it names came before it.
using FaceTaker = std::function<Status(const EditedFace& face)>;

/// Reads the file, handing each face over as it comes. Fails (readEdited, with the line and
/// what is wrong) when it cannot be read, is not a Wavefront file, holds a value that is not a
/// finite number, a face that names a vertex or texture coordinate not before it, a face of
/// fewer than three corners or without a material, or no face at all; and with what the taker
/// returns when it refuses a face.
Status readEditedCut(const std::string& path, EditedCut& edited, const FaceTaker& takeFace);

/// A material name without the ".001" Blender adds to names it already has.
std::string withoutBlenderSuffix(std::string name);

}  // namespace mc
