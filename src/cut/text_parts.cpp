// A large tile's small window read in parts by two threads: each part from a block's start,
// a later part noting where its kept blocks are, taken in once the parts before it are done.
#include <algorithm>
#include <cstring>
#include <thread>

#include "cut/text_pass.h"
#include "platform/platform.h"
#include "text/console.h"

namespace mc {

namespace {

// A large tile is read in parts by two threads at once, each part starting at a block: parts
// of at least this much, this many of them, so that a thread that reads faster takes more.
constexpr uint64_t PART_FROM_BYTES = 32 << 20;
constexpr uint64_t MOST_PARTS = 16;
// How far past its place a part's first block is looked for.
constexpr uint64_t SPLIT_SEARCH_BYTES = 16 << 20;
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

}  // namespace

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

}  // namespace mc
