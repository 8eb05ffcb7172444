// The selection pass over a binary tile: the same blocks, lines and decisions as over its text.
#include "dsf/commands.h"
#include "pipeline/block_printing.h"
#include "pipeline/pipeline.h"
#include "pipeline/raster_intake.h"
#include "pipeline/selection.h"
#include "pipeline/tile_window.h"
#include "text/failure_reason.h"

namespace mc {

namespace {

Failure refuseDamagedTile(const dsf::Damage& damage, size_t size) {
    std::string reason = "the tile is damaged: " + damage.what;
    if (damage.at != UINT64_MAX) {
        reason += ": byte " + groupedNumber(damage.at) + " of " + groupedNumber(size);
    }
    noteFailureReason(reason);
    return Failure::readInput;
}

}  // namespace

Failure selectFromTile(const SelectionWindow& window, const uint8_t* bytes, size_t size,
                       OutputFile& out, OutputFile& console, int32_t& keptCount,
                       ElevationRaster& raster, TileTerrain& terrain, ProgressMeter& meter) {
    dsf::Tile tile;
    dsf::Damage damage;
    if (!dsf::openTile(bytes, size, tile, damage)) return refuseDamagedTile(damage, size);
    if (!takeElevationRaster(tile, raster)) return Failure::readInput;
    terrain.definitions.assign(tile.terrainNames.begin(), tile.terrainNames.end());
    terrain.west = tile.bounds[0], terrain.south = tile.bounds[2];
    terrain.hasCorner = tile.hasBounds;
    TileWindow tileWindow{window, tile};
    BlockPrinter printer(tile);
    dsf::CommandWalker walker;
    dsf::startWalk(walker, tile);
    dsf::Primitive primitive;
    int32_t seenCount = 0;
    dsf::WalkStep step;
    while ((step = dsf::nextPrimitive(walker, tile, primitive, damage)) ==
           dsf::WalkStep::primitive) {
        ++seenCount;
        if ((seenCount & 1023) == 0) reportProgress(meter, uint64_t(walker.stream.at - bytes));
        if (!touchesWindow(tileWindow, printer.lane.values, primitive)) continue;
        printKeptBlock(printer, primitive, out);
        ++keptCount;
        terrain.keptPatches.push_back({primitive.definition, primitive.flags, primitive.depth});
        clearProgress(meter);
        writeProgressLine(console, "Step 1: ", keptCount, seenCount);
    }
    finishPrinting(printer, out);
    return step == dsf::WalkStep::end ? Failure::none : refuseDamagedTile(damage, size);
}

}  // namespace mc
