// A binary tile's kept blocks printed as its text form prints them, a batch at a time.
#include "cut/block_printing.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "text/fixed9.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

constexpr size_t PRINTED_VALUES = 1024;  // per plane, by raw value: small enough to stay cached

// Planes scaled alike print a raw value alike: one tag (from 1) per scale and offset.
std::vector<uint32_t> scaleTagsOf(const dsf::Tile& tile) {
    std::vector<uint32_t> tags(tile.planes.size());
    std::unordered_map<uint64_t, uint32_t> known;
    for (const dsf::Pool& pool : tile.pools) {
        for (uint32_t p = 0; p < pool.planeCount; ++p) {
            uint64_t key;
            std::memcpy(&key, tile.geometry + pool.scaleOffset + size_t(p) * 8, 8);
            tags[pool.firstPlane + p] =
                known.try_emplace(key, uint32_t(known.size() + 1)).first->second;
        }
    }
    return tags;
}

char* append(char* at, std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// Writes the value's text as lately printed, or prints and remembers it; touches up to
// sizeof PrintedValue::text bytes from `at`.
char* printValue(PrintedValue* plane, uint32_t scaleTag, dsf::PlaneScale scale, uint16_t raw,
                 char* at) {
    PrintedValue& known = plane[(raw * 40503u >> 6) & (PRINTED_VALUES - 1)];
    if (known.scaleTag == scaleTag && known.raw == raw) {
        std::memcpy(at, known.text, sizeof known.text);
        return at + known.length;
    }
    char* end = fixed9ToText(dsf::decodeValue(scale, raw), at);
    size_t length = size_t(end - at);
    if (length <= sizeof known.text) {
        std::memcpy(known.text, at, sizeof known.text);
        known.scaleTag = scaleTag, known.raw = raw, known.length = uint8_t(length);
    }
    return end;
}

// Grows the text so that a line of the given length fits at `at`; returns where it goes now.
[[gnu::noinline]] char* growText(TextBlock& text, char* at, size_t line) {
    size_t used = size_t(at - text.bytes.data());
    text.bytes.resize(std::max(2 * text.bytes.size(), used + line));
    return text.bytes.data() + used;
}

char* roomFor(TextBlock& text, char* at, size_t line) {
    bool fits = size_t(text.bytes.data() + text.bytes.size() - at) >= line;
    return fits ? at : growText(text, at, line);
}

// The plane scales of the pool and their tags, fetched when the pool or the depth changes.
void fetchScales(Lane& lane, const dsf::Tile& tile, uint32_t pool, uint32_t depth) {
    if (lane.scalesPool == int64_t(pool) && lane.scales.size() == depth) return;
    lane.scales.resize(depth);
    lane.tags.resize(depth);
    for (uint32_t p = 0; p < depth; ++p) {
        lane.scales[p] = dsf::planeScale(tile, pool, p);
        lane.tags[p] = (*lane.scaleTags)[tile.pools[pool].firstPlane + p];
    }
    lane.scalesPool = pool;
}

// "PATCH_VERTEX" and the point's values. The lane's arrays are read through locals: any byte
// stored through `at` could otherwise change them, as far as the compiler knows.
char* printVertexLine(Lane& lane, const dsf::Pool& pool, uint32_t index, uint32_t depth, char* at) {
    uint16_t* raws = lane.raws.data();
    // the raw values first: their loads overlap, where each print's branch would stop them
    for (uint32_t p = 0; p < depth; ++p) raws[p] = dsf::rawValue(lane.values, pool, p, index);
    const uint32_t* tags = lane.tags.data();
    const dsf::PlaneScale* scales = lane.scales.data();
    PrintedValue* printed = lane.printed.data();
    at = append(at, PATCH_VERTEX);
    for (uint32_t p = 0; p < depth; ++p) {
        *at++ = ' ';
        at = printValue(printed + p * PRINTED_VALUES, tags[p], scales[p], raws[p], at);
    }
    return append(at, LINE_END);
}

// The block as the text form prints it: "BEGIN_PRIMITIVE t", "PATCH_VERTEX" and the patch's
// depth values with nine decimals per vertex, "END_PRIMITIVE"; lines end in CR LF. Every line
// has room for its longest form, so values are copied in whole slots.
void printBlock(Lane& lane, TextBlock& text, const dsf::Tile& tile, const KeptBlock& block,
                const dsf::VertexRef* vertices) {
    size_t longestLine = PATCH_VERTEX.size() + size_t(block.depth) * (FIXED9_MAX_TEXT + 1) + 32;
    if (lane.printed.size() < block.depth * PRINTED_VALUES) {
        lane.printed.resize(block.depth * PRINTED_VALUES);
        lane.raws.resize(block.depth);
    }
    char* at = roomFor(text, text.bytes.data() + text.used, longestLine);
    at = append(at, "BEGIN_PRIMITIVE ");
    at = intToText(block.type, at);
    at = append(at, LINE_END);
    for (size_t k = 0; k < block.vertexCount; ++k) {
        const dsf::VertexRef v = vertices[k];
        fetchScales(lane, tile, v.pool, block.depth);
        at = roomFor(text, at, longestLine);
        at = printVertexLine(lane, tile.pools[v.pool], v.index, block.depth, at);
    }
    at = roomFor(text, at, longestLine);
    at = append(at, END_PRIMITIVE);
    at = append(at, LINE_END);
    text.used = size_t(at - text.bytes.data());
}

// Prints pieces of the batch until none is left to take; either thread runs this.
void printPieces(Batch& batch, Lane& lane, const dsf::Tile& tile) {
    for (size_t piece; (piece = batch.nextPiece.fetch_add(1)) < BATCH_PIECES;) {
        size_t from = piece == 0 ? 0 : batch.pieceEnds[piece - 1];
        for (size_t b = from; b < batch.pieceEnds[piece]; ++b) {
            const KeptBlock& block = batch.blocks[b];
            printBlock(lane, batch.texts[piece], tile, block,
                       batch.vertices.data() + block.firstVertex);
        }
    }
}

// Prints what is left of the batch being printed, waits for the helper's pieces and passes the
// texts to the file in order.
void finishBatch(BlockPrinter& p, OutputFile& out) {
    if (!p.printing) return;
    Batch& batch = *p.printing;
    printPieces(batch, p.lane, p.tile);
    p.helper.waitUntilIdle();
    p.printing = nullptr;
    for (TextBlock& text : batch.texts) handOver(out, text);
    batch.blocks.clear();
    batch.vertices.clear();
}

// Splits the batch into pieces of about equal vertex counts and hands it to the helper. What
// the helper reads of the tile is indexed first.
void startBatch(BlockPrinter& p, Batch& batch) {
    int64_t last = -1;
    for (const dsf::VertexRef& v : batch.vertices) {
        if (int64_t(v.pool) == last) continue;
        last = v.pool;
        const dsf::Pool& pool = p.tile.pools[v.pool];
        for (uint32_t plane = 0; plane < pool.planeCount; ++plane) {
            dsf::indexPlane(p.tile, pool, plane);
        }
    }
    size_t block = 0;
    for (size_t piece = 0; piece < BATCH_PIECES; ++piece) {
        size_t share = batch.vertices.size() * (piece + 1) / BATCH_PIECES;
        while (block < batch.blocks.size() && batch.blocks[block].firstVertex < share) ++block;
        batch.pieceEnds[piece] = block;
    }
    batch.pieceEnds[BATCH_PIECES - 1] = batch.blocks.size();
    batch.nextPiece = 0;
    p.printing = &batch;
    // a helper starts with the first large batch: small cuts are printed before it would start
    bool helped =
        std::thread::hardware_concurrency() > 1 && batch.vertices.size() >= BATCH_VERTICES / 2;
    if (!helped && !p.helper.started()) return;
    if (!p.helper.started()) {
        dsf::attachTile(p.helperLane.values, p.tile, dsf::DEFAULT_CACHE_CHUNKS / 2);
        p.helperLane.scaleTags = &p.scaleTags;
    }
    p.helper.handOver([&p, &batch] { printPieces(batch, p.helperLane, p.tile); });
}

}  // namespace

BlockPrinter::BlockPrinter(dsf::Tile& tile) : tile(tile), scaleTags(scaleTagsOf(tile)) {
    dsf::attachTile(lane.values, tile, dsf::DEFAULT_CACHE_CHUNKS / 2);
    lane.scaleTags = &scaleTags;
}

void printKeptBlock(BlockPrinter& printer, const dsf::Primitive& primitive, OutputFile& out) {
    Batch& batch = printer.batches[printer.filling];
    batch.blocks.push_back(
        {primitive.type, primitive.depth, batch.vertices.size(), primitive.vertices.size()});
    batch.vertices.insert(batch.vertices.end(), primitive.vertices.begin(),
                          primitive.vertices.end());
    if (batch.vertices.size() >= BATCH_VERTICES) {
        finishBatch(printer, out);
        startBatch(printer, batch);
        printer.filling ^= 1;
    }
}

void finishPrinting(BlockPrinter& printer, OutputFile& out) {
    finishBatch(printer, out);
    if (!printer.batches[printer.filling].blocks.empty()) {
        startBatch(printer, printer.batches[printer.filling]);
        finishBatch(printer, out);
    }
}

}  // namespace mc
