// The state of a fit while the edited faces come in, shared by the fitting of faces and the
// check of the join once they are all in.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "geo/triangulation.h"
#include "put_back/fit.h"

namespace mc {

constexpr uint32_t NONE = UINT32_MAX;
constexpr uint32_t NOT_LOOKED_UP = NONE - 1;
// Positions in the file are single precision where a modeller wrote them: a face turned down by
// less than a few of their steps along its edges is rounding in a face that stands on edge.
constexpr double FILE_PRECISION = 0x1p-22;

// The cut's positions (its stored vertices welded), the base triangles' stored vertices at each,
// and the base positions by cell of a grid over their extent, to match corners against.
struct Originals {
    std::vector<uint32_t> welded;  // per stored vertex: its position
    uint32_t positions = 0;
    std::vector<uint32_t> storedStart;                  // per position, and one past the last
    std::vector<std::pair<uint32_t, uint32_t>> stored;  // (stored vertex, definition)
    double cell = 1, west = 0, north = 0;
    int64_t columns = 0, rows = 0;
    std::vector<uint32_t> cellStart;  // per cell, and one past the last
    std::vector<uint32_t> inCell;     // base positions, cell by cell
};

// Three positions in order, and the removed triangle standing on them.
using Triple = std::array<uint32_t, 4>;

struct Fitting {
    const Cut& cut;
    const std::vector<Material>& materials;
    const EditedCut& edited;
    FittedCut& fitted;
    EdgeFit edge = {};
    Originals originals = {};
    std::vector<Triple> own = {};        // the removed triangles by their positions, sorted
    std::vector<uint8_t> reused = {};    // per removed triangle: a face of the file is it
    std::vector<uint32_t> matched = {};  // per edited vertex: its original position, or NONE
    std::vector<uint8_t> usedPosition = {}, usedVertex = {};
    // the new points of each edited vertex, one per definition: the first, then each the next
    std::vector<uint32_t> firstPoint = {}, nextPoint = {};
    // per new point, its outline id: the position it sits on, or the number of positions plus
    // the first edited vertex at its place
    std::vector<uint32_t> pointIds = {};
    std::vector<PlanePoint> corners = {};  // of the face being fitted, seen from above
    std::vector<FitCorner> fitCorners = {};
    std::vector<uint32_t> cornerIds = {}, ears = {};
};

inline Status misfit(std::string what) {
    return failedWith(Failure::editMisfits, std::move(what));
}

bool isBase(const Originals& o, uint32_t position);
Metres positionMetres(const Cut& cut, const Originals& o, uint32_t position);
/// Where an outline id stands, as a place the user can find.
std::string placeOfId(const Fitting& f, uint32_t id);

/// New points at one exact position are one outline vertex, whichever line of the file wrote
/// them: each takes the first edited vertex there; a new point on an original position is that
/// position.
void weldNewPoints(Fitting& f);
/// The join: the open outline of the new faces equals the one the removed triangles leave, in
/// the tile's own winding; fails naming the first place where it does not.
Status compareOutlines(const Fitting& f);

}  // namespace mc
