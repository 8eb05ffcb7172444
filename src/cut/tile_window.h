// Which primitives of a binary tile touch the window, decided on raw pool integers exactly as
// the text form decides on the printed values.
#pragma once

#include <cstdint>
#include <vector>

#include "cut/cut.h"
#include "dsf/commands.h"
#include "dsf/point_values.h"

namespace mc {

/// The raw integers whose printed value lies strictly between two edges, low..high inclusive
/// (empty when low > high).
struct RawRange {
    int32_t low = 1, high = 0;
};

struct PoolWindow {
    bool known = false;
    bool possible = false;  // some point of the pool may lie inside the window
    bool certain = false;   // every point of the pool lies inside it, whatever its values
    RawRange longitude, latitude;
    double west = 0, east = 0, south = 0, north = 0;  // every value its points can have
};

/// The window as the pools of one tile see it, pool by pool when first needed.
struct TileWindow {
    const SelectionWindow& window;
    const dsf::Tile& tile;
    std::vector<PoolWindow> pools = {};
};

/// Whether a vertex of the primitive lies strictly inside the window as its text form prints it;
/// the values it needs come through `values`.
bool touchesWindow(TileWindow& tileWindow, dsf::PointValues& values,
                   const dsf::Primitive& primitive);

}  // namespace mc
