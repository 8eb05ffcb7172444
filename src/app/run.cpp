// The driver: each verb as its steps, and the one failure line.
#include "app/run.h"

#include <algorithm>

#include "app/config.h"
#include "carve/writers.h"
#include "cut/cut.h"
#include "flatten/flatten.h"
#include "platform/platform.h"
#include "put_back/put_back.h"
#include "put_back/tile_hold.h"
#include "scenery/area_files.h"
#include "text/console.h"
#include "text/file_names.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

constexpr int FAILED = -1;

// The reason goes to standard error after the failure line, which is written out first.
void explainFailure(OutputFile& console, const std::string& reason) {
    flushOutput(console);
    std::string line = "mesh_carver: " + reason + std::string(LINE_END);
    writeHandle(standardErrorHandle(), line.data(), line.size());
}

std::string failureLine(Failure failure, const RunSettings& settings, const TempFile& temp) {
    switch (failure) {
        case Failure::none:
        case Failure::keepCache:  // only ever a note
            return {};
        case Failure::openInput:
            return "Error opening input file " + settings.inputFile;
        case Failure::readInput:
            return "Error reading input file " + settings.inputFile;
        case Failure::tempInUse:
            return std::string(TEMP_FILE_NAME) + " is in use by another run";
        case Failure::writeTemp:
            return "Error writing temporary file " + temp.path;
        case Failure::readTemp:
            return "Error reading temporary file " + temp.path;
        case Failure::vertexCapacity:
            return "vertex number too large; increase nb_max_vertex in ini file";
        case Failure::indexCapacity:
            // "nb_max_tri" (the key is nb_max_tris): the line is kept as users' scripts know it
            return "TRIs number too large; increase nb_max_tri in ini file";
        case Failure::writeOutput:
            return "Error writing output file " + settings.outputFile;
        case Failure::writeWavefront:
            return "Error writing output file " + settings.wavefrontFile;
        case Failure::writePreview:
            return "Error writing output file " + settings.previewFile;
        case Failure::readEdited:
            return "Error reading Wavefront file " + settings.wavefrontFile;
        case Failure::editMisfits:
            return "Error fitting Wavefront file " + settings.wavefrontFile + " into the tile";
        case Failure::noTerrain:
            return "No terrain in the window to put back into";
        case Failure::writeTile:
            return "Error writing output tile " + settings.outputTile;
        case Failure::readArea:
            return "Error reading area file " + settings.areaFile;
        case Failure::flattenGround:
            return "Error flattening " +
                   (settings.area.empty() ? settings.areaFile : settings.area) + " in " +
                   settings.inputFile;
    }
    return {};
}

RunPaths pathsOf(const RunSettings& settings) {
    return {toPlatformPath(settings.inputFile),     toPlatformPath(settings.outputFile),
            toPlatformPath(settings.wavefrontFile), toPlatformPath(settings.previewFile),
            toPlatformPath(settings.sceneryFolder), toPlatformPath(settings.xplaneFolder),
            toPlatformPath(settings.outputTile)};
}

// Where unpacked 7z tiles are kept: the user's cache folder unless the ini names another, or
// "off".
dsf::UnpackedCache cacheOf(const RunSettings& settings) {
    dsf::UnpackedCache cache;
    if (settings.cacheOff) return cache;
    cache.folder =
        settings.cacheFolder.empty() ? userCacheFolder() : toPlatformPath(settings.cacheFolder);
    double bytes = std::clamp(settings.cacheSizeMb, 0.0, 1e12) * 1048576;
    cache.limit = bytes == bytes ? uint64_t(bytes) : 0;  // NaN keeps nothing
    return cache;
}

// The ini's window, or the area's widened by this much when the ini names none.
constexpr double AREA_MARGIN_METRES = 10;

SelectionWindow windowOf(const RunSettings& settings, const CutArea* area) {
    SelectionWindow window{settings.latMin, settings.latMax, settings.longMin, settings.longMax};
    if (settings.windowFromArea && area) window = windowAroundArea(*area, AREA_MARGIN_METRES);
    window.area = area;
    window.clip = settings.clip;
    return window;
}

std::string counted(size_t count, const char* what) {
    return intToText(int64_t(count)) + " " + what + (count == 1 ? "" : "s");
}

