// The flattening's driver: one call a step, over plain data.
#include "flatten/flatten_run.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "area/area.h"
#include "carve/writers.h"
#include "cut/cut.h"
#include "cut/selection.h"
#include "flatten/band_rim.h"
#include "flatten/flatten.h"
#include "platform/file_names.h"
#include "put_back/along_outline.h"
#include "put_back/put_back.h"
#include "put_back/tile_hold.h"
#include "text/console.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

// With no band the cut is taken from a metre around the airport: the triangles that only touch
// its outline come too, to be cut where it does.
constexpr double NO_BAND_METRES = 1;

// Where the band's outer edge grazes a tile edge it is drawn a centimetre further out, up to three
// times, and the cut taken again inside it.
constexpr double RIM_STEP_METRES = 0.01;
constexpr int RIM_STEPS = 3;

// The flattening keeps the clip's thin pieces (it meshes the band anew, and without a band the
// thin pieces are flat ground): a dropped piece would leave a slit beside the piece the put-back
// keeps outside. Only those thinner than a micrometre go, their corners all but in line.
constexpr double KEPT_PIECE_METRES = 1e-6;

// The airport as read, ready for the cut, what its ground becomes and the band around it.
struct Airport {
    Area read;
    CutArea shape, band;
    FlattenTarget target;
};

Status checkBlend(double blend) {
    if (blend >= 0 && blend < 1e5) return {};
    return failedWith(Failure::flattenGround,
                      "blend_m is " + doubleToText(blend) + ": it takes metres, from 0 to 100,000");
}

// The airport, what it becomes, and the band around it; the airport said on the console.
Status takeAirport(const FlattenJob& job, OutputFile& console, Airport& airport) {
    if (Status status = readArea(job.areaFile, job.area, airport.read); !status.ok()) {
        return status;
    }
    const std::string fileName = fileNameOf(job.areaFile);
    if (Status status = prepareArea(airport.read, fileName, airport.shape); !status.ok()) {
        return status;
    }
    if (!airport.shape.note.empty()) noteOnStandardError(airport.shape.note);
    if (Status status = flattenTargetOf(job.flattenTo, airport.read, airport.target);
        !status.ok()) {
        return status;
    }
    const double band = std::max(job.blendMetres, NO_BAND_METRES);
    if (Status status = prepareArea(bandAround(airport.shape, band), fileName, airport.band);
        !status.ok()) {
        return status;
    }
    writeLine(console, areaSummary(airport.shape));
    return {};
}

// The ini's window, or the band's widened a little (said, for the add-on to import it); the
// tile's blocks are taken inside the band, their triangles clipped along it.
SelectionWindow windowOfBand(const FlattenJob& job, const Airport& airport, OutputFile& console) {
    SelectionWindow window{job.window.latMin, job.window.latMax, job.window.longMin,
                           job.window.longMax};
    if (job.windowFromArea) {
        window = windowAroundArea(airport.band, AREA_MARGIN_METRES);
        writeLine(console, windowFromAreaLine(window));
    }
    window.area = &airport.band, window.clip = true;
    return window;
}

// The tile's blocks inside the band, assembled with where they came from.
Status cutAroundAirport(const FlattenJob& job, const SelectionWindow& window, TempFile& temp,
                        OutputFile& console, TileTrace& trace, Cut& cut) {
    Selection selection = selectBlocks(window, job.paths.input, temp, console, job.cache, &trace);
    if (!selection.status.ok()) return selection.status;
    if (!selection.note.empty()) noteOnStandardError(selection.note);  // as the carve says it
    cut = assembleCut(std::move(selection), {INT32_MAX, INT32_MAX}, console, &trace);
    return cut.status;
}

const char* edgeName(size_t side) {
    return side == 0 ? "western" : side == 1 ? "eastern" : side == 2 ? "southern" : "northern";
}

// The band must stay inside the tile: the neighbouring tile's ground would no longer meet it.
Status checkBandInsideTile(const Cut& cut, const Airport& airport, double blend) {
    if (!cut.terrain.hasCorner) return {};
    const CutArea& band = airport.band;
    const double west = cut.terrain.west, south = cut.terrain.south;
    const double over[4] = {west - band.west, band.east - (west + 1), south - band.south,
                            band.north - (south + 1)};
    const size_t side = size_t(std::max_element(over, over + 4) - over);
    if (over[side] < 0) return {};
    double lat = std::clamp((band.south + band.north) / 2, south, south + 1);
    double metres =
        over[side] * METRES_PER_DEGREE * (side < 2 ? cosineOfLatitude<double>(lat) : 1.0);
    return failedWith(
        Failure::flattenGround,
        "the band of " + doubleToText(blend) + " m around " + airport.read.name + " reaches " +
            doubleToText(std::ceil(metres)) + " m past the tile's " + edgeName(side) +
            " edge, where the next tile's ground would no longer meet it: with blend_m at most " +
            doubleToText(std::max(0.0, std::floor(blend - metres - 1))) + " it stays inside");
}

