// The selection pass over a text tile: primitive blocks copied whole when a vertex is inside.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <optional>
#include <thread>

#include "cut/quick_look.h"
#include "cut/raster_intake.h"
#include "cut/selection.h"
#include "cut/tile_trace.h"
#include "platform/helper_thread.h"
#include "platform/platform.h"
#include "text/console.h"
#include "text/line_reader.h"
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

// The loop's state: an open block normally stays in the read buffer (pinned) and is copied only
// when kept; a block too large for that is copied as it is read and taken back when dropped.
struct TextPass {
    const SelectionWindow& window;
    LongitudeUnits units;
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
    // a later part's: its kept blocks noted by their place, copied once the parts before it are
    std::vector<struct KeptPlace>* keptPlaces = nullptr;
};

struct KeptPlace {
    uint64_t start, end;  // the block's bytes in the input
    int32_t seen;         // blocks seen in its part up to it
};

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

namespace {

// A large tile is read in parts by two threads at once, each part starting at a block: parts
// of at least this much, this many of them, so that a thread that reads faster takes more.
constexpr uint64_t PART_FROM_BYTES = 32 << 20;
constexpr uint64_t MOST_PARTS = 16;
// How far past its place a part's first block is looked for.
constexpr uint64_t SPLIT_SEARCH_BYTES = 16 << 20;
// A later part's patch until it meets a BEGIN_PATCH: the parts' before it, filled in later.
constexpr BlockPatch PATCH_BEFORE = {UINT32_MAX, UINT32_MAX, UINT32_MAX};

bool isPatchBefore(const BlockPatch& patch) {
    return patch.definition == PATCH_BEFORE.definition && patch.flags == PATCH_BEFORE.flags &&
           patch.depth == PATCH_BEFORE.depth;
}

// Whether the bytes at `at` start a line the loop takes as a BEGIN_PRIMITIVE line.
bool opensBlock(const char* at, const char* end) {
    std::string_view rest(at, size_t(end - at));
    if (!rest.starts_with(BEGIN_PRIMITIVE)) return false;
    rest.remove_prefix(BEGIN_PRIMITIVE.size());
    return rest.starts_with(' ') || rest.starts_with('\n') || rest.starts_with("\r\n") ||
           rest.starts_with("\r\r\n");
}

// The start of the first BEGIN_PRIMITIVE line from `from` on (a line start: the byte before is a
// LF), within reach; 0 when there is none, or when a 0x1A byte comes first (the data end there).
uint64_t blockStartFrom(FileHandle handle, uint64_t from, uint64_t size, std::vector<char>& bytes) {
    bytes.resize(1 << 20);
    const size_t overlap = BEGIN_PRIMITIVE.size() + 4;
    for (uint64_t at = from - 1; at < std::min(size, from + SPLIT_SEARCH_BYTES);) {
        int64_t got = readHandleAt(handle, bytes.data(), bytes.size(), at);
        if (got <= 0) return 0;
        const char* data = bytes.data();
        const char* end = data + got;
        if (std::memchr(data, 0x1A, size_t(got))) return 0;
        for (const char* lf = data;
             (lf = static_cast<const char*>(std::memchr(lf, '\n', size_t(end - lf)))) != nullptr;
             ++lf) {
            if (size_t(end - lf) < overlap && at + uint64_t(got) < size) break;
            if (opensBlock(lf + 1, end)) return at + uint64_t(lf + 1 - data);
        }
        if (at + uint64_t(got) >= size) return 0;
        at += uint64_t(got) - overlap;
    }
    return 0;
}

// Parts pay where little is kept: a window over more than a quarter of a one-degree tile keeps
// so much that copying it, one block after another, is the pass's whole cost.
constexpr double MOST_SQUARE_DEGREES_IN_PARTS = 0.25;

// Where the parts start (the first at 0), each at a block: one part for a small file, a large
// window or a machine of one core, unless the way asks for parts (the tests': a number of equal
// parts, or two, the second from `splitFrom`).
std::vector<uint64_t> partStarts(const std::string& inputPath, const SelectionWindow& window,
                                 const TextPassWay& way) {
    std::vector<uint64_t> starts = {0};
    int64_t size = fileSize(inputPath);
    uint64_t parts =
        std::min<uint64_t>(MOST_PARTS, uint64_t(std::max<int64_t>(size, 0)) / PART_FROM_BYTES);
    double squareDegrees = std::max(0.0, window.latMax - window.latMin) *
                           std::max(0.0, window.longMax - window.longMin);
    if (way.parts > 0) {
        parts = way.parts;
    } else if (!way.splitFrom && (parts < 2 || std::thread::hardware_concurrency() < 2 ||
                                  !(squareDegrees <= MOST_SQUARE_DEGREES_IN_PARTS))) {
        return starts;
    }
    FileHandle handle = openReadHandle(inputPath);
    if (handle == NO_FILE) return starts;
    std::vector<char> bytes;
    std::vector<uint64_t> places;
    if (way.splitFrom) {
        places.push_back(*way.splitFrom);
    } else {
        for (uint64_t k = 1; k < parts; ++k) places.push_back(uint64_t(size) / parts * k);
    }
    for (uint64_t place : places) {
        if (place == 0 || place >= uint64_t(size)) continue;
        uint64_t start = blockStartFrom(handle, place, uint64_t(size), bytes);
        if (start == 0) break;  // none, or the data end before it
        if (start > starts.back()) starts.push_back(start);
    }
    closeHandle(handle);
    return starts;
}

// A part after the first: its kept blocks noted by their place, its "Step 1" lines and the
// lines it notes kept until the parts before it are known. Its reader lives while it is read.
struct LaterPart {
    uint64_t first = 0, limit = UINT64_MAX;
    Selection found = {};
    std::vector<KeptPlace> kept = {};
    TextRasterLines rasterLines = {};
    BlockPatch lastPatch = PATCH_BEFORE;
    int32_t seenCount = 0;
    bool endedEarly = false;     // its data ended before its limit (a 0x1A byte)
    std::string readError = {};  // why reading failed, when it did
};

void readLaterPart(LaterPart& part, const std::string& inputPath, bool quickLook,
                   OutputFile& console) {
    LineReader input;
    if (!openForReading(input, inputPath)) {
        part.readError = "cannot open it again: " + systemErrorText();
        return;
    }
    readPart(input, part.first, part.limit);
    OutputFile unused;    // a later part copies nothing as it reads
    ProgressMeter quiet;  // nor says anything on the terminal
    TextPass pass{part.found.window,
                  unitsOf(part.found.window, quickLook),
                  input,
                  unused,
                  console,
                  quiet,
                  part.found,
                  nullptr};
    pass.patch = PATCH_BEFORE;
    pass.keptPlaces = &part.kept;
    readTextTile(pass);
    part.rasterLines = std::move(pass.rasterLines);
    part.lastPatch = pass.patch;
    part.seenCount = pass.seenCount;
    if (input.readFailed) part.readError = input.error;
    part.endedEarly = !input.limitReached && part.limit != UINT64_MAX;
    closeReader(input);
}

// A kept block's lines from the input, as the pass copies them: blank ones left out.
bool copyKeptLines(OutputFile& out, LineReader& reader, const KeptPlace& place) {
    readPart(reader, place.start, place.end);
    while (!atEnd(reader)) {
        std::string_view line = readLine(reader);
        if (!line.empty()) writeLine(out, line);
    }
    return !reader.readFailed;
}

// A later part taken in after those before it: its kept blocks copied, counted on from theirs,
// their patch the last one before until the part names one, its lines noted after theirs.
bool takeInLaterPart(TextPass& first, LaterPart& part, OutputFile& out, LineReader& reader) {
    for (const KeptPlace& place : part.kept) {
        if (!copyKeptLines(out, reader, place)) return false;
    }
    Selection& found = first.found;
    for (size_t k = 0; k < part.kept.size(); ++k) {
        BlockPatch patch = part.found.terrain.keptPatches[k];
        found.terrain.keptPatches.push_back(isPatchBefore(patch) ? first.patch : patch);
        ++found.keptCount;
        writeProgressLine(first.console, "Step 1: ", found.keptCount,
                          first.seenCount + part.kept[k].seen);
    }
    first.seenCount += part.seenCount;
    if (!isPatchBefore(part.lastPatch)) first.patch = part.lastPatch;
    for (std::string& name : part.found.terrain.definitions) {
        found.terrain.definitions.push_back(std::move(name));
    }
    TextRasterLines& lines = first.rasterLines;
    const TextRasterLines& more = part.rasterLines;
    for (int k = 0; k < 4; ++k) {
        if (!lines.hasBound[k] && more.hasBound[k]) {
            lines.bounds[k] = more.bounds[k], lines.hasBound[k] = true;
        }
    }
    if (lines.elevationIndex < 0 && more.elevationIndex >= 0) {
        lines.elevationIndex = lines.rasterCount + more.elevationIndex;
    }
    lines.rasterCount += more.rasterCount;
    lines.dataLines.insert(lines.dataLines.end(), more.dataLines.begin(), more.dataLines.end());
    return true;
}

// The parts after the first, read by two threads from a shared count: the second thread starts
// on them at once, the first joins once its own part is done.
struct PartQueue {
    std::vector<LaterPart>& parts;
    const std::string& inputPath;
    bool quickLook;
    OutputFile& console;
    std::atomic<size_t> next = 0;
};

void readQueuedParts(PartQueue& queue) {
    for (size_t k; (k = queue.next.fetch_add(1)) < queue.parts.size();) {
        readLaterPart(queue.parts[k], queue.inputPath, queue.quickLook, queue.console);
    }
}

// After the first part: every later one taken in, in order, up to the first whose data ended
// before its limit (a 0x1A byte: nothing after counts). Fails (readInput or writeTemp) when a
// part could not be read or copied.
Status takeInParts(TextPass& pass, std::vector<LaterPart>& parts, OutputFile& out,
                   const std::string& inputPath) {
    LineReader reader;
    bool endedEarly = !pass.input.limitReached;
    for (LaterPart& part : parts) {
        if (endedEarly) break;
        if (part.readError.empty() && reader.handle == NO_FILE &&
            !openForReading(reader, inputPath)) {
            part.readError = "cannot open it again: " + systemErrorText();
        }
        if (part.readError.empty() && !takeInLaterPart(pass, part, out, reader)) {
            part.readError = reader.error;
        }
        if (!part.readError.empty()) {
            closeReader(reader);
            return failedWith(Failure::readInput,
                              "reading " + inputPath + " failed: " + part.readError);
        }
        endedEarly = part.endedEarly;
    }
    closeReader(reader);
    return {};
}

}  // namespace

