// The put-back's plan (the edited file fitted into the cut, the new points and patches) and
// what both tile writers share: the output tile opened and put in place, the report.
#include "put_back/put_back.h"

#include <algorithm>
#include <cmath>

#include "put_back/tile_hold.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

// An original point whose patch is not as deep as the one its face goes into cannot be named
// there: the corner becomes a new point on the same spot.
void newPointsForOtherDepths(const Cut& cut, PutBackPlan& plan) {
    FittedCut& fitted = plan.fitted;
    for (FittedTriangle& t : fitted.triangles) {
        if (!t.changed) continue;  // it stays where it is
        for (FitCorner& corner : t.corners) {
            if (!corner.original) continue;
            const BlockPatch& patch = runOfVertex(cut.mesh, corner.index).patch;
            if (patch.depth == plan.patches.at(t.definition).depth) continue;
            Metres at = metresOf(cut.mesh.vertices[corner.index], cut.origin);
            fitted.points.push_back({at, t.definition, -1, NO_VERTEX, corner.index, false});
            corner = {false, uint32_t(fitted.points.size() - 1)};
        }
    }
}

// The tile's bytes under a second name, unless something has that name already: a hard link, or
// a copy written whole.
// A file's bytes under another name, written whole.
Status copyFileWhole(const std::string& path, const std::string& copyPath) {
    FileHandle from = openReadHandle(path);
    if (from == NO_FILE) {
        return failedWith(Failure::writeTile, "cannot read " + path + ": " + systemErrorText());
    }
    WholeFile copy;
    if (Status status = openWholeFile(copy, copyPath, path, Failure::writeTile); !status.ok()) {
        closeHandle(from);
        return status;
    }
    std::vector<char> block(1 << 20);
    int64_t got;
    while ((got = readHandle(from, block.data(), block.size())) > 0) {
        writeText(copy.out, std::string_view(block.data(), size_t(got)));
    }
    closeHandle(from);
    if (got < 0) {
        Status failed =
            failedWith(Failure::writeTile, "cannot read " + path + ": " + systemErrorText());
        abandonWholeFile(copy);
        return failed;
    }
    return finishWholeFile(copy);
}

Status keepFileOnce(const std::string& path, const std::string& keptPath) {
    if (pathExists(keptPath) || linkFile(path, keptPath)) return {};
    return copyFileWhole(path, keptPath);
}

// Only what changed is rewritten: a base triangle that a face gives back as it was stays in its
// primitive; the others leave it.
std::vector<uint8_t> leavingTriangles(const Cut& cut, const FittedCut& fitted) {
    const MeshBuffers& mesh = cut.mesh;
    std::vector<uint8_t> leaving(mesh.indices.count / 3, 0);
    size_t removed = 0;  // the removed triangles are the base ones, in the cut's order
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        if (mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG) continue;
        for (size_t i = mesh.runs[r].firstIndex; i + 3 <= runIndexEnd(mesh, r); i += 3) {
            leaving[i / 3] = !fitted.backAsItWas[removed++];
        }
    }
    return leaving;
}

bool hasBaseTriangles(const Cut& cut) {
    for (size_t r = 0; r < cut.mesh.runs.size(); ++r) {
        bool overlay = cut.mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG;
        if (!overlay && runHasTriangles(cut.mesh, r)) return true;
    }
    return false;
}

}  // namespace

std::vector<Material> tileMaterials(const Cut& cut, const RunPaths& paths) {
    TerrainLibrary library;
    library.folders = {packFolderOfTile(paths.input, paths.sceneryFolder), paths.xplaneFolder};
    return materialsOf(cut, library);
}

Status planPutBack(Cut& cut, const OutlinePieces* outline, const RunPaths& paths, PutBackPlan& plan,
                   EditedMesh* made) {
    if (!hasBaseTriangles(cut)) {
        return failedWith(Failure::noTerrain,
                          "no terrain triangle has a corner strictly inside the window: there is "
                          "nothing to put back into (check the window keys)");
    }
    if (plan.materials.empty()) plan.materials = tileMaterials(cut, paths);
    const MeshBuffers& triangles = outline ? outline->pieces : cut.mesh;
    EdgeFit edge;
    if (outline) edge = {true, uint32_t(outline->tileVertices), plan.outlineMayRise};
    if (Status status = fitEditedCut(cut, triangles, edge, plan.materials, {paths.wavefront, made},
                                     plan.edited, plan.fitted);
        !status.ok()) {
        if (outline && status.failure == Failure::editMisfits) {
            if (Status other = checkSameOutline(cut, plan.fitted, plan.edited); !other.ok()) {
                return other;
            }
        }
        return status;
    }
    if (outline) {
        if (Status status = foldPiecesIntoTriangles(cut, *outline, plan.fitted); !status.ok()) {
            return status;
        }
    }
    for (NewPointPlace& point : plan.fitted.points) point.precise = plan.precisePoints;
    if (Status status = choosePatches(cut, plan.fitted, plan.materials, plan.patches);
        !status.ok()) {
        return status;
    }
    newPointsForOtherDepths(cut, plan);
    if (Status status = planNewPoints(cut, plan.fitted, plan.edited, plan.patches, plan.points);
        !status.ok()) {
        return status;
    }
    plan.surface = changedSurfaceOf(cut, plan.fitted, plan.points);
    plan.leaving = leavingTriangles(cut, plan.fitted);
    return {};
}

