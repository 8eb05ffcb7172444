// The selection pass over a text tile: primitive blocks copied whole when a vertex is inside.
#include <algorithm>
#include <cmath>

#include "cut/raster_intake.h"
#include "cut/selection.h"
#include "cut/tile_trace.h"
#include "text/console.h"
#include "text/line_reader.h"

namespace mc {

namespace {

// Outside a block only the keyword matters, so a longer line is skipped unread.
constexpr size_t HEAD_LIMIT = 64 << 10;
constexpr uint64_t MAX_PINNED_BLOCK = 16 << 20;

// Most vertices of a tile miss the window in longitude already; the latitude is read only then,
// unless clip=1 needs it for the block's box.
bool isVertexInsideWindow(const SelectionWindow& window, std::string_view remainder,
                          double (&box)[4]) {
    SplitText lon = splitFirstField(remainder);
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

// The loop's state: an open block normally stays in the read buffer (pinned) and is copied only
// when kept; a block too large for that is copied as it is read and taken back when dropped.
struct TextPass {
    const SelectionWindow& window;
    LineReader& input;
    OutputFile& out;
    OutputFile& console;
    ProgressMeter& meter;
    Selection& found;
    TileTrace* trace;
    BlockPatch patch = {};
    TextRasterLines rasterLines = {};
    uint64_t blockLine = 0;  // where the open block's BEGIN_PRIMITIVE line starts in the input
    bool inBlock = false;
    bool copying = false;
    bool touches = false;
    double box[4] = {};  // clip=1: west, east, south, north of the block's vertices so far
    int32_t seenCount = 0;
    uint64_t blockStart = 0;  // the block's offset in the input, or in the temporary file
};

void openBlock(TextPass& p) {
    if (p.copying) dropTail(p.out, p.blockStart);  // an unfinished block is abandoned
    p.inBlock = true;
    p.copying = false;
    p.touches = false;
    p.box[0] = p.box[2] = INFINITY, p.box[1] = p.box[3] = -INFINITY;
    ++p.seenCount;
    p.blockStart = p.blockLine = p.input.lineOffset;
    pinFrom(p.input, p.blockStart);
}

void closeBlock(TextPass& p) {
    p.inBlock = false;
    if (!p.touches && p.window.clip) {
        p.touches = boxMeetsWindow(p.window, p.box[0], p.box[1], p.box[2], p.box[3]);
    }
    if (p.touches) {
        if (!p.copying) copyPinnedLines(p.out, p.input);
        p.touches = false;
        ++p.found.keptCount;
        p.found.terrain.keptPatches.push_back(p.patch);
        if (p.trace) p.trace->keptSources.push_back(p.blockLine);
        clearProgress(p.meter);
        writeProgressLine(p.console, "Step 1: ", p.found.keptCount, p.seenCount);
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
    } else if (readOffset(p.input) - p.blockStart > MAX_PINNED_BLOCK) {
        p.copying = true;
        p.blockStart = bytesWritten(p.out);
        copyPinnedLines(p.out, p.input);
        unpin(p.input);
    }
    if (hasKeyword(line, PATCH_VERTEX)) {
        if (!p.touches) {
            p.touches = isVertexInsideWindow(p.window, keywordRemainder(line, PATCH_VERTEX), p.box);
        }
    } else if (hasKeyword(line, END_PRIMITIVE)) {
        closeBlock(p);
    }
}

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

}  // namespace

void selectFromText(const std::string& inputPath, TempFile& temp, OutputFile& console,
                    Selection& found, TileTrace* trace, size_t readBlockSize) {
    LineReader input;
    if (!openForReading(input, inputPath, readBlockSize)) {
        found.status =
            failedWith(Failure::openInput, "cannot open " + inputPath + ": " + systemErrorText());
        return;
    }
    ProgressMeter meter;
    startProgress(meter, uint64_t(fileSize(inputPath)), "Reading");
    input.progress = &meter;
    OutputFile out;
    if (found.status = takeTempFile(temp, out); !found.status.ok()) {
        closeReader(input);
        return;
    }
    TextPass pass{found.window, input, out, console, meter, found, trace};
    readTextTile(pass);
    bool readFailed = input.readFailed;
    closeReader(input);
    clearProgress(meter);
    bool written = closeFile(out);
    const TextRasterLines& lines = pass.rasterLines;
    found.terrain.west = lines.bounds[0], found.terrain.south = lines.bounds[2];
    found.terrain.hasCorner = lines.hasBound[0] && lines.hasBound[2];
    if (readFailed) {
        found.status =
            failedWith(Failure::readInput, "reading " + inputPath + " failed: " + input.error);
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

}  // namespace mc