// The window the ini left to the area, as the console says it (the add-on reads it back).
void writeWindowFromArea(OutputFile& console, const SelectionWindow& w) {
    writeLine(console, "window from the area: lat " + doubleToText(w.latMin) + " to " +
                           doubleToText(w.latMax) + ", long " + doubleToText(w.longMin) + " to " +
                           doubleToText(w.longMax));
}

// The area_file's area, checked, and said on the console ("area LFLB from apt.dat: 1 outline,
// 2 holes, 412 corners"); an area that misses the window is refused.
Status takeArea(const RunSettings& settings, OutputFile& console, CutArea& area) {
    Area read;
    const std::string path = toPlatformPath(settings.areaFile);
    if (Status status = readArea(path, settings.area, read); !status.ok()) return status;
    if (Status status = prepareArea(read, fileNameOf(path), area); !status.ok()) return status;
    if (!area.note.empty()) noteOnStandardError(area.note);
    const SelectionWindow w = windowOf(settings, &area);
    if (!(area.west < w.longMax && w.longMin < area.east && area.south < w.latMax &&
          w.latMin < area.north)) {
        return failedWith(Failure::readArea,
                          "the area " + area.label + " (" + doubleToText(area.west) + " to " +
                              doubleToText(area.east) + " E, " + doubleToText(area.south) + " to " +
                              doubleToText(area.north) +
                              " N) lies outside the window: nothing of the tile is inside both");
    }
    writeLine(console, "area " + area.label + ": " + counted(area.outlines, "outline") + ", " +
                           counted(area.holes, "hole") + ", " + counted(area.corners, "corner"));
    if (settings.windowFromArea) writeWindowFromArea(console, w);
    return {};
}

// The area, when the ini names one, then the selection pass over the window and the area (which
// the selection and the cut point at, so the caller keeps it).
Selection selectFor(const RunSettings& settings, const RunPaths& paths, TempFile& temp,
                    OutputFile& console, CutArea& area, TileTrace* trace = nullptr) {
    if (!settings.areaFile.empty()) {
        if (Status status = takeArea(settings, console, area); !status.ok()) {
            Selection refused;
            refused.status = std::move(status);
            return refused;
        }
    }
    const CutArea* followed = settings.areaFile.empty() ? nullptr : &area;
    Selection selection = selectBlocks(windowOf(settings, followed), paths.input, temp, console,
                                       cacheOf(settings), trace);
    if (!selection.note.empty()) noteOnStandardError(selection.note);
    return selection;
}

// The carve, step by step: select, assemble, each writer, the report; the first failure ends it.
Status carve(const RunSettings& settings, TempFile& temp, OutputFile& console) {
    const RunPaths paths = pathsOf(settings);
    CutArea area;
    Selection selection = selectFor(settings, paths, temp, console, area);
    if (!selection.status.ok()) return selection.status;
    const Capacities capacities{settings.maxVertices, settings.maxIndices};
    Cut cut = assembleCut(std::move(selection), capacities, console);
    if (!cut.status.ok()) return cut.status;
    if (settings.clip) {
        if (Status status = clipCut(cut, capacities); !status.ok()) return status;
    }
    announceWriting(console);
    for (CutWriter write : CARVE_WRITERS) {
        if (Status status = write(cut, paths); !status.ok()) return status;
    }
    reportOrigin(console, cut);
    return {};
}

// The new tile written beside its name, the input let go and checked unchanged, the tile put in
// place, the report; or, when the plan changes nothing, the tile left as it was.
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

// The airport (the area to flatten), what it becomes, and the band around it, said on the
// console.
constexpr double NO_BAND_METRES = 1;
Status takeFlattenArea(const RunSettings& settings, OutputFile& console, Area& read,
                       CutArea& airport, CutArea& band, FlattenTarget& target) {
    const std::string path = toPlatformPath(settings.areaFile);
    if (Status status = readArea(path, settings.area, read); !status.ok()) return status;
    if (Status status = prepareArea(read, fileNameOf(path), airport); !status.ok()) return status;
    if (!airport.note.empty()) noteOnStandardError(airport.note);
    if (Status status = flattenTargetOf(settings.flattenTo, read, target); !status.ok()) {
        return status;
    }
    // with no band the cut is clipped along the airport itself (below), taken from a metre
    // around it: the triangles that only touch the outline come too, to be cut where it does
    Area widened = bandAround(airport, std::max(settings.blendMetres, NO_BAND_METRES));
    if (Status status = prepareArea(widened, fileNameOf(path), band); !status.ok()) return status;
    writeLine(console, "area " + airport.label + ": " + counted(airport.outlines, "outline") +
                           ", " + counted(airport.holes, "hole") + ", " +
                           counted(airport.corners, "corner"));
    return {};
}

