// The selection pass over a binary tile: the same blocks, lines and decisions as over its text.
#include <memory>

#include "cut/block_printing.h"
#include "cut/raster_intake.h"
#include "cut/selection.h"
#include "cut/tile_trace.h"
#include "cut/tile_window.h"
#include "dsf/commands.h"
#include "text/console.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

Status damagedTile(const dsf::Damage& damage, size_t size) {
    std::string reason = "the tile is damaged: " + damage.what;
    if (damage.at != UINT64_MAX) {
        reason += ": byte " + groupedNumber(damage.at) + " of " + groupedNumber(size);
    }
    return failedWith(Failure::readInput, std::move(reason));
}

void takeTerrain(const dsf::Tile& tile, TileTerrain& terrain) {
    terrain.definitions.assign(tile.terrainNames.begin(), tile.terrainNames.end());
    terrain.west = tile.bounds[0], terrain.south = tile.bounds[2];
    terrain.hasCorner = tile.hasBounds;
}

}  // namespace

Status selectFromTile(const uint8_t* bytes, size_t size, OutputFile& out, OutputFile& console,
                      Selection& found, ProgressMeter& meter, TileTrace* trace) {
    auto opened = std::make_shared<dsf::Tile>();
    dsf::Tile& tile = *opened;
    dsf::Damage damage;
    if (!dsf::openTile(bytes, size, tile, damage)) return damagedTile(damage, size);
    if (trace) trace->source.tile = opened;
    if (Status status = takeElevationRaster(tile, found.raster); !status.ok()) return status;
    takeTerrain(tile, found.terrain);
    TileWindow tileWindow{found.window, tile};
    BlockPrinter printer(tile);
    dsf::CommandWalker walker;
    dsf::startWalk(walker, tile);
    dsf::Primitive primitive;
    int32_t seenCount = 0;
    dsf::WalkStep step;
    while ((step = dsf::nextPrimitive(walker, tile, primitive, damage)) ==
           dsf::WalkStep::primitive) {
        ++seenCount;
        if (trace && (primitive.flags & OVERLAY_PATCH_FLAG)) {
            trace->overlayPlaces.push_back(dsf::placeOf(walker, tile, primitive));
        }
        if ((seenCount & 1023) == 0) reportProgress(meter, uint64_t(walker.stream.at - bytes));
        if (!touchesWindow(tileWindow, printer.lane.values, primitive)) continue;
        printKeptBlock(printer, primitive, out);
        ++found.keptCount;
        found.terrain.keptPatches.push_back(
            {primitive.definition, primitive.flags, primitive.depth});
        if (trace) {
            trace->keptSources.push_back(uint64_t(walker.commandStart - bytes));
            trace->keptPlaces.push_back(dsf::placeOf(walker, tile, primitive));
        }
        clearProgress(meter);
        writeProgressLine(console, "Step 1: ", found.keptCount, seenCount);
    }
    finishPrinting(printer, out);
    return step == dsf::WalkStep::end ? Status{} : damagedTile(damage, size);
}

}  // namespace mc
