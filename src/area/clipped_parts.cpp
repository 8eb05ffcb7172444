// What the clip's callers do to a part before and after cutting it into triangles.
#include "area/clipped_parts.h"

namespace mc {

void moveOntoCorners(ClippedPart& part, const AreaPoint (&corners)[3], double near) {
    std::vector<AreaPoint>& places = part.places;
    size_t kept = 0, ringStart = 0;
    std::vector<uint32_t>& starts = part.holeStarts;
    size_t startsKept = 0;
    for (size_t ring = 0; ring <= starts.size(); ++ring) {
        const size_t first = ring == 0 ? 0 : starts[ring - 1];
        const size_t end = ring < starts.size() ? starts[ring] : places.size();
        ringStart = kept;
        for (size_t k = first; k < end; ++k) {
            AreaPoint at = places[k];
            for (const AreaPoint& corner : corners) {
                if (metresBetween(at, corner) <= near) at = corner;
            }
            const bool repeated = kept > ringStart && places[kept - 1].lon == at.lon &&
                                  places[kept - 1].lat == at.lat;
            if (!repeated) places[kept++] = at;
        }
        while (kept - ringStart > 1 && places[kept - 1].lon == places[ringStart].lon &&
               places[kept - 1].lat == places[ringStart].lat) {
            --kept;
        }
        if (kept - ringStart < 3) {
            kept = ringStart;  // nothing of it is left but a line
            if (ring == 0) break;
        } else if (ring > 0) {
            starts[startsKept++] = uint32_t(ringStart);
        }
    }
    places.resize(kept);
    starts.resize(kept == 0 ? 0 : startsKept);
}

void flipThinPieces(ClippedPart& part, double thinnest) {
    part.metres.clear();
    if (part.places.empty()) return;
    const AreaPoint& origin = part.places[0];
    const double east = cosineOfLatitude<double>(origin.lat) * METRES_PER_DEGREE;
    for (const AreaPoint& p : part.places) {
        part.metres.push_back(
            {(p.lon - origin.lon) * east, (p.lat - origin.lat) * METRES_PER_DEGREE});
    }
    flipThinTriangles(part.metres, part.triangles, thinnest);
}

}  // namespace mc
