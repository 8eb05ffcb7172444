// The flattened ground: its band meshed anew, new heights, and the edited cut the
// put-back takes.
#include "flatten/flatten.h"
#include "flatten/band_mesh.h"
#include "flatten/ground_mesh.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <unordered_map>

#include "area/near_outline.h"
#include "geo/triangulation.h"
#include "text/numbers.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

Status refused(std::string why) {
    return failedWith(Failure::flattenGround, std::move(why));
}

// The edges one triangle alone has: the band's outer edge, which the ground around meets.
std::unordered_map<uint64_t, int> edgeCounts(const Ground& g) {
    std::unordered_map<uint64_t, int> counts;
    for (size_t k = 0; k + 3 <= g.triangles.size(); k += 3) {
        for (int j = 0; j < 3; ++j)
            ++counts[edgeKey(g.triangles[k + j], g.triangles[k + (j + 1) % 3])];
    }
    return counts;
}

// The surface the ground inside the airport becomes.
Status surfaceOf(const Ground& g, const Heights& h, const CutArea& airport,
                 const FlattenTarget& target, FlatSurface& surface) {
    if (target.kind == FlattenTarget::Kind::height)
        return surface = {0, 0, target.height}, Status{};
    std::vector<std::array<GroundPoint, 3>> inside;
    for (size_t k = 0; k + 3 <= g.triangles.size(); k += 3) {
        const uint32_t* t = &g.triangles[k];
        if (isInsideAirport(g, h, airport, t)) {
            inside.push_back({g.points[t[0]], g.points[t[1]], g.points[t[2]]});
        }
    }
    bool fitted = target.kind == FlattenTarget::Kind::plane ? fitPlane(inside, surface)
                                                            : meanLevel(inside, surface);
    if (!fitted) return refused("no terrain of the tile lies inside the area to flatten it");
    return {};
}

// A value as the Wavefront file of the ground held it: fixed to so many decimals, read back.
double asPrinted(double value, int decimals) {
    char text[400];
    char* end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return parseNumber(std::string_view(text, size_t(end - text)));
}

// The new ground as an edited cut: its points at their new heights, the photo values of
// orthophoto faces as texture coordinates, faces by definition; every value and line as its
// Wavefront file (a comment, the object, the points, the coordinates, then each definition's
// material and faces) would have given them to the put-back.
void groundAsEditedCut(const Ground& g, const std::vector<double>& heights, const Cut& cut,
                       const std::vector<Material>& materials, EditedMesh& made) {
    made = {};
    const double originElevation = cut.mesh.vertices[size_t(cut.origin.index)].elevation;
    for (size_t p = 0; p < g.points.size(); ++p) {
        double y = heights[p] == g.points[p].height ? g.at[p].y : heights[p] - originElevation;
        made.cut.vertices.push_back(
            {asPrinted(g.at[p].x, 6), asPrinted(y, 6), asPrinted(g.at[p].z, 6)});
    }
    std::map<std::pair<uint32_t, uint32_t>, int32_t> textureOf;
    for (const auto& [key, uv] : g.photo) {
        textureOf[key] = int32_t(textureOf.size());
        made.cut.textures.push_back(asPrinted(uv[0], 9));
        made.cut.textures.push_back(asPrinted(uv[1], 9));
    }
    std::map<uint32_t, std::vector<size_t>> byDefinition;
    for (size_t k = 0; k < g.definitions.size(); ++k) byDefinition[g.definitions[k]].push_back(k);
    uint32_t line = uint32_t(2 + g.points.size() + g.photo.size());
    for (const auto& [definition, faces] : byDefinition) {
        ++line;  // usemtl
        made.cut.materials.push_back(materialOf(materials, definition).name);
        for (size_t k : faces) {
            made.faces.push_back({uint32_t(made.corners.size()), 3,
                                  uint32_t(made.cut.materials.size() - 1), ++line});
            for (int j = 0; j < 3; ++j) {
                uint32_t p = g.triangles[3 * k + j];
                auto texture = textureOf.find({p, definition});
                made.corners.push_back({p, texture == textureOf.end() ? -1 : texture->second});
            }
        }
    }
}

