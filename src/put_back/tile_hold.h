// One writer per tile: a put-back holds its output tile from before it reads its input until the
// new tile is in place, and never puts a tile over an input that changed while it read it.
#pragma once

#include <string>

#include "cut/run_paths.h"
#include "platform/platform.h"
#include "text/status.h"

namespace mc {

/// The lock on output_tile (NAME.lock beside it, which every run of the tool respects) and the
/// input as the run found it.
struct TileHold {
    FileHandle lock = NO_FILE;
    std::string lockPath;
    FileStamp input;
    bool inputStamped = false;  // a pipe or a device has no stamp to compare

    TileHold() = default;
    TileHold(const TileHold&) = delete;
    TileHold& operator=(const TileHold&) = delete;
    ~TileHold();
};

/// Takes the tile's lock, waiting up to `waitSeconds` for another run that holds it (saying so
/// once on standard error), then notes the input as it is and removes what an earlier run that
/// was killed left of its temporary files. Fails (writeTile) naming the lock when the wait ends.
Status holdTile(const RunPaths& paths, double waitSeconds, TileHold& hold);

/// Fails (writeTile) when the input is no longer the file the run read: another program wrote
/// it, or put another file under its name.
Status checkInputUnchanged(const RunPaths& paths, const TileHold& hold);

void releaseTile(TileHold& hold);

}  // namespace mc
