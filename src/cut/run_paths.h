// The files of a run, as the writers of both directions take them.
#pragma once

#include <string>

namespace mc {

/// The files of a run, as platform paths; empty when the ini names none.
struct RunPaths {
    std::string input;
    std::string object;
    std::string wavefront;
    std::string preview;
    std::string sceneryFolder;  // where the Wavefront file's terrain definitions are looked up
    std::string xplaneFolder;
    std::string outputTile;  // the put-back's tile to write
};

}  // namespace mc