// The ground to flatten: the clipped pieces welded into one mesh and, with a band, split along
// the outline. False when a kept line cannot be read.
bool groundOf(const Cut& cut, const OutlinePieces& pieces, const CutArea& airport, double blend,
              const std::vector<Material>& materials, Ground& g) {
    // along the band's outer edge the clip's points are the put-back's, one for one however near;
    // along the outline (no band) two patches' crossings of an edge it runs along are one
    const double clipWeld = blend > 0 ? 1e-6 : POINT_TOLERANCE_METRES;
    if (!collectPieces(cut, pieces, materials, clipWeld, g)) return false;
    if (blend > 0) {  // without a band the cut is clipped along the outline already
        const double margin = 1.0 / 3600;  // the outline's region, the window's edges far from it
        ClipRegion outline = clipRegionOf({airport.south - margin, airport.north + margin,
                                           airport.west - margin, airport.east + margin},
                                          &airport);
        splitAlongOutline(g, cut, outline);
        splitAtEdgePoints(g, cut);
    }
    return true;
}

// Per point, whether it stays on the ground and how far it lies from the outline. The band's
// outer edge stays; without a band, the outline's points rise or fall to the flat area but for
// the tile's own vertices on it (where it runs along the tile's edges), which the triangles
// outside share. Past the band the distance does not matter: the ground stays.
Heights heightsOf(Ground& g, const CutArea& airport, const NearOutline& near, double blend) {
    Heights h;
    h.fixed.assign(g.points.size(), 0);
    g.tileOwn.resize(g.points.size());
    for (const auto& [edge, count] : edgeCounts(g)) {
        if (count != 1) continue;
        for (uint32_t p : {uint32_t(edge >> 32), uint32_t(edge)}) {
            if (blend > 0 || g.tileOwn[p]) h.fixed[p] = 1;
        }
    }
    for (const AreaPoint& p : g.places) h.distance.push_back(distanceOf(airport, near, p));
    return h;
}

// Each point's new height, and the report's largest and mean change, its picture's change and
// the outline's length.
std::vector<double> newHeights(const Ground& g, const Heights& h, const CutArea& airport,
                               double blend, FlattenReport& report) {
    std::vector<double> heights(g.points.size());
    double sum = 0;
    for (size_t p = 0; p < g.points.size(); ++p) {
        double ground = g.points[p].height;
        double flat = heightOf(report.surface, g.points[p].x, g.points[p].y);
        heights[p] = h.fixed[p] ? ground : easedHeight(flat, ground, h.distance[p], blend);
        if (blend == 0 && !h.fixed[p]) heights[p] = h.distance[p] > 0 ? ground : flat;
        double change = std::fabs(heights[p] - ground);
        report.largest = std::max(report.largest, change);
        sum += change;
    }
    if (report.change) {
        report.change->places = g.places;
        report.change->change.resize(g.points.size());
        for (size_t p = 0; p < g.points.size(); ++p) {
            report.change->change[p] = heights[p] - g.points[p].height;
        }
        report.change->triangles = g.triangles;
    }
    report.points = g.points.size();
    for (const AreaRing& ring : areaRings(airport)) {
        for (size_t k = 0; k + 1 < ring.size(); ++k) {
            report.outlineMetres += metresBetween(ring[k], ring[k + 1]);
        }
    }
    report.mean = g.points.empty() ? 0 : sum / double(g.points.size());
    return heights;
}

}  // namespace

Status flattenGround(Cut& cut, const OutlinePieces& pieces, const CutArea& airport,
                     const FlattenTarget& target, double blend,
                     const std::vector<Material>& materials, EditedMesh& made,
                     FlattenReport& report) {
    Ground g;
    if (!groundOf(cut, pieces, airport, blend, materials, g)) return keptLinesFailure(cut);
    const NearOutline near = nearOutlineOf(airport, std::max(blend, 1.0) + 1);
    Heights h = heightsOf(g, airport, near, blend);
    if (Status status = surfaceOf(g, h, airport, target, report.surface); !status.ok())
        return status;
    if (blend > 0) meshBand(g, cut, airport, near, blend, h);
    const std::vector<double> heights = newHeights(g, h, airport, blend, report);
    groundAsEditedCut(g, heights, cut, materials, made);
    return {};
}

}  // namespace mc
