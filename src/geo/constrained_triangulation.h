// A triangulation of a region seen from above that keeps some of its edges (its border, the
// borders between terrains) and is Delaunay across the others; points go in one at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "geo/triangulation.h"

namespace mc {

constexpr uint32_t NO_TRIANGLE = UINT32_MAX;

struct ConstrainedTriangulation {
    std::vector<PlanePoint> points;  // metres, x east, y north
    // three a triangle, counter-clockwise; edge j runs from corner j to corner j + 1
    std::vector<uint32_t> corners;
    std::vector<uint32_t> across;  // per edge, the triangle on its other side, or NO_TRIANGLE
    std::vector<uint8_t> kept;     // per edge, whether it is kept (a border: never flipped)
    std::vector<uint32_t> tags;    // per triangle, the caller's (a terrain), copied to its parts
    // triangles by cell, to find the one under a point (stale entries are checked away)
    double west = 0, south = 0, cell = 1;
    uint32_t columns = 1, rows = 1;
    std::vector<std::vector<uint32_t>> byCell;
    std::vector<std::array<uint32_t, 3>> flips;  // edges to look at: triangle, from, to
    std::vector<std::array<uint32_t, 3>> pending;
    std::vector<uint32_t> fan;
};

/// The triangulation of the given triangles (counter-clockwise, three points each, a tag a
/// triangle); an edge only one triangle has is kept, and so is one `keep` says of its two
/// triangles. `cell` sizes the index that finds a point's triangle.
ConstrainedTriangulation constrainedTriangulationOf(
    std::vector<PlanePoint> points, const std::vector<uint32_t>& triangles,
    const std::vector<uint32_t>& tags, double cell,
    const std::function<bool(uint32_t first, uint32_t second)>& keep);

/// Every edge that is not kept flipped until no triangle's circle holds its neighbour's far
/// corner: the constrained Delaunay triangulation of the same points and kept edges.
void makeDelaunay(ConstrainedTriangulation& t);

/// The triangle a point lies in or on (within a ten-thousandth of a millimetre), NO_TRIANGLE
/// outside the region.
uint32_t triangleUnder(const ConstrainedTriangulation& t, const PlanePoint& p);

/// A new point inside triangle `triangle`, the triangles around it made Delaunay again; its
/// number.
uint32_t insertInTriangle(ConstrainedTriangulation& t, uint32_t triangle, const PlanePoint& p);

/// A new point on edge `edge` of triangle `triangle` (a kept edge stays kept in both halves),
/// the triangles around it made Delaunay again; its number.
uint32_t insertOnEdge(ConstrainedTriangulation& t, uint32_t triangle, int edge,
                      const PlanePoint& p);

/// A point (a corner of `triangle`) taken out, its hole filled and made Delaunay again: its
/// edges flipped away until three are left, those three triangles made one. False, nothing
/// changed, when a kept edge or the region's border meets it (or no edge would flip).
bool removePoint(ConstrainedTriangulation& t, uint32_t triangle, uint32_t point);

/// Whether a triangle was merged away by removePoint (its slot stays, empty).
inline bool isGone(const ConstrainedTriangulation& t, uint32_t triangle) {
    return t.corners[3 * triangle] == t.corners[3 * triangle + 1];
}

}  // namespace mc
