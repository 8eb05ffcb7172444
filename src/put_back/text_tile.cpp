// The put-back into a text tile: every line copied as the file has it, but the kept blocks (their
// taken triangles left out), overlay lines on the changed terrain (a new height), and the new
// patches, written after the last END_PATCH in the file's own line ends.
#include <algorithm>
#include <cmath>

#include "put_back/pieces.h"
#include "put_back/put_back.h"
#include "text/fixed9.h"
#include "text/line_reader.h"

namespace mc {

namespace {

// A block being read: its BEGIN_PRIMITIVE line, its other lines (blank ones left out), and all of
// them as the file has them.
struct OpenBlock {
    bool open = false;
    int64_t kept = -1;  // its number among the kept blocks, or -1
    std::string head;
    std::vector<std::string> lines;
    std::string raw;
};

struct TextRewrite {
    const Cut& cut;
    const TileTrace& trace;
    const PutBackPlan& plan;
    WholeFile& out;
    LineReader input = {};
    std::string lineEnd = "\n";
    uint32_t patchDefinition = 0, patchFlags = 0, patchDepth = 0;
    std::string patchLod = {};  // the BEGIN_PATCH line's near and far fields
    std::map<uint32_t, std::vector<std::pair<std::string, uint64_t>>> lods = {};
    size_t nextKept = 0;
    OpenBlock block = {};
    bool patchesWritten = false;
    uint64_t overlayPoints = 0;
};

void put(TextRewrite& w, std::string_view text) {
    writeText(w.out.out, text);
}
void putLine(TextRewrite& w, std::string_view text) {
    put(w, text);
    put(w, w.lineEnd);
}

// "BEGIN_PATCH 1 0.000000 -1.000000 1 5": definition, LOD near and far, flags, depth.
void notePatch(TextRewrite& w, std::string_view line) {
    SplitText field = splitFirstField(line);
    double values[5] = {0, 0, 0, 0, 0};
    std::string_view texts[5];
    for (int k = 0; k < 5; ++k) {
        field = splitFirstField(field.rest);
        texts[k] = field.first;
        values[k] = parseNumber(field.first);
    }
    auto whole = [](double v) { return v >= 0 && v < 4294967296.0 ? uint32_t(v) : 0u; };
    w.patchDefinition = whole(values[0]), w.patchFlags = whole(values[3]);
    w.patchDepth = whole(values[4]);
    w.patchLod = std::string(texts[1]) + " " + std::string(texts[2]);
}

std::string newPointLine(const TextRewrite& w, uint32_t point) {
    const NewPoints& points = w.plan.points;
    const PlannedPool& pool = points.pools[points.pool[point]];
    std::string line(PATCH_VERTEX);
    char text[FIXED9_MAX_TEXT];
    for (uint32_t plane = 0; plane < points.depth[point]; ++plane) {
        double value = decoded(points.raws[points.firstRaw[point] + plane], pool.scales[plane],
                               pool.offsets[plane]);
        line.append(1, ' ').append(text, fixed9ToText(value, text));
    }
    return line;
}

Status writeCornerLine(TextRewrite& w, const FitCorner& corner) {
    if (!corner.original) return putLine(w, newPointLine(w, corner.index)), Status{};
    std::string_view line;
    if (!keptLine(w.cut.lines, sourceOffset(w.cut.mesh.vertices[corner.index]), line)) {
        return keptLinesFailure(w.cut);
    }
    putLine(w, line);
    return {};
}

// A patch per definition: its triangles as strips where they chain and lists for the rest,
// original points as their lines, new ones printed from their pools.
Status writeNewPatches(TextRewrite& w) {
    w.patchesWritten = true;
    std::vector<Piece> pieces;
    for (const auto& [definition, patch] : w.plan.patches) {
        newPrimitives(w.plan.fitted, definition, pieces);
        if (pieces.empty()) continue;
        auto lods = w.lods.find(definition);
        std::string lod = lods == w.lods.end() ? "0.000000 -1.000000" : mostCommon(lods->second);
        putLine(w, "BEGIN_PATCH " + std::to_string(definition) + " " + lod + " " +
                       std::to_string(patch.flags) + " " + std::to_string(patch.depth));
        for (const Piece& piece : pieces) {
            putLine(w, "BEGIN_PRIMITIVE " + std::to_string(piece.type));
            for (uint32_t key : piece.lines) {
                if (Status status = writeCornerLine(w, cornerOfKey(key)); !status.ok()) {
                    return status;
                }
            }
            putLine(w, END_PRIMITIVE);
        }
        putLine(w, "END_PATCH");
    }
    return {};
}

// The line with a new elevation when it lies on the changed terrain.
bool withChangedHeight(TextRewrite& w, std::string& line) {
    SplitText keyword = splitFirstField(line);
    SplitText lon = splitFirstField(keyword.rest);
    SplitText lat = splitFirstField(lon.rest);
    if (keyword.first != PATCH_VERTEX || lat.rest.empty()) return false;
    Metres place = metresOfPlace(w.cut, parseNumber(lon.first), parseNumber(lat.first));
    double height;
    if (!changedHeightAt(w.plan.surface, place.x, place.z, height)) return false;
    SplitText elev = splitFirstField(lat.rest);
    double own = parseNumber(elev.first);
    if (own == RASTER_HEIGHT_FLAG && w.cut.raster.present) {
        own = rasterHeight(w.cut.raster, parseNumber(lon.first), parseNumber(lat.first));
    }
    if (std::fabs(height - own) < HEIGHT_UNCHANGED) return false;
    char text[FIXED9_MAX_TEXT];
    std::string value(text, fixed9ToText(quantisedElevation(height), text));
    size_t start = size_t(elev.first.data() - line.data());
    line.replace(start, elev.first.size(), value);
    ++w.overlayPoints;
    return true;
}

void countLod(TextRewrite& w, const std::vector<uint8_t>& taken) {
    auto patch = w.plan.patches.find(w.patchDefinition);
    if (patch == w.plan.patches.end() || patch->second.flags != w.patchFlags ||
        patch->second.depth != w.patchDepth) {
        return;
    }
    countValue(w.lods[w.patchDefinition], w.patchLod,
               uint64_t(std::count(taken.begin(), taken.end(), 1)));
}

void putBlock(TextRewrite& w, std::string_view head, const std::vector<std::string>& lines,
              const std::vector<uint32_t>* which) {
    putLine(w, head);
    if (which) {
        for (uint32_t line : *which) putLine(w, lines[line]);
    } else {
        for (const std::string& line : lines) putLine(w, line);
    }
    putLine(w, END_PRIMITIVE);
}

// A block ends: a kept base block loses the cut's triangles, an overlay block takes the changed
// terrain's heights; any other stays as the file has it.
void closeBlock(TextRewrite& w) {
    OpenBlock& b = w.block;
    b.open = false;
    std::vector<uint8_t> taken;
    bool keptBase =
        b.kept >= 0 && !(w.cut.terrain.keptPatches[size_t(b.kept)].flags & OVERLAY_PATCH_FLAG);
    if (keptBase) {
        takenTriangles(w.trace, size_t(b.kept), taken, &w.plan.leaving);
        countLod(w, taken);
    }
    if (std::count(taken.begin(), taken.end(), 1) > 0) {
        int32_t type = parseInteger(splitBeforeSpace(b.head).rest);
        std::vector<Piece> pieces;
        remainingPieces(type, uint32_t(b.lines.size()), taken, pieces);
        for (const Piece& piece : pieces) {
            putBlock(w, "BEGIN_PRIMITIVE " + std::to_string(piece.type), b.lines, &piece.lines);
        }
        return;
    }
    bool changed = false;
    if (w.patchFlags & OVERLAY_PATCH_FLAG) {
        for (std::string& line : b.lines) changed = withChangedHeight(w, line) || changed;
    }
    if (changed) return putBlock(w, b.head, b.lines, nullptr);
    put(w, b.raw);
}

// Kept blocks and overlay blocks are held until they end; others go out line by line.
void openBlock(TextRewrite& w, std::string_view line, std::string_view raw) {
    OpenBlock& b = w.block;
    b.kept = -1;
    const std::vector<uint64_t>& kept = w.trace.keptSources;
    if (w.nextKept < kept.size() && kept[w.nextKept] == w.input.lineOffset) {
        b.kept = int64_t(w.nextKept++);
    }
    b.open = b.kept >= 0 || (w.patchFlags & OVERLAY_PATCH_FLAG);
    if (!b.open) return put(w, raw);
    b.head = line;
    b.lines.clear();
    b.raw = raw;
}

void takeBlockLine(TextRewrite& w, std::string_view line, std::string_view raw) {
    OpenBlock& b = w.block;
    if (hasKeyword(line, BEGIN_PRIMITIVE)) {  // the open block is abandoned, as it stands
        put(w, b.raw);
        b.open = false;
        return openBlock(w, line, raw);
    }
    b.raw += raw;
    if (hasKeyword(line, END_PRIMITIVE)) return closeBlock(w);
    if (!line.empty()) b.lines.emplace_back(line);
}

Status rewriteLines(TextRewrite& w) {
    bool first = true, endedLine = true;
    while (!atEnd(w.input)) {
        std::string_view line = readLine(w.input);
        std::string_view raw = lastLineBytes(w.input);
        if (first) w.lineEnd = raw.ends_with("\r\n") ? "\r\n" : "\n", first = false;
        endedLine = raw.ends_with("\n");
        if (w.block.open) {
            takeBlockLine(w, line, raw);
        } else if (hasKeyword(line, BEGIN_PRIMITIVE)) {
            openBlock(w, line, raw);
        } else {
            if (hasKeyword(line, "BEGIN_PATCH")) notePatch(w, line);
            put(w, raw);
            if (readOffset(w.input) == w.trace.source.lastPatchEnd) {
                if (Status status = writeNewPatches(w); !status.ok()) return status;
            }
        }
    }
    if (w.block.open) put(w, w.block.raw);  // a block still open at the end stays as it was
    if (w.patchesWritten) return {};
    if (!endedLine) put(w, w.lineEnd);
    return writeNewPatches(w);
}

}  // namespace

Status writeTextTile(const Cut& cut, const TileTrace& trace, const PutBackPlan& plan,
                     const RunPaths& paths, WrittenTile& tile) {
    TextRewrite w{cut, trace, plan, tile.file};
    if (!openForReading(w.input, paths.input)) {
        return failedWith(Failure::openInput,
                          "cannot open " + paths.input + " again: " + systemErrorText());
    }
    if (Status status = openOutputTile(w.out, paths); !status.ok()) {
        closeReader(w.input);
        return status;
    }
    Status written = rewriteLines(w);
    bool readFailed = w.input.readFailed;
    closeReader(w.input);
    if (!written.ok() || readFailed) {
        abandonWholeFile(w.out);
        if (readFailed) {
            return failedWith(Failure::readInput,
                              "reading " + paths.input + " failed: " + w.input.error);
        }
        return written;
    }
    tile.counts = countsOf(plan, w.overlayPoints);
    return {};
}

}  // namespace mc
