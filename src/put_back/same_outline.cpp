// The refusal of a clipped cut whose edge leaves the outline the ini gives: the first open
// corner of the edited faces that lies off it, named with how far.
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "put_back/along_outline.h"
#include "put_back/fit.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

// The edges that one changed triangle alone has, by the places of their ends.
using Place = std::pair<double, double>;

std::vector<std::pair<Place, FitCorner>> openCorners(const Cut& cut, const FittedCut& fitted) {
    std::map<std::pair<Place, Place>, int> edges;
    std::map<Place, FitCorner> cornerAt;
    for (const FittedTriangle& t : fitted.triangles) {
        if (!t.changed) continue;
        for (int k = 0; k < 3; ++k) {
            Metres a = cornerMetres(cut, fitted, t.corners[k]);
            Metres b = cornerMetres(cut, fitted, t.corners[(k + 1) % 3]);
            Place p{a.x, a.z}, q{b.x, b.z};
            cornerAt.try_emplace(p, t.corners[k]);
            ++edges[std::minmax(p, q)];
        }
    }
    std::vector<std::pair<Place, FitCorner>> open;
    for (const auto& [edge, count] : edges) {
        if (count != 1) continue;
        for (const Place& end : {edge.first, edge.second}) open.push_back({end, cornerAt.at(end)});
    }
    return open;
}

}  // namespace

Status checkSameOutline(const Cut& cut, const FittedCut& fitted, const EditedCut& edited) {
    for (const auto& [place, corner] : openCorners(cut, fitted)) {
        if (corner.original) continue;
        const NewPointPlace& point = fitted.points[corner.index];
        if (point.vertex == NO_VERTEX || point.onOriginal != NO_ORIGINAL) continue;
        double lon, lat;
        const EditedVertex& v = edited.vertices[point.vertex];
        degreesOf(cut, {v.x, v.y, v.z}, lon, lat);
        double off = metresToOutline(cut.clipRegion, lon, lat);
        if (off <= SAME_VERTEX_METRES) continue;
        return failedWith(Failure::editMisfits,
                          "the edited faces' edge runs through " + placeText(lon, lat) + ", " +
                              doubleToText(std::round(off * 100) / 100) +
                              " m off the outline this cut is clipped along: an outline point was "
                              "moved, or the window, area_file, area or clip differ from the "
                              "carve's (check them)");
    }
    return {};
}

}  // namespace mc
