#include "put_back/put_back.h"

#include <algorithm>
#include <cmath>

#include "text/whole_numbers.h"

namespace mc {

namespace {

// The run a stored vertex belongs to.
const PatchRun& runOfVertex(const MeshBuffers& mesh, size_t vertex) {
    auto after =
        std::upper_bound(mesh.runs.begin(), mesh.runs.end(), vertex,
                         [](size_t v, const PatchRun& run) { return v < run.firstVertex; });
    return *(after - 1);
}

// An original point whose patch is not as deep as the one its face goes into cannot be named
// there: the corner becomes a new point on the same spot.
void newPointsForOtherDepths(const Cut& cut, PutBackPlan& plan) {
    FittedCut& fitted = plan.fitted;
    for (FittedTriangle& t : fitted.triangles) {
        for (FitCorner& corner : t.corners) {
            if (!corner.original) continue;
            const BlockPatch& patch = runOfVertex(cut.mesh, corner.index).patch;
            if (patch.depth == plan.patches.at(t.definition).depth) continue;
            Metres at = metresOf(cut.mesh.vertices[corner.index], cut.origin);
            fitted.points.push_back({at, t.definition, -1, NO_VERTEX, corner.index});
            corner = {false, uint32_t(fitted.points.size() - 1)};
        }
    }
}

// The tile's bytes under a second name, unless something has that name already: a hard link, or
// a copy written whole.
bool keepFileOnce(const std::string& path, const std::string& keptPath, std::string& why) {
    if (pathExists(keptPath) || linkFile(path, keptPath)) return true;
    WholeFile copy;
    FileHandle from = openReadHandle(path);
    if (from == NO_FILE || !openWholeFile(copy, keptPath, path, why)) {
        if (from == NO_FILE) why = "cannot read " + path + " to keep it: " + systemErrorText();
        closeHandle(from);
        return false;
    }
    std::vector<char> block(1 << 20);
    int64_t got;
    while ((got = readHandle(from, block.data(), block.size())) > 0) {
        writeText(copy.out, std::string_view(block.data(), size_t(got)));
    }
    closeHandle(from);
    if (got < 0) {
        why = "cannot read " + path + " to keep it: " + systemErrorText();
        abandonWholeFile(copy);
        return false;
    }
    return finishWholeFile(copy, why);
}

bool hasBaseTriangles(const Cut& cut) {
    for (size_t r = 0; r < cut.mesh.runs.size(); ++r) {
        bool overlay = cut.mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG;
        if (!overlay && runHasTriangles(cut.mesh, r)) return true;
    }
    return false;
}

}  // namespace

Status planPutBack(const Cut& cut, const RunPaths& paths, PutBackPlan& plan) {
    if (!hasBaseTriangles(cut)) {
        return failedWith(Failure::noTerrain,
                          "no terrain triangle has a corner strictly inside the window: there is "
                          "nothing to put back into (check the window keys)");
    }
    TerrainLibrary library;
    library.folders = {packFolderOfTile(paths.input, paths.sceneryFolder), paths.xplaneFolder};
    plan.materials = materialsOf(cut, library);
    if (Status status =
            fitEditedCut(cut, plan.materials, paths.wavefront, plan.edited, plan.fitted);
        !status.ok()) {
        return status;
    }
    if (Status status = choosePatches(cut, plan.fitted, plan.materials, plan.patches);
        !status.ok()) {
        return status;
    }
    newPointsForOtherDepths(cut, plan);
    std::string why;
    if (!planNewPoints(cut, plan.fitted, plan.edited, plan.patches, plan.points, why)) {
        return failedWith(Failure::readTemp, std::move(why));
    }
    plan.surface = changedSurfaceOf(cut, plan.fitted, plan.points);
    return {};
}

void takenTriangles(const Cut& cut, size_t block, std::vector<uint8_t>& taken) {
    taken.clear();
    if (cut.terrain.keptPatches[block].flags & OVERLAY_PATCH_FLAG) return;
    const MeshTrace& trace = cut.mesh.trace;
    size_t first = trace.blocks[block].firstIndex / 3;
    size_t end = (block + 1 < trace.blocks.size() ? trace.blocks[block + 1].firstIndex
                                                  : cut.mesh.indices.count) /
                 3;
    for (size_t t = first; t < end; ++t) {
        uint32_t number = trace.triangleNumbers[t];
        if (number >= taken.size()) taken.resize(number + 1, 0);
        taken[number] = 1;
    }
}

void blockVertices(const Cut& cut, size_t block, size_t& first, size_t& end) {
    const MeshTrace& trace = cut.mesh.trace;
    first = trace.blocks[block].firstVertex;
    end = block + 1 < trace.blocks.size() ? trace.blocks[block + 1].firstVertex
                                          : cut.mesh.vertices.count;
}

Metres metresOfPlace(const Cut& cut, double lon, double lat) {
    long double cosine = std::cos(static_cast<long double>(DEG_TO_RAD) * lat);
    double xm =
        double((static_cast<long double>(lon) - cut.window.longMin) * cosine * METRES_PER_DEGREE);
    double zm = double((static_cast<long double>(lat) - cut.window.latMin) * METRES_PER_DEGREE);
    StoredVertex v{double(static_cast<long double>(xm) / SCALE_DIVISOR), 0,
                   double((-1.0L * zm) / SCALE_DIVISOR), 0};
    return metresOf(v, cut.origin);
}

Status openOutputTile(WholeFile& file, const RunPaths& paths) {
    std::string why;
    // the input itself may be named: it is replaced only once the new tile is complete
    if (!openWholeFile(file, paths.outputTile, std::string(), why)) {
        return failedWith(Failure::writeTile, std::move(why));
    }
    return {};
}

Status finishOutputTile(WholeFile& file, const RunPaths& paths) {
    std::string why;
    if (isSameFile(paths.outputTile, paths.input) &&
        !keepFileOnce(paths.input, paths.input + ".original", why)) {
        abandonWholeFile(file);
        return failedWith(Failure::writeTile, std::move(why));
    }
    if (!finishWholeFile(file, why)) return failedWith(Failure::writeTile, std::move(why));
    return {};
}

void reportPutBack(OutputFile& console, const std::string& tileName, const PutBackCounts& counts) {
    endLine(console);
    writeLine(console, "Tile written: " + tileName);
    writeLine(console, intToText(int64_t(counts.trianglesOut)) + " triangles out, " +
                           intToText(int64_t(counts.trianglesIn)) + " triangles in, " +
                           intToText(int64_t(counts.newPoints)) + " new points");
}

}  // namespace mc
