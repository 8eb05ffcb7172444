// What stopped a run, and why: every step returns it, and only the driver prints it.
#pragma once

#include <string>

namespace mc {

/// Which step failed; the driver turns it into the one console line.
enum class Failure {
    none,
    openInput,
    readInput,
    tempInUse,
    writeTemp,
    readTemp,
    vertexCapacity,
    indexCapacity,
    writeOutput,
    writeWavefront,
    writePreview,
    readEdited,   // the put-back's edited Wavefront file
    editMisfits,  // its faces do not fit the hole the cut leaves
    noTerrain,    // the window holds no terrain to put anything back into
    writeTile,
    readArea,       // the area file, or the area in it
    flattenGround,  // the flattening's settings or ground
    keepCache,  // an unpacked tile could not be kept: only ever a note
};

/// A step's outcome: ok, or what failed and why, in plain words with the place (the file, the
/// byte, the count), for standard error.
struct Status {
    Failure failure = Failure::none;
    std::string reason;
    bool ok() const { return failure == Failure::none; }
};

inline Status failedWith(Failure failure, std::string reason) {
    return {failure, std::move(reason)};
}

}  // namespace mc
