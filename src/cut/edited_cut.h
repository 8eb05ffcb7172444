// An edited cut as the put-back fits it: the vertices, texture coordinates and materials of a
// Wavefront file, its faces handed over one by one; or the same made whole in memory (the
// flattening's ground), its values rounded as the file would have held them.
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

/// An edited cut made in memory whole, as its Wavefront file would give it: positions rounded
/// to six decimals, texture coordinates to nine (so that every later decision on them is the
/// file's), faces with the line each would have stood on.
struct EditedMesh {
    EditedCut cut;
    std::vector<EditedCorner> corners;
    struct Face {
        uint32_t firstCorner, cornerCount, material, line;
    };
    std::vector<Face> faces;
};

}  // namespace mc
