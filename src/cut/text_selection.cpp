// The selection pass over a text tile: primitive blocks copied whole when a vertex is inside.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "cut/text_pass.h"
#include "cut/tile_trace.h"
#include "platform/helper_thread.h"
#include "platform/platform.h"
#include "text/console.h"
#include "text/numbers.h"

namespace mc {

namespace {

// Outside a block only the keyword matters, so a longer line is skipped unread.
constexpr size_t HEAD_LIMIT = 64 << 10;
constexpr uint64_t MAX_PINNED_BLOCK = 16 << 20;

// Most vertices of a tile miss the window in longitude already; the latitude is read only then,
// unless clip=1 needs it for the block's box.
bool isVertexInsideWindow(const SelectionWindow& window, LongitudeUnits units,
                          std::string_view remainder, double (&box)[4]) {
    SplitText lon = splitFirstField(remainder);
    if (!window.clip && isSurelyOutside(units, lon.first)) return false;
    double longitude = parseNumber(lon.first);
    bool inLongitude = window.longMin < longitude && longitude < window.longMax;
    if (!inLongitude && !window.clip) return false;
    double latitude = parseNumber(splitFirstField(lon.rest).first);
    if (inLongitude && window.latMin < latitude && latitude < window.latMax &&
        (!window.area || isInsideArea(*window.area, longitude, latitude))) {
        return true;
    }
    box[0] = std::min(box[0], longitude), box[1] = std::max(box[1], longitude);
    box[2] = std::min(box[2], latitude), box[3] = std::max(box[3], latitude);
    return false;
}

// Writes the lines of the pinned block read so far, as readLine gave them, blank ones left out.
void copyPinnedLines(OutputFile& out, const LineReader& input) {
    std::string_view bytes = pinnedBytes(input);
    while (!bytes.empty()) {
        size_t lf = bytes.find('\n');
        std::string_view line = lf == std::string_view::npos
                                    ? lineAtDataEnd(bytes.data(), bytes.data() + bytes.size())
                                    : lineBeforeLineFeed(bytes.data(), bytes.data() + lf);
        if (!line.empty()) writeLine(out, line);
        bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    }
}

// TERRAIN_DEF names a definition; "BEGIN_PATCH 1 0.000000 -1.000000 1 7" opens a patch of
// definition 1 with flags 1 and depth 7.
void noteTerrainLine(TileTerrain& terrain, BlockPatch& patch, std::string_view line) {
    SplitText split = splitFirstField(line);
    if (split.first == "TERRAIN_DEF") {
        terrain.definitions.emplace_back(split.rest);
    } else if (split.first == "BEGIN_PATCH") {
        double fields[5] = {0, 0, 0, 0, 0};
        for (double& field : fields) {
            SplitText next = splitFirstField(split.rest);
            field = parseNumber(next.first);
            split.rest = next.rest;
        }
        auto whole = [](double v) { return v >= 0 && v < 4294967296.0 ? uint32_t(v) : 0u; };
        patch = {whole(fields[0]), whole(fields[3]), whole(fields[4])};
    }
}

void openBlock(TextPass& p) {
    if (p.copying) dropTail(p.out, p.blockStart);  // an unfinished block is abandoned
    p.inBlock = true;
    p.copying = false;
    p.touches = false;
    p.box[0] = p.box[2] = INFINITY, p.box[1] = p.box[3] = -INFINITY;
    ++p.seenCount;
    p.blockStart = p.blockLine = p.input.lineOffset;
    if (!p.keptPlaces) pinFrom(p.input, p.blockStart);
}

void closeBlock(TextPass& p) {
    p.inBlock = false;
    if (!p.touches && p.window.clip) {
        p.touches = boxMeetsWindow(p.window, p.box[0], p.box[1], p.box[2], p.box[3]);
    }
    if (p.touches) {
        if (p.keptPlaces) {
            p.keptPlaces->push_back({p.blockLine, readOffset(p.input), p.seenCount});
        } else if (!p.copying) {
            copyPinnedLines(p.out, p.input);
        }
        p.touches = false;
        ++p.found.keptCount;
        p.found.terrain.keptPatches.push_back(p.patch);
        if (p.trace) p.trace->keptSources.push_back(p.blockLine);
        if (!p.keptPlaces) {
            clearProgress(p.meter);
            writeProgressLine(p.console, "Step 1: ", p.found.keptCount, p.seenCount);
        }
    } else if (p.copying) {
        dropTail(p.out, p.blockStart);
    }
    p.copying = false;
    unpin(p.input);
}

// A line inside a block: copied when the block is being copied, tested when it is a vertex.
void takeBlockLine(TextPass& p, std::string_view line) {
    if (p.copying) {
        writeLine(p.out, line);
    } else if (!p.keptPlaces && readOffset(p.input) - p.blockStart > MAX_PINNED_BLOCK) {
        p.copying = true;
        p.blockStart = bytesWritten(p.out);
        copyPinnedLines(p.out, p.input);
        unpin(p.input);
    }
    if (hasKeyword(line, PATCH_VERTEX)) {
        if (!p.touches) {
            p.touches = isVertexInsideWindow(p.window, p.units,
                                             keywordRemainder(line, PATCH_VERTEX), p.box);
        }
    } else if (hasKeyword(line, END_PRIMITIVE)) {
        closeBlock(p);
    }
}

}  // namespace

void readTextTile(TextPass& p) {
    while (!atEnd(p.input)) {
        std::string_view line = readLine(p.input, p.inBlock ? WHOLE_LINE : HEAD_LIMIT);
        if (p.input.lineCut) {
            if (!line.starts_with(BEGIN_PRIMITIVE)) {
                skipLine(p.input);
                continue;
            }
            line = readLine(p.input);
        }
        if (line.empty()) continue;
        if (hasKeyword(line, BEGIN_PRIMITIVE)) {
            openBlock(p);
        } else if (p.inBlock) {
            takeBlockLine(p, line);
        } else {
            noteTileLine(p.rasterLines, line);
            noteTerrainLine(p.found.terrain, p.patch, line);
            if (p.trace && hasKeyword(line, "END_PATCH")) {
                p.trace->source.lastPatchEnd = readOffset(p.input);
            }
        }
    }
    if (p.copying) dropTail(p.out, p.blockStart);  // a block still open at the end is dropped
}

TextPassWay textPassWayFromEnvironment() {
    TextPassWay way;
    std::string asked = environmentValue("MESH_CARVER_TEXT_PASS");
    if (asked == "plain") way.quickLook = false, way.parts = 1;
    if (asked.starts_with("parts=")) {
        way.parts = uint32_t(std::clamp(parseInteger(std::string_view(asked).substr(6)), 0, 64));
    }
    return way;
}

namespace {

// The parts after the first, where the pass reads in parts.
std::vector<LaterPart> laterParts(const std::vector<uint64_t>& starts,
                                  const SelectionWindow& window) {
    std::vector<LaterPart> parts(starts.size() - 1);
    for (size_t k = 0; k < parts.size(); ++k) {
        parts[k].first = starts[k + 1];
        parts[k].limit = k + 2 < starts.size() ? starts[k + 2] : UINT64_MAX;
        parts[k].found.window = window;
    }
    return parts;
}

// The pass's outcome: the first failure (reading, taking in the parts, writing the temporary
// file), the tile's corner, and the raster its lines describe.
void finishSelection(TextPass& pass, Status partsTaken, bool written, const std::string& inputPath,
                     const TempFile& temp, const OutputFile& out, Selection& found) {
    const LineReader& input = pass.input;
    const TextRasterLines& lines = pass.rasterLines;
    found.terrain.west = lines.bounds[0], found.terrain.south = lines.bounds[2];
    found.terrain.hasCorner = lines.hasBound[0] && lines.hasBound[2];
    if (input.readFailed) {
        found.status =
            failedWith(Failure::readInput, "reading " + inputPath + " failed: " + input.error);
    } else if (!partsTaken.ok()) {
        found.status = std::move(partsTaken);
    } else if (!written) {
        found.status =
            failedWith(Failure::writeTemp, "writing " + temp.path + " failed: " + out.error);
    }
    if (found.status.ok() && lines.elevationIndex >= 0) {
        found.raster.described =
            std::make_shared<const TextRasterLines>(std::move(pass.rasterLines));
        found.raster.describedBy = inputPath;
    }
}

}  // namespace

void selectFromText(const std::string& inputPath, TempFile& temp, OutputFile& console,
                    Selection& found, TileTrace* trace, size_t readBlockSize,
                    const TextPassWay& way) {
    LineReader input;
    if (!openForReading(input, inputPath, readBlockSize)) {
        found.status =
            failedWith(Failure::openInput, "cannot open " + inputPath + ": " + systemErrorText());
        return;
    }
    OutputFile out;
    if (found.status = takeTempFile(temp, out); !found.status.ok()) {
        closeReader(input);
        return;
    }
    // a large tile in parts read by two threads at once; the put-back's trace wants one pass
    std::vector<uint64_t> starts =
        trace ? std::vector<uint64_t>{0} : partStarts(inputPath, found.window, way);
    std::vector<LaterPart> parts = laterParts(starts, found.window);
    PartQueue queue{parts, inputPath, way.quickLook, console};
    HelperThread second;
    if (!parts.empty()) {
        readPart(input, 0, starts[1]);
        // the parts, the queue, the path and the console outlive the wait below
        second.handOver([&queue] { readQueuedParts(queue); });
    }
    ProgressMeter meter;
    startProgress(meter, parts.empty() ? uint64_t(fileSize(inputPath)) : starts[1], "Reading");
    input.progress = &meter;
    TextPass pass{
        found.window, unitsOf(found.window, way.quickLook), input, out, console, meter, found,
        trace};
    readTextTile(pass);
    clearProgress(meter);
    readQueuedParts(queue);
    second.waitUntilIdle();
    Status partsTaken;
    if (!input.readFailed) partsTaken = takeInParts(pass, parts, out, inputPath);
    closeReader(input);
    bool written = closeFile(out);
    finishSelection(pass, std::move(partsTaken), written, inputPath, temp, out, found);
}

}  // namespace mc
