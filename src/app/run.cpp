// The driver: each verb as its steps, and the one failure line.
#include "app/run.h"

#include <algorithm>

#include "app/config.h"
#include "carve/writers.h"
#include "cut/cut.h"
#include "flatten/flatten_run.h"
#include "platform/platform.h"
#include "put_back/put_back.h"
#include "put_back/tile_hold.h"
#include "scenery/area_files.h"
#include "text/console.h"
#include "platform/file_names.h"
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

// The ini's window, or the area's widened a little when the ini names none.
SelectionWindow windowOf(const RunSettings& settings, const CutArea* area) {
    SelectionWindow window{settings.latMin, settings.latMax, settings.longMin, settings.longMax};
    if (settings.windowFromArea && area) window = windowAroundArea(*area, AREA_MARGIN_METRES);
    window.area = area;
    window.clip = settings.clip;
    return window;
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
    writeLine(console, areaSummary(area));
    if (settings.windowFromArea) writeLine(console, windowFromAreaLine(w));
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

// A flattening's job, from the ini.
FlattenJob flattenJobOf(const RunSettings& settings) {
    return {pathsOf(settings),
            cacheOf(settings),
            {settings.latMin, settings.latMax, settings.longMin, settings.longMax},
            settings.windowFromArea,
            toPlatformPath(settings.areaFile),
            settings.area,
            settings.flattenTo,
            settings.blendMetres,
            settings.lockWaitSeconds,
            settings.outputTile};
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

    Status status = direction == Direction::carve ? carve(settings, temp, console)
                    : direction == Direction::putBack
                        ? putBack(settings, temp, console)
                        : flattenAirport(flattenJobOf(settings), temp, console);
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
