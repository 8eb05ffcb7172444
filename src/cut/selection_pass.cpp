// The selection pass: which form the tile is in, and the temporary file the pass fills.
#include <memory>

#include "cut/selection.h"
#include "cut/tile_trace.h"
#include "dsf/archive.h"
#include "dsf/tile.h"
#include "dsf/unpacked_cache.h"
#include "platform/platform.h"

namespace mc {

namespace {

enum class InputForm { text, tile, packedTile };

// By content, not by name: a tile starts with its cookie, a 7z archive with its signature. A
// cookie damaged in its last letter still marks a tile (to be refused), not text.
InputForm detectInputForm(const std::string& path) {
    char start[8];
    size_t got = 0;
    if (!readFileStart(path, start, sizeof start, got)) return InputForm::text;
    std::string_view head(start, got);
    if (head.starts_with(dsf::DSF_COOKIE.substr(0, 7))) return InputForm::tile;
    if (head.starts_with(dsf::SEVEN_ZIP_SIGNATURE)) return InputForm::packedTile;
    return InputForm::text;
}

// A 7z tile's bytes: the cache's copy, or unpacked from the archive and kept in the cache. A
// cache that cannot take the copy is noted, never a failure.
Status loadPackedTile(const std::string& inputPath, const dsf::UnpackedCache& cache,
                      ByteBuffer& bytes, ProgressMeter& meter, Selection& found, bool& fromCache) {
    FileStamp archive;
    bool cached = !cache.folder.empty() && stampOfFile(inputPath, archive);
    if (cached && dsf::readCachedTile(cache, archive, bytes)) {
        fromCache = true;
        return {};
    }
    if (Status status = dsf::unpackFirstEntry(inputPath, bytes, meter); !status.ok()) {
        return failedWith(Failure::readInput, inputPath + " does not unpack: " + status.reason);
    }
    if (!cached) return {};
    if (Status kept = dsf::keepUnpackedTile(cache, archive, bytes); !kept.ok()) {
        found.note = "the unpacked tile cannot be kept in " + cache.folder + " (" + kept.reason +
                     "): it is unpacked again on the next run";
    }
    return {};
}

// The tile's bytes: mapped, or unpacked from its archive.
Status loadTile(InputForm form, const std::string& inputPath, const dsf::UnpackedCache& cache,
                ByteBuffer& bytes, ProgressMeter& meter, Selection& found, bool& fromCache) {
    if (form == InputForm::packedTile) {
        return loadPackedTile(inputPath, cache, bytes, meter, found, fromCache);
    }
    if (readWholeFile(inputPath, bytes)) return {};
    return failedWith(Failure::readInput, "cannot read " + inputPath + ": " + systemErrorText());
}

void selectFromBinary(InputForm form, const std::string& inputPath, const dsf::UnpackedCache& cache,
                      TempFile& temp, OutputFile& console, Selection& found, TileTrace* trace) {
    OutputFile out;
    if (found.status = takeTempFile(temp, out); !found.status.ok()) return;
    auto bytes = std::make_shared<ByteBuffer>();
    ProgressMeter meter;
    bool fromCache = false;
    found.status = loadTile(form, inputPath, cache, *bytes, meter, found, fromCache);
    startProgress(meter, bytes->size, fromCache ? "Reading the unpacked copy" : "Reading");
    if (found.status.ok()) {
        found.status = selectFromTile(bytes->data, bytes->size, out, console, found, meter, trace);
    }
    clearProgress(meter);
    bool written = closeFile(out);
    if (found.status.ok() && !written) {
        found.status =
            failedWith(Failure::writeTemp, "writing " + temp.path + " failed: " + out.error);
    }
    if (!trace) return;
    trace->source.binary = true;
    trace->source.packed = form == InputForm::packedTile;
    trace->source.bytes = std::move(bytes);
}

}  // namespace

Status takeTempFile(TempFile& temp, OutputFile& out) {
    FileHandle write = NO_FILE;
    switch (lockTemporaryFile(temp.path, temp.lock, write)) {
        case FileLock::inUse:
            return failedWith(Failure::tempInUse,
                              "another run is carving in the folder of " + temp.path +
                                  "; wait for it to end, or carve in another folder");
        case FileLock::failed:
            return failedWith(Failure::writeTemp,
                              "cannot create " + temp.path + ": " + systemErrorText());
        case FileLock::taken:
            break;
    }
    attachDescriptor(out, write);
    startWriteBehind(out);
    return {};
}

void releaseTempFile(TempFile& temp) {
    closeHandle(temp.lock);
    temp.lock = NO_FILE;
}

Selection selectBlocks(const SelectionWindow& window, const std::string& inputPath, TempFile& temp,
                       OutputFile& console, const dsf::UnpackedCache& cache, TileTrace* trace) {
    Selection found;
    found.window = window;
    found.keptPath = temp.path;
    if (InputForm form = detectInputForm(inputPath); form != InputForm::text) {
        selectFromBinary(form, inputPath, cache, temp, console, found, trace);
    } else {
        selectFromText(inputPath, temp, console, found, trace, DEFAULT_READ_BLOCK,
                       textPassWayFromEnvironment());
    }
    return found;
}

}  // namespace mc
