// The selection pass over a text tile: primitive blocks copied whole when a vertex is inside.
#include "pipeline/raster_intake.h"
#include "pipeline/selection.h"
#include "text/failure_reason.h"
#include "text/line_reader.h"

namespace mc {

namespace {

// Outside a block only the keyword matters, so a longer line is skipped unread.
constexpr size_t HEAD_LIMIT = 64 << 10;
constexpr uint64_t MAX_PINNED_BLOCK = 16 << 20;

// Most vertices of a tile miss the window in longitude already; the latitude is read only then.
bool isVertexInsideWindow(const SelectionWindow& window, std::string_view remainder) {
    SplitText lon = splitFirstField(remainder);
    double longitude = parseNumber(lon.first);
    if (!(window.longMin < longitude && longitude < window.longMax)) return false;
    double latitude = parseNumber(splitFirstField(lon.rest).first);
    return window.latMin < latitude && latitude < window.latMax;
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

}  // namespace

Failure selectFromText(const SelectionWindow& window, const std::string& inputPath, TempFile& temp,
                       OutputFile& console, int32_t& keptCount, ElevationRaster& raster,
                       TileTerrain& terrain, size_t readBlockSize) {
    keptCount = 0;
    BlockPatch patch;
    TextRasterLines rasterLines;
    LineReader input;
    if (!openForReading(input, inputPath, readBlockSize)) {
        noteFailureReason("cannot open " + inputPath + ": " + systemErrorText());
        return Failure::openInput;
    }
    ProgressMeter meter;
    startProgress(meter, uint64_t(fileSize(inputPath)), "Reading");
    input.progress = &meter;
    OutputFile out;
    if (Failure failure = takeTempFile(temp, out); failure != Failure::none) {
        closeReader(input);
        return failure;
    }

    // An open block normally stays in the read buffer (pinned) and is copied only when kept;
    // a block too large for that is copied as it is read and taken back when dropped.
    bool inBlock = false;
    bool copying = false;
    bool touches = false;
    int32_t seenCount = 0;
    uint64_t blockStart = 0;  // the block's offset in the input, or in the temporary file
    while (!atEnd(input)) {
        std::string_view line = readLine(input, inBlock ? WHOLE_LINE : HEAD_LIMIT);
        if (input.lineCut) {
            if (!line.starts_with(BEGIN_PRIMITIVE)) {
                skipLine(input);
                continue;
            }
            line = readLine(input);
        }
        if (line.empty()) continue;
        if (hasKeyword(line, BEGIN_PRIMITIVE)) {
            if (copying) dropTail(out, blockStart);  // an unfinished block is abandoned
            inBlock = true;
            copying = false;
            touches = false;
            ++seenCount;
            blockStart = input.lineOffset;
            pinFrom(input, blockStart);
            continue;
        }
        if (!inBlock) {
            noteTileLine(rasterLines, line);
            noteTerrainLine(terrain, patch, line);
            continue;
        }
        if (copying) {
            writeLine(out, line);
        } else if (readOffset(input) - blockStart > MAX_PINNED_BLOCK) {
            copying = true;
            blockStart = bytesWritten(out);
            copyPinnedLines(out, input);
            unpin(input);
        }
        if (hasKeyword(line, PATCH_VERTEX)) {
            if (!touches)
                touches = isVertexInsideWindow(window, keywordRemainder(line, PATCH_VERTEX));
        } else if (hasKeyword(line, END_PRIMITIVE)) {
            inBlock = false;
            if (touches) {
                if (!copying) copyPinnedLines(out, input);
                touches = false;
                ++keptCount;
                terrain.keptPatches.push_back(patch);
                clearProgress(meter);
                writeProgressLine(console, "Step 1: ", keptCount, seenCount);
            } else if (copying) {
                dropTail(out, blockStart);
            }
            copying = false;
            unpin(input);
        }
    }
    if (copying) dropTail(out, blockStart);  // a block still open at the end is dropped
    bool readFailed = input.readFailed;
    closeReader(input);
    clearProgress(meter);
    bool written = closeFile(out);
    terrain.west = rasterLines.bounds[0], terrain.south = rasterLines.bounds[2];
    terrain.hasCorner = rasterLines.hasBound[0] && rasterLines.hasBound[2];
    if (readFailed) {
        noteFailureReason("reading " + inputPath + " failed: " + input.error);
        return Failure::readInput;
    }
    if (rasterLines.elevationIndex >= 0) {
        raster.described = std::make_shared<const TextRasterLines>(std::move(rasterLines));
        raster.describedBy = inputPath;
    }
    if (!written) noteFailureReason("writing " + temp.path + " failed: " + out.error);
    return written ? Failure::none : Failure::writeTemp;
}

}  // namespace mc
