// The edited faces fitted into the hole the cut leaves: each corner an original point of the
// tile or a new one, n-gons cut into triangles, and the join checked against the cut's outline.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cut/cut.h"
#include "cut/frame.h"
#include "cut/materials.h"
#include "put_back/edited_file.h"

namespace mc {

/// Corners this close to an original vertex, across and up, are that vertex.
constexpr double SAME_VERTEX_METRES = 0.01;

/// A corner of a fitted triangle: an original point (a stored vertex of the cut, of the face's
/// definition), or a new point.
struct FitCorner {
    uint32_t original : 1;
    uint32_t index : 31;  // stored vertex number, or into FittedCut::points
};

/// A point the tile does not have yet, for the patch of its definition.
struct NewPointPlace {
    Metres at;  // where the file puts it, or the original position it sits on
    uint32_t definition;
    int32_t texture;       // the texture coordinate its first corner names, or -1
    uint32_t vertex;       // the edited vertex it stands for, or NO_VERTEX
    uint32_t onOriginal;   // the stored vertex whose position it sits on, or NO_ORIGINAL
    bool onOutline;        // a point the clip made: every value as its line has it
    bool precise = false;  // kept in pools of millimetre steps (a flattening's points)
};
constexpr uint32_t NO_VERTEX = UINT32_MAX, NO_ORIGINAL = UINT32_MAX;

struct FittedTriangle {
    FitCorner corners[3];  // a triangle the cut has keeps its own points, wound as the tile has it
    uint32_t definition;
    bool changed;      // not one of the cut's own triangles, as it was
    uint32_t removed;  // the removed triangle it gives back as it was, when not changed
};

/// A base triangle of the cut: the triangle the put-back takes out of the tile.
struct RemovedTriangle {
    uint32_t corners[3];  // stored vertices, wound to face up
    uint32_t definition;
    bool turned;  // the tile winds it the other way (it faces down there)
};

struct FittedCut {
    std::vector<RemovedTriangle> removed;  // every base triangle of the cut
    std::vector<uint8_t> backAsItWas;      // per removed triangle: a face gives it back unchanged
    std::vector<FittedTriangle> triangles;
    std::vector<NewPointPlace> points;
    // edited vertices the faces put on the clipped cut's edge between its points, once each
    // edge: the pieces outside the outline take them too
    std::vector<uint32_t> onOutlineEdges;
    // (stored vertex, edited vertex): an outline point the faces gave a new height, which the
    // pieces outside take
    std::vector<std::pair<uint32_t, uint32_t>> raisedOutline;
};

/// How the faces may meet a cut's edge.
struct EdgeFit {
    bool clipped = false;  // the edge runs along an outline, through the tile's triangles: the
                           // faces may add points on it
    uint32_t firstOutlineVertex = UINT32_MAX;  // the clip's own vertices, from this one on
    bool outlineMayRise = false;  // those may take new heights (a flattening without a band)
};

/// Reads the edited cut (its vertices and texture coordinates into `edited`) and fits its faces
/// into the cut as they come: into the triangles of `triangles` (the cut's own, or its clipped
/// pieces, over the cut's vertex table; `edge` says how the faces may meet its edge). Fails
/// (editMisfits) naming the first place where the faces do not meet the terrain around the cut
/// vertex for vertex, leave a hole, overlap or face down; (readEdited) when the file is bad or a
/// face's material names no definition of the cut.
Status fitEditedCut(const Cut& cut, const MeshBuffers& triangles, const EdgeFit& edge,
                    const std::vector<Material>& materials, const EditedSource& source,
                    EditedCut& edited, FittedCut& fitted);

/// Every base triangle of a mesh (over the cut's vertex table), wound to face up.
void collectRemoved(const Cut& cut, const MeshBuffers& triangles,
                    std::vector<RemovedTriangle>& removed);

/// The position of a point in the cut's metres: the file's, or the original it sits on.
Metres cornerMetres(const Cut& cut, const FittedCut& fitted, const FitCorner& corner);

/// Longitude and latitude of a position in the cut's metres: the exact inverse of the projection
/// the carve made (latitude from Z, longitude from X with the cosine of that latitude).
void degreesOf(const Cut& cut, const Metres& at, double& lon, double& lat);

}  // namespace mc
