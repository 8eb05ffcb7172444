// What a flattening changed, as its picture draws it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "area/area.h"

namespace mc {

/// What a flattening changed: its ground's points (longitude, latitude), the new height less the
/// ground's at each, its triangles (three points each), the airport and its band, a title.
struct ChangeMap {
    std::vector<AreaPoint> places;
    std::vector<double> change;
    std::vector<uint32_t> triangles;
    const CutArea* airport = nullptr;
    const CutArea* band = nullptr;
    std::string title;
};

}  // namespace mc