// The band must stay inside the tile: the neighbouring tile's ground would no longer meet it.
Status checkBandInsideTile(const Cut& cut, const CutArea& band, const std::string& name,
                           double blend) {
    if (!cut.terrain.hasCorner) return {};
    const double west = cut.terrain.west, south = cut.terrain.south;
    const double over[4] = {west - band.west, band.east - (west + 1), south - band.south,
                            band.north - (south + 1)};
    const double* worst = std::max_element(over, over + 4);
    if (*worst < 0) return {};
    double lat = std::clamp((band.south + band.north) / 2, south, south + 1);
    double metres =
        *worst * METRES_PER_DEGREE * (worst - over < 2 ? cosineOfLatitude<double>(lat) : 1.0);
    return failedWith(
        Failure::flattenGround,
        "the band of " + doubleToText(blend) + " m around " + name + " reaches " +
            doubleToText(std::ceil(metres)) + " m past the tile's " +
            (worst - over == 0   ? "western"
             : worst - over == 1 ? "eastern"
             : worst - over == 2 ? "southern"
                                 : "northern") +
            " edge, where the next tile's ground would no longer meet it: with blend_m at most " +
            doubleToText(std::max(0.0, std::floor(blend - metres - 1))) + " it stays inside");
}

// The put-back, step by step: the tile held, the same cut again with where it came from, the
// edited file fitted into it, the new tile written, the input let go and checked unchanged, the
// tile put in place, the report.
Status putBack(const RunSettings& settings, TempFile& temp, OutputFile& console) {
    const RunPaths paths = pathsOf(settings);
    TileHold hold;
    if (Status status = holdTile(paths, settings.lockWaitSeconds, hold); !status.ok()) {
        return status;
    }
    CutArea area;
    TileTrace trace;
    Selection selection = selectFor(settings, paths, temp, console, area, &trace);
    if (!selection.status.ok()) return selection.status;
    Cut cut = assembleCut(std::move(selection), {INT32_MAX, INT32_MAX}, console, &trace);
    if (!cut.status.ok()) return cut.status;
    OutlinePieces outline;
    if (settings.clip) {
        if (Status status = clipForPutBack(cut, outline); !status.ok()) return status;
    }
    PutBackPlan plan;
    if (Status status = planPutBack(cut, settings.clip ? &outline : nullptr, paths, plan);
        !status.ok()) {
        return status;
    }
    return writeBack(cut, trace, plan, paths, hold, console, settings.outputTile);
}

// The cut a flattening changes, with where it came from: the band's window (said, when taken
// from the area), the tile's blocks inside the band, the band checked against the tile's edges,
// and the cut clipped along the band's outer edge, or along the airport itself without a band.
Status cutAroundAirport(const RunSettings& settings, const RunPaths& paths, TempFile& temp,
                        OutputFile& console, const CutArea& airport, const CutArea& band,
                        const std::string& name, TileTrace& trace, Cut& cut,
                        OutlinePieces& outline) {
    SelectionWindow window{settings.latMin, settings.latMax, settings.longMin, settings.longMax};
    if (settings.windowFromArea) {
        window = windowAroundArea(band, AREA_MARGIN_METRES);
        writeWindowFromArea(console, window);
    }
    window.area = &band, window.clip = true;
    Selection selection =
        selectBlocks(window, paths.input, temp, console, cacheOf(settings), &trace);
    if (!selection.status.ok()) return selection.status;
    cut = assembleCut(std::move(selection), {INT32_MAX, INT32_MAX}, console, &trace);
    if (!cut.status.ok()) return cut.status;
    const double blend = settings.blendMetres;
    if (Status status = checkBandInsideTile(cut, band, name, blend); !status.ok()) return status;
    // without a band, the outline's triangles are split along the airport itself: the pieces
    // outside it join the flat area to the ground
    if (blend == 0) {
        cut.clipRegion =
            clipRegionOf({window.latMin, window.latMax, window.longMin, window.longMax}, &airport);
    }
    return clipForPutBack(cut, outline);
}

