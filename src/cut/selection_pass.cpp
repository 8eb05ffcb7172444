// The selection pass: which form the tile is in, and the temporary file the pass fills.
#include "dsf/archive.h"
#include "dsf/tile.h"
#include "pipeline/selection.h"
#include "platform/platform.h"
#include "text/failure_reason.h"

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

Failure runTileSelectionPass(InputForm form, const SelectionWindow& window,
                             const std::string& inputPath, TempFile& temp, OutputFile& console,
                             int32_t& keptCount, ElevationRaster& raster, TileTerrain& terrain) {
    OutputFile out;
    if (Failure failure = takeTempFile(temp, out); failure != Failure::none) {
        return failure;
    }
    ByteBuffer bytes;
    std::string damage;
    ProgressMeter meter;
    bool loaded = form == InputForm::tile ? readWholeFile(inputPath, bytes)
                                          : dsf::unpackFirstEntry(inputPath, bytes, damage, meter);
    if (!loaded && form == InputForm::tile) {
        noteFailureReason("cannot read " + inputPath + ": " + systemErrorText());
    } else if (!loaded) {
        noteFailureReason(inputPath + " does not unpack: " + damage);
    }
    startProgress(meter, bytes.size, "Reading");
    Failure failure = loaded ? selectFromTile(window, bytes.data, bytes.size, out, console,
                                              keptCount, raster, terrain, meter)
                             : Failure::readInput;
    clearProgress(meter);
    bool written = closeFile(out);
    if (failure != Failure::none) return failure;
    if (!written) noteFailureReason("writing " + temp.path + " failed: " + out.error);
    return written ? Failure::none : Failure::writeTemp;
}

}  // namespace

Failure takeTempFile(TempFile& temp, OutputFile& out) {
    FileHandle write = NO_FILE;
    switch (lockTemporaryFile(temp.path, temp.lock, write)) {
        case TempLock::inUse:
            noteFailureReason("another run is carving in the folder of " + temp.path +
                              "; wait for it to end, or carve in another folder");
            return Failure::tempInUse;
        case TempLock::failed:
            noteFailureReason("cannot create " + temp.path + ": " + systemErrorText());
            return Failure::writeTemp;
        case TempLock::taken:
            break;
    }
    attachDescriptor(out, write);
    startWriteBehind(out);
    return Failure::none;
}

void releaseTempFile(TempFile& temp) {
    closeHandle(temp.lock);
    temp.lock = NO_FILE;
}

Failure runSelectionPass(const SelectionWindow& window, const std::string& inputPath,
                         TempFile& temp, OutputFile& console, int32_t& keptCount,
                         ElevationRaster& raster, TileTerrain& terrain) {
    keptCount = 0;
    if (InputForm form = detectInputForm(inputPath); form != InputForm::text) {
        return runTileSelectionPass(form, window, inputPath, temp, console, keptCount, raster,
                                    terrain);
    }
    return selectFromText(window, inputPath, temp, console, keptCount, raster, terrain);
}

}  // namespace mc
