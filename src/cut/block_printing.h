// Kept blocks of a binary tile printed as its text form prints them, a batch at a time: one
// batch is printed while the next is collected, in pieces that either core takes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cut/cut.h"
#include "dsf/commands.h"
#include "dsf/point_values.h"
#include "platform/helper_thread.h"

namespace mc {

/// The text of a value lately printed in one plane: a point is printed once for every
/// primitive that uses it, and neighbours share coordinates, so values repeat within a few
/// lines. Texts are tagged with the plane's scale, so that pools scaled alike share them.
struct PrintedValue {
    uint32_t scaleTag = 0;  // 0 while empty
    uint16_t raw = 0;
    uint8_t length = 0;
    char text[17];
};

/// A printer's own decoded-value cache and scratch, so that two can work at once.
struct Lane {
    dsf::PointValues values;
    const std::vector<uint32_t>* scaleTags = nullptr;  // per plane of the tile
    std::vector<dsf::PlaneScale> scales;               // of the pool being printed
    std::vector<uint32_t> tags;                        // of the pool being printed
    int64_t scalesPool = -1;
    std::vector<PrintedValue> printed;  // PRINTED_VALUES per plane
    std::vector<uint16_t> raws;         // of the vertex being printed
};

struct KeptBlock {
    int32_t type;
    uint32_t depth;
    size_t firstVertex, vertexCount;
};

constexpr size_t BATCH_VERTICES = 1 << 16;
constexpr size_t BATCH_PIECES = 8;

/// Kept blocks waiting to be printed, in order. They are printed in pieces, each into a text of
/// its own, so that either thread can take the next piece; the texts go to the file in order.
struct Batch {
    std::vector<KeptBlock> blocks;
    std::vector<dsf::VertexRef> vertices;
    size_t pieceEnds[BATCH_PIECES] = {};  // the block each piece ends before
    TextBlock texts[BATCH_PIECES];
    std::atomic<size_t> nextPiece{BATCH_PIECES};  // the piece to take next
};

struct BlockPrinter {
    explicit BlockPrinter(dsf::Tile& tile);
    dsf::Tile& tile;
    std::vector<uint32_t> scaleTags;  // planes scaled alike print a raw value alike
    Lane lane;                        // the main thread's; the window test reads through it too
    Lane helperLane;
    HelperThread helper;  // prints pieces beside the main thread, from the first large batch
    Batch batches[2];
    size_t filling = 0;         // the batch collecting kept blocks
    Batch* printing = nullptr;  // the batch being printed
};

/// Adds the block to the batch being collected; a full batch goes to printing.
void printKeptBlock(BlockPrinter& printer, const dsf::Primitive& primitive, OutputFile& out);
/// Prints and writes everything kept so far.
void finishPrinting(BlockPrinter& printer, OutputFile& out);

}  // namespace mc
