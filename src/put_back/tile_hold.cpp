// The tile's lock taken (waiting for another run's), its left-overs removed, the input compared
// before the new tile replaces anything.
#include "put_back/tile_hold.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "platform/file_names.h"
#include "text/console.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

constexpr auto POLL_EVERY = std::chrono::milliseconds(50);

// NAME.partialPID or NAME.partialPID-N: the name a run writes a file under until it is complete.
bool isPartialOf(const std::string& file, const std::string& name) {
    std::string prefix = name + ".partial";
    if (file.size() <= prefix.size() || file.compare(0, prefix.size(), prefix) != 0) return false;
    return file.find_first_not_of("0123456789-", prefix.size()) == std::string::npos;
}

// With the lock held nobody else writes the tile or its kept original: partial files of theirs
// are left-overs of a run that was killed.
void removeLeftOvers(const std::string& tile) {
    std::string name = fileNameOf(tile);
    std::string folder = folderPartOf(tile);
    for (const FolderFile& file : filesInFolder(folder.empty() ? "." : folder)) {
        if (isPartialOf(file.name, name) || isPartialOf(file.name, name + ".original")) {
            removeFile(folder + file.name);
        }
    }
}

}  // namespace

Status holdTile(const RunPaths& paths, double waitSeconds, TileHold& hold) {
    hold.lockPath = paths.outputTile + ".lock";
    auto start = std::chrono::steady_clock::now();
    bool said = false;
    for (;;) {
        FileLock taken = lockSideFile(hold.lockPath, hold.lock);
        if (taken == FileLock::taken) break;
        if (taken == FileLock::failed) {
            return failedWith(Failure::writeTile,
                              "cannot lock " + hold.lockPath + ": " + systemErrorText());
        }
        double waited =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!(waited < waitSeconds)) {
            return failedWith(Failure::writeTile, "another run held " + hold.lockPath + " for " +
                                                      doubleToText(std::round(waited)) +
                                                      " s (lock_wait_s): nothing was written");
        }
        if (!said) noteOnStandardError("waiting for another run writing " + paths.outputTile);
        said = true;
        std::this_thread::sleep_for(POLL_EVERY);
    }
    removeLeftOvers(paths.outputTile);
    hold.inputStamped = stampOfFile(paths.input, hold.input);
    return {};
}

TileHold::~TileHold() {
    releaseTile(*this);
}

Status checkInputUnchanged(const RunPaths& paths, const TileHold& hold) {
    FileStamp now;
    if (!hold.inputStamped || (stampOfFile(paths.input, now) && isSameState(now, hold.input))) {
        return {};
    }
    return failedWith(Failure::writeTile, "the tile changed while this run read it: run again");
}

void releaseTile(TileHold& hold) {
    closeHandle(hold.lock);
    hold.lock = NO_FILE;
}

}  // namespace mc