Metres metresOfPlace(const Cut& cut, double lon, double lat) {
    return metresOf(projectPosition(cut.window, {lon, lat, 0}, 0), cut.origin);
}

void newPrimitives(const FittedCut& fitted, uint32_t definition, std::vector<Piece>& pieces) {
    std::vector<uint32_t> keys;
    for (const FittedTriangle& t : fitted.triangles) {
        if (t.definition != definition || !t.changed) continue;
        for (const FitCorner& c : t.corners) keys.push_back(uint32_t(c.original) << 31 | c.index);
    }
    chainIntoStrips(keys, pieces);
}

Status openOutputTile(WholeFile& file, const RunPaths& paths) {
    // the input itself may be named: it is replaced only once the new tile is complete
    return openWholeFile(file, paths.outputTile, std::string(), Failure::writeTile);
}

Status finishOutputTile(WholeFile& file, const RunPaths& paths) {
    if (isSameFile(paths.outputTile, paths.input)) {
        if (Status status = keepFileOnce(paths.input, paths.input + ".original"); !status.ok()) {
            abandonWholeFile(file);
            return status;
        }
    }
    return finishWholeFile(file);
}

PutBackCounts countsOf(const PutBackPlan& plan, uint64_t overlayPoints) {
    const FittedCut& fitted = plan.fitted;
    auto changed = [](const FittedTriangle& t) { return t.changed; };
    return {uint64_t(std::count(fitted.backAsItWas.begin(), fitted.backAsItWas.end(), 0)),
            uint64_t(std::count_if(fitted.triangles.begin(), fitted.triangles.end(), changed)),
            fitted.points.size() + overlayPoints};
}

bool changesNothing(const PutBackPlan& plan) {
    const FittedCut& fitted = plan.fitted;
    return fitted.points.empty() &&
           std::all_of(fitted.backAsItWas.begin(), fitted.backAsItWas.end(),
                       [](uint8_t back) { return back != 0; }) &&
           std::none_of(fitted.triangles.begin(), fitted.triangles.end(),
                        [](const FittedTriangle& t) { return t.changed; });
}

Status leaveTileAsItWas(const RunPaths& paths, OutputFile& console, const std::string& tileName) {
    if (!isSameFile(paths.outputTile, paths.input)) {
        if (Status status = copyFileWhole(paths.input, paths.outputTile); !status.ok()) {
            return status;
        }
    }
    endLine(console);
    writeLine(console, "Nothing changed: " + tileName + " is the tile as it was");
    writeLine(console, "0 triangles out, 0 triangles in, 0 new points");
    return {};
}

void announceTile(OutputFile& console) {
    endLine(console);
    writeLine(console, "Writing output tile");
    flushOutput(console);
}

void reportPutBack(OutputFile& console, const std::string& tileName, const PutBackCounts& counts) {
    endLine(console);
    writeLine(console, "Tile written: " + tileName);
    writeLine(console, intToText(int64_t(counts.trianglesOut)) + " triangles out, " +
                           intToText(int64_t(counts.trianglesIn)) + " triangles in, " +
                           intToText(int64_t(counts.newPoints)) + " new points");
}

Status writeBack(const Cut& cut, TileTrace& trace, const PutBackPlan& plan, const RunPaths& paths,
                 TileHold& hold, OutputFile& console, const std::string& tileName) {
    if (changesNothing(plan)) {
        trace = {};
        if (Status status = checkInputUnchanged(paths, hold); !status.ok()) return status;
        return leaveTileAsItWas(paths, console, tileName);
    }
    announceTile(console);
    WrittenTile tile;
    TileWriter write = trace.source.binary ? writeBinaryTile : writeTextTile;
    if (Status status = write(cut, trace, plan, paths, tile); !status.ok()) return status;
    trace = {};  // the input's bytes go before the new tile may replace it
    if (Status status = checkInputUnchanged(paths, hold); !status.ok()) {
        abandonWholeFile(tile.file);
        return status;
    }
    if (Status status = finishOutputTile(tile.file, paths); !status.ok()) return status;
    reportPutBack(console, tileName, tile.counts);
    return {};
}

}  // namespace mc
