// `mesh_carver flatten`: an airport's ground made even inside its outline and eased back to the
// land over a band, put into the tile as any edit is.
#pragma once

#include <string>

#include "cut/run_paths.h"
#include "cut/temp_file.h"
#include "cut/window.h"
#include "dsf/unpacked_cache.h"
#include "text/output_file.h"
#include "text/status.h"

namespace mc {

/// What a flattening is asked, as plain data: its files, the window (unless it comes from the
/// area), the area file and the area in it, what the ground becomes, the band's width.
struct FlattenJob {
    RunPaths paths;
    dsf::UnpackedCache cache;
    WindowBounds window;
    bool windowFromArea = false;
    std::string areaFile;  // a platform path
    std::string area;
    std::string flattenTo;
    double blendMetres = 100;
    double lockWaitSeconds = 60;
    std::string tileName;  // output_tile as the ini gives it, for the report
};

/// The flattening, step by step (see flatten_run.cpp); the first failure ends it and nothing is
/// written.
Status flattenAirport(const FlattenJob& job, TempFile& temp, OutputFile& console);

}  // namespace mc
