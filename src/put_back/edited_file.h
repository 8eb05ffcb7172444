// The edited cut as the modeller writes it: a Wavefront OBJ file, read face by face.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cut/status.h"

namespace mc {

struct EditedVertex {
    double x, y, z;  // metres: east, up, south, from the cut's origin
};
struct EditedCorner {
    uint32_t vertex;  // from 0
    int32_t texture;  // from 0; -1 when the face gives none
};
struct EditedFace {
    uint32_t firstCorner;
    uint32_t cornerCount;
    uint32_t material;  // into EditedCut::materials
    uint32_t line;      // where the face is in the file
};

/// The faces of the file outside its overlay objects (those whose name ends in "_overlay"), with
/// every vertex and texture coordinate of the file.
struct EditedCut {
    std::vector<EditedVertex> vertices;
    std::vector<double> textures;  // u and v, two per texture coordinate
    std::vector<EditedCorner> corners;
    std::vector<EditedFace> faces;
    std::vector<std::string> materials;  // as named by usemtl, Blender's ".001" suffixes taken off
    std::vector<uint32_t> vertexLines;   // where each vertex is in the file
};

/// Reads the file. Fails (readEdited, with the line and what is wrong) when it cannot be read,
/// is not a Wavefront file, holds a value that is not a finite number, a face that names a
/// vertex or texture coordinate the file lacks, a face of fewer than three corners or without a
/// material, or no face at all.
Status readEditedCut(const std::string& path, EditedCut& edited);

/// A material name without the ".001" Blender adds to names it already has.
std::string withoutBlenderSuffix(std::string name);

}  // namespace mc