// The flattening, step by step: the tile held, the airport and the band around it, the cut
// around the airport, the flattened ground written as an edited cut and fitted as the put-back
// fits any edit, the report and its picture, the tile written.
Status flatten(const RunSettings& settings, TempFile& temp, OutputFile& console) {
    const RunPaths paths = pathsOf(settings);
    const double blend = settings.blendMetres;
    if (!(blend >= 0 && blend < 1e5)) {
        return failedWith(Failure::flattenGround, "blend_m is " + doubleToText(blend) +
                                                      ": it takes metres, from 0 to 100,000");
    }
    TileHold hold;
    if (Status status = holdTile(paths, settings.lockWaitSeconds, hold); !status.ok()) {
        return status;
    }
    Area read;
    CutArea airport, band;
    FlattenTarget target;
    if (Status status = takeFlattenArea(settings, console, read, airport, band, target);
        !status.ok()) {
        return status;
    }
    TileTrace trace;
    Cut cut;
    OutlinePieces outline;
    if (Status status = cutAroundAirport(settings, paths, temp, console, airport, band, read.name,
                                         trace, cut, outline);
        !status.ok()) {
        return status;
    }
    RunPaths edited = paths;
    edited.wavefront = temp.path + ".flattened.obj";
    FlattenReport report;
    ChangeMap change{{}, {}, {}, &airport, &band, {}};
    if (!paths.preview.empty()) report.change = &change;
    PutBackPlan plan;
    plan.precisePoints = true;  // new ground a few millimetres from the outline's points
    plan.outlineMayRise = blend == 0;
    Status status = writeFlattenedCut(cut, outline, airport, target, blend,
                                      tileMaterials(cut, paths), edited.wavefront, report);
    if (status.ok()) status = planPutBack(cut, &outline, edited, plan);
    removeFile(edited.wavefront);
    if (!status.ok()) return status;
    endLine(console);
    writeLine(console, flattenReportLine(read.name, target, report, blend));
    if (report.change) {
        change.title = "flattened " + read.name + ", blend " + doubleToText(blend) +
                       " m: the change in height";
        if (Status status = writeChangePreview(cut, change, paths); !status.ok()) return status;
    }
    return writeBack(cut, trace, plan, paths, hold, console, settings.outputTile);
}

}  // namespace

int runMeshCarver(const std::string& workingDirectory, OutputFile& console, Direction direction) {
    const std::string configPath = workingDirectory + "/" + std::string(CONFIG_FILE_NAME);
    TempFile temp;
    temp.path = workingDirectory + "/" + std::string(TEMP_FILE_NAME);

    RunSettings settings;
    ConfigResult config = loadSettings(configPath, settings, direction);
    if (config.status == ConfigStatus::fileNotFound) {
        // the text names the Windows program on every system, as it always has
        writeLine(console,
                  "mesh_carver.ini file not found; This file shall be in the same directory as "
                  "mesh_carver.exe");
        explainFailure(console, "there is no mesh_carver.ini with a [mesh_carver] section in " +
                                    workingDirectory + " (mesh_carver --help lists its keys)");
        return FAILED;
    }
    if (config.status == ConfigStatus::keyMissing) {
        writeLine(console, "Error reading " + std::string(config.missingKey) + " in ini file");
        explainFailure(console, "mesh_carver.ini's [mesh_carver] section has no value for " +
                                    std::string(config.missingKey));
        return FAILED;
    }

    Status status = direction == Direction::carve     ? carve(settings, temp, console)
                    : direction == Direction::putBack ? putBack(settings, temp, console)
                                                      : flatten(settings, temp, console);
    releaseTempFile(temp);
    if (status.ok()) {
        flushOutput(console);
        return 0;
    }
    writeLine(console, failureLine(status.failure, settings, temp));
    explainFailure(console, status.reason.empty() ? "no further reason is known" : status.reason);
    return FAILED;
}

}  // namespace mc