// The tile's blocks inside the band, its edge kept off the tile's edges: drawn a centimetre
// further out, the cut taken again, while it grazes one. The band inside the tile.
Status cutInsideBand(const FlattenJob& job, const SelectionWindow& window, TempFile& temp,
                     OutputFile& console, TileTrace& trace, Airport& airport, Cut& cut) {
    for (int step = 1;; ++step) {
        if (Status status = cutAroundAirport(job, window, temp, console, trace, cut);
            !status.ok()) {
            return status;
        }
        if (Status status = checkBandInsideTile(cut, airport, job.blendMetres); !status.ok()) {
            return status;
        }
        bool grazes = false;
        if (job.blendMetres > 0 && !rimGrazesTile(cut, airport.band, grazes)) {
            return keptLinesFailure(cut);
        }
        if (!grazes || step > RIM_STEPS) return {};
        Area wider = bandAround(airport.shape, job.blendMetres + step * RIM_STEP_METRES);
        if (Status status = prepareArea(wider, fileNameOf(job.areaFile), airport.band);
            !status.ok()) {
            return status;
        }
        trace = {}, cut = {};
        releaseTempFile(temp);  // the pass takes it again, emptied
    }
}

// The cut clipped along the band's outer edge; without a band, along the airport itself, the
// pieces outside it joining the flat area to the ground.
Status clipAroundAirport(Cut& cut, const SelectionWindow& window, const Airport& airport,
                         double blend, OutlinePieces& outline) {
    if (blend == 0) {
        cut.clipRegion = clipRegionOf(
            {window.latMin, window.latMax, window.longMin, window.longMax}, &airport.shape);
    }
    return clipForPutBack(cut, outline, KEPT_PIECE_METRES);
}

// What the put-back found wrong with the ground, said of the flattening's own ground: no file was
// edited, so the put-back's hints at what a user may have moved or which keys differ are left
// out, and its faces are the flattened ground's.
std::string ownGroundMisfit(std::string reason) {
    for (const char* hint : {": an outline point was moved", ": the faces leave a hole",
                             ": two of them lie on the same side"}) {
        if (size_t at = reason.find(hint); at != std::string::npos) reason.resize(at);
    }
    for (size_t at; (at = reason.find("the edited faces")) != std::string::npos;) {
        reason.replace(at, 16, "the flattened ground's faces");
    }
    return reason;
}

// The flattened ground fitted into the clipped cut as the put-back fits any edit; its new
// points lie a few millimetres from the outline's, and without a band the outline may rise.
Status planFlattenedTile(Cut& cut, const OutlinePieces& outline, EditedMesh& ground,
                         const FlattenJob& job, const Airport& airport, PutBackPlan& plan) {
    plan.precisePoints = true;
    plan.outlineMayRise = job.blendMetres == 0;
    Status status = planPutBack(cut, &outline, job.paths, plan, &ground);
    if (status.failure != Failure::editMisfits) return status;
    return failedWith(Failure::flattenGround,
                      "the flattened ground of " + airport.read.name +
                          " does not fit back into the tile, and nothing was written: " +
                          ownGroundMisfit(status.reason));
}

// The report's line and, with preview_file, the picture of the change.
Status reportFlattening(const Cut& cut, const FlattenJob& job, const Airport& airport,
                        const FlattenReport& report, OutputFile& console) {
    const double blend = job.blendMetres;
    endLine(console);
    writeLine(console, flattenReportLine(airport.read.name, airport.target, report, blend));
    if (!report.change) return {};
    report.change->title = "flattened " + airport.read.name + ", blend " + doubleToText(blend) +
                           " m: the change in height";
    return writeChangePreview(cut, *report.change, job.paths);
}

}  // namespace

// The flattening, step by step: the tile held, the airport and the band around it, the window,
// the cut inside the band (its edge off the tile's edges, the band inside the tile), the cut
// clipped, the flattened ground, the tile planned with it, the report and its picture, the tile
// written.
Status flattenAirport(const FlattenJob& job, TempFile& temp, OutputFile& console) {
    if (Status status = checkBlend(job.blendMetres); !status.ok()) return status;
    TileHold hold;
    if (Status status = holdTile(job.paths, job.lockWaitSeconds, hold); !status.ok()) {
        return status;
    }
    Airport airport;
    if (Status status = takeAirport(job, console, airport); !status.ok()) return status;
    const SelectionWindow window = windowOfBand(job, airport, console);
    TileTrace trace;
    Cut cut;
    if (Status status = cutInsideBand(job, window, temp, console, trace, airport, cut);
        !status.ok()) {
        return status;
    }
    OutlinePieces outline;
    if (Status status = clipAroundAirport(cut, window, airport, job.blendMetres, outline);
        !status.ok()) {
        return status;
    }
    EditedMesh ground;
    FlattenReport report;
    ChangeMap change{{}, {}, {}, &airport.shape, &airport.band, {}};
    if (!job.paths.preview.empty()) report.change = &change;
    PutBackPlan plan;
    plan.materials = tileMaterials(cut, job.paths);  // the ground's and the plan's, looked up once
    if (Status status = flattenGround(cut, outline, airport.shape, airport.target, job.blendMetres,
                                      plan.materials, ground, report);
        !status.ok()) {
        return status;
    }
    if (Status status = planFlattenedTile(cut, outline, ground, job, airport, plan); !status.ok()) {
        return status;
    }
    ground = {};  // its corners and faces: the plan took what it needs
    if (Status status = reportFlattening(cut, job, airport, report, console); !status.ok()) {
        return status;
    }
    return writeBack(cut, trace, plan, job.paths, hold, console, job.tileName);
}

}  // namespace mc