TextPassWay textPassWayFromEnvironment() {
    TextPassWay way;
    std::string asked = environmentValue("MESH_CARVER_TEXT_PASS");
    if (asked == "plain") way.quickLook = false, way.parts = 1;
    if (asked.starts_with("parts=")) {
        way.parts = uint32_t(std::clamp(parseInteger(std::string_view(asked).substr(6)), 0, 64));
    }
    return way;
}

void selectFromText(const std::string& inputPath, TempFile& temp, OutputFile& console,
                    Selection& found, TileTrace* trace, size_t readBlockSize,
                    const TextPassWay& way) {
    LineReader input;
    if (!openForReading(input, inputPath, readBlockSize)) {
        found.status =
            failedWith(Failure::openInput, "cannot open " + inputPath + ": " + systemErrorText());
        return;
    }
    ProgressMeter meter;
    OutputFile out;
    if (found.status = takeTempFile(temp, out); !found.status.ok()) {
        closeReader(input);
        return;
    }
    // a large tile in parts read by two threads at once; the put-back's trace wants one pass
    std::vector<uint64_t> starts =
        trace ? std::vector<uint64_t>{0} : partStarts(inputPath, found.window, way);
    std::vector<LaterPart> parts(starts.size() - 1);
    for (size_t k = 0; k < parts.size(); ++k) {
        parts[k].first = starts[k + 1];
        parts[k].limit = k + 2 < starts.size() ? starts[k + 2] : UINT64_MAX;
        parts[k].found.window = found.window;
    }
    PartQueue queue{parts, inputPath, way.quickLook, console};
    HelperThread second;
    if (!parts.empty()) {
        readPart(input, 0, starts[1]);
        // the parts, the queue, the path and the console outlive the wait below
        second.handOver([&queue] { readQueuedParts(queue); });
    }
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

}  // namespace mc
