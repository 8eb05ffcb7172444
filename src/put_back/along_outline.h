// A cut made with clip=1 put back: the tile's triangles that the outline crosses are split along
// it, the pieces outside stay in the tile, those inside give way to the edited faces; a triangle
// whose pieces all come back as they were stays whole.
#pragma once

#include <cstdint>
#include <vector>

#include "cut/cut.h"
#include "cut/outline_pieces.h"
#include "put_back/fit.h"

namespace mc {

/// Clips a cut assembled with its trace as the carve clipped it (the origin becomes the clipped
/// cut's), while the cut keeps the tile's triangles; the outline's new vertices go after the
/// tile's in its vertex table. Pieces thinner than `thinnest` are dropped.
Status clipForPutBack(Cut& cut, OutlinePieces& outline, double thinnest = SAME_PLACE_METRES);

/// A fit of the pieces turned into a fit of the cut's triangles: a triangle stays when every
/// piece of it came back as it was; one that changed leaves its primitive whole, and what the
/// outline leaves of it outside goes in again as new triangles (new points on the outline), with
/// its unchanged pieces. Every corner on the outline becomes a new point with its line's values.
Status foldPiecesIntoTriangles(Cut& cut, const OutlinePieces& outline, FittedCut& fitted);

/// Fails (editMisfits), naming the first such point, when the edited faces' edge runs through
/// points the clipped cut does not have: the window, the area or clip differ from the carve's.
Status checkSameOutline(const Cut& cut, const FittedCut& fitted, const EditedCut& edited);

}  // namespace mc
