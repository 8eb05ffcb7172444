// The text selection pass's own state and its parts, shared by the one pass over a tile
// (text_selection.cpp) and the parts two threads read of a large one (text_parts.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cut/quick_look.h"
#include "cut/raster_intake.h"
#include "cut/selection.h"
#include "text/line_reader.h"
#include "text/output_file.h"

namespace mc {

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

/// Reads the pass's lines to the end of its data: blocks opened, tested, kept or dropped.
void readTextTile(TextPass& p);

// A later part's patch until it meets a BEGIN_PATCH: the parts' before it, filled in later.
constexpr BlockPatch PATCH_BEFORE = {UINT32_MAX, UINT32_MAX, UINT32_MAX};

inline bool isPatchBefore(const BlockPatch& patch) {
    return patch.definition == PATCH_BEFORE.definition && patch.flags == PATCH_BEFORE.flags &&
           patch.depth == PATCH_BEFORE.depth;
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

// The parts after the first, read by two threads from a shared count: the second thread starts
// on them at once, the first joins once its own part is done.
struct PartQueue {
    std::vector<LaterPart>& parts;
    const std::string& inputPath;
    bool quickLook;
    OutputFile& console;
    std::atomic<size_t> next = 0;
};

/// Where the parts start (the first at 0), each at a block.
std::vector<uint64_t> partStarts(const std::string& inputPath, const SelectionWindow& window,
                                 const TextPassWay& way);
/// Takes parts from the queue and reads them until none is left.
void readQueuedParts(PartQueue& queue);
/// After the first part: the later ones taken in, in order.
Status takeInParts(TextPass& pass, std::vector<LaterPart>& parts, OutputFile& out,
                   const std::string& inputPath);

}  // namespace mc
