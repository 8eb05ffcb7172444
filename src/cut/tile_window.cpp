// Which primitives of a binary tile touch the window, decided on raw pool integers.
#include "cut/tile_window.h"

#include <algorithm>
#include <cmath>

#include "text/fixed9.h"
#include "text/numbers.h"

namespace mc {

namespace {

constexpr int32_t RAW_VALUES = 65536;
constexpr int LONGITUDE_PLANE = 0;
constexpr int LATITUDE_PLANE = 1;

// What the text form reads back: the value printed with nine decimals, then parsed.
double printedValue(dsf::PlaneScale s, uint16_t raw) {
    char text[FIXED9_MAX_TEXT];
    char* end = fixed9ToText(dsf::decodeValue(s, raw), text);
    return parseNumber(text, end);
}

template <typename Predicate>
int32_t firstTrue(Predicate holds) {  // holds goes false..true over 0..65535
    int32_t low = 0, high = RAW_VALUES;
    while (low < high) {
        int32_t middle = (low + high) / 2;
        if (holds(uint16_t(middle))) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// The printed value only grows (or only shrinks) with the raw integer, so the raw integers
// inside the edges form one range, found by the exact test at its ends.
RawRange rangeBetween(dsf::PlaneScale s, double lowEdge, double highEdge) {
    auto above = [&](uint16_t raw) { return lowEdge < printedValue(s, raw); };
    auto below = [&](uint16_t raw) { return printedValue(s, raw) < highEdge; };
    RawRange r;
    if (s.scale < 0) {
        r.low = firstTrue(below);
        r.high = firstTrue([&](uint16_t raw) { return !above(raw); }) - 1;
    } else {
        r.low = firstTrue(above);
        r.high = firstTrue([&](uint16_t raw) { return !below(raw); }) - 1;
    }
    return r;
}

// A vertex line with fewer values reads the missing ones as 0: one constant raw value 0.
RawRange rangeOfMissingPlane(double lowEdge, double highEdge) {
    RawRange r;
    if (lowEdge < 0.0 && 0.0 < highEdge) r = {0, 0};
    return r;
}

// Whether every value a point of the pool can have in this plane falls inside the range (a
// missing plane reads 0).
bool coversEveryValue(RawRange r, bool planePresent) {
    return planePresent ? r.low == 0 && r.high == RAW_VALUES - 1 : r.low <= 0 && 0 <= r.high;
}

// The values a plane of the pool can decode to, from raw 0 to 65535 (a missing plane reads 0).
void extentOf(const dsf::Tile& tile, uint32_t pool, int plane, double& low, double& high) {
    low = high = 0;
    if (tile.pools[pool].planeCount <= uint32_t(plane)) return;
    dsf::PlaneScale s = dsf::planeScale(tile, pool, uint32_t(plane));
    double first = dsf::decodeValue(s, 0), last = dsf::decodeValue(s, RAW_VALUES - 1);
    low = std::min(first, last), high = std::max(first, last);
}

// Worked out once a pool, out of line: the call per primitive and vertex below stays a load.
[[gnu::noinline]] const PoolWindow& learnPoolWindow(TileWindow& tw, uint32_t pool) {
    PoolWindow& w = tw.pools[pool];
    uint32_t planes = tw.tile.pools[pool].planeCount;
    const SelectionWindow& win = tw.window;
    w.longitude = planes > LONGITUDE_PLANE
                      ? rangeBetween(dsf::planeScale(tw.tile, pool, LONGITUDE_PLANE), win.longMin,
                                     win.longMax)
                      : rangeOfMissingPlane(win.longMin, win.longMax);
    w.latitude =
        planes > LATITUDE_PLANE
            ? rangeBetween(dsf::planeScale(tw.tile, pool, LATITUDE_PLANE), win.latMin, win.latMax)
            : rangeOfMissingPlane(win.latMin, win.latMax);
    w.possible = w.longitude.low <= w.longitude.high && w.latitude.low <= w.latitude.high;
    extentOf(tw.tile, pool, LONGITUDE_PLANE, w.west, w.east);
    extentOf(tw.tile, pool, LATITUDE_PLANE, w.south, w.north);
    // inside the window is not yet inside an area
    w.certain = !win.area && coversEveryValue(w.longitude, planes > LONGITUDE_PLANE) &&
                coversEveryValue(w.latitude, planes > LATITUDE_PLANE);
    w.known = true;
    return w;
}

inline const PoolWindow& poolWindow(TileWindow& tw, uint32_t pool) {
    const PoolWindow& w = tw.pools[pool];
    return w.known ? w : learnPoolWindow(tw, pool);
}

uint16_t rawOrZero(dsf::PointValues& values, const dsf::Pool& pool, int plane, uint32_t index) {
    return pool.planeCount > uint32_t(plane) ? dsf::rawValue(values, pool, plane, index) : 0;
}

bool isInside(RawRange r, uint16_t raw) {
    return r.low <= raw && raw <= r.high;
}

// clip=1: whether the box of the primitive's vertices reaches into the window. The decoded
// values stand for the printed ones, the box grown by more than printing's rounding: a box too
// large only keeps a block the assembly then finds nothing in.
bool boxMeetsTileWindow(TileWindow& tw, dsf::PointValues& values, const dsf::Primitive& primitive) {
    constexpr double ROUNDING = 1e-8;
    double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
    // first the pools' extents, which hold the box: most primitives end here, no value decoded
    for (const dsf::VertexRef& v : primitive.vertices) {
        const PoolWindow& w = poolWindow(tw, v.pool);
        west = std::min(west, w.west), east = std::max(east, w.east);
        south = std::min(south, w.south), north = std::max(north, w.north);
    }
    if (!boxMeetsWindow(tw.window, west - ROUNDING, east + ROUNDING, south - ROUNDING,
                        north + ROUNDING)) {
        return false;
    }
    west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
    for (const dsf::VertexRef& v : primitive.vertices) {
        const dsf::Pool& pool = tw.tile.pools[v.pool];
        double lon = pool.planeCount > LONGITUDE_PLANE
                         ? dsf::decodeValue(dsf::planeScale(tw.tile, v.pool, LONGITUDE_PLANE),
                                            dsf::rawValue(values, pool, LONGITUDE_PLANE, v.index))
                         : 0.0;
        double lat = pool.planeCount > LATITUDE_PLANE
                         ? dsf::decodeValue(dsf::planeScale(tw.tile, v.pool, LATITUDE_PLANE),
                                            dsf::rawValue(values, pool, LATITUDE_PLANE, v.index))
                         : 0.0;
        west = std::min(west, lon), east = std::max(east, lon);
        south = std::min(south, lat), north = std::max(north, lat);
    }
    return boxMeetsWindow(tw.window, west - ROUNDING, east + ROUNDING, south - ROUNDING,
                          north + ROUNDING);
}

// The area's test on the values as the text form prints them (a missing plane reads 0).
bool isInsideTileArea(const TileWindow& tw, uint32_t pool, uint16_t lonRaw, uint16_t latRaw) {
    const CutArea* area = tw.window.area;
    if (!area) return true;
    uint32_t planes = tw.tile.pools[pool].planeCount;
    double lon = planes > LONGITUDE_PLANE
                     ? printedValue(dsf::planeScale(tw.tile, pool, LONGITUDE_PLANE), lonRaw)
                     : 0.0;
    double lat = planes > LATITUDE_PLANE
                     ? printedValue(dsf::planeScale(tw.tile, pool, LATITUDE_PLANE), latRaw)
                     : 0.0;
    return isInsideArea(*area, lon, lat);
}

}  // namespace

bool touchesWindow(TileWindow& tileWindow, dsf::PointValues& values,
                   const dsf::Primitive& primitive) {
    if (tileWindow.pools.size() != tileWindow.tile.pools.size())
        tileWindow.pools.resize(tileWindow.tile.pools.size());
    // most primitives lie in one pool whose scale alone keeps it out of the window, or in it
    if (primitive.onePool >= 0) {
        const PoolWindow& w = poolWindow(tileWindow, uint32_t(primitive.onePool));
        if (!w.possible) return false;
        if (w.certain && !primitive.vertices.empty()) return true;
    }
    for (const dsf::VertexRef& v : primitive.vertices) {
        const PoolWindow& w = poolWindow(tileWindow, v.pool);
        if (!w.possible) continue;
        if (w.certain) return true;
        const dsf::Pool& pool = tileWindow.tile.pools[v.pool];
        uint16_t lon = rawOrZero(values, pool, LONGITUDE_PLANE, v.index);
        uint16_t lat = rawOrZero(values, pool, LATITUDE_PLANE, v.index);
        if (isInside(w.longitude, lon) && isInside(w.latitude, lat) &&
            isInsideTileArea(tileWindow, v.pool, lon, lat)) {
            return true;
        }
    }
    return tileWindow.window.clip && boxMeetsTileWindow(tileWindow, values, primitive);
}

}  // namespace mc
