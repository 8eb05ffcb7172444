// A tile's elevation raster taken in from the binary atoms, or the text's lines and raw file.
#include "cut/raster_intake.h"

#include "dsf/tile.h"

#include <cmath>

#include "platform/file_names.h"
#include "platform/platform.h"
#include "text/fields.h"
#include "text/numbers.h"

namespace mc {

const char* rasterFromHeader(const RasterHeader& header, const double bounds[4],
                             ElevationRaster& r) {
    r.bytesPerPixel = header.bytesPerPixel;
    r.format = PixelFormat(header.flags & 3);
    r.postCentric = (header.flags & 4) != 0;
    r.width = header.width;
    r.height = header.height;
    r.scale = header.scale;
    r.offset = header.offset;
    r.west = bounds[0], r.east = bounds[1];
    r.south = bounds[2], r.north = bounds[3];
    return rasterProblem(header.version, r);
}

namespace {

Status unusableRaster(const std::string& problem) {
    return failedWith(Failure::readInput, "the tile's elevation raster cannot be used: " + problem);
}

}  // namespace

// The raster is copied out: the tile's bytes are gone once the pass ends.
Status takeElevationRaster(const dsf::Tile& tile, ElevationRaster& raster) {
    const dsf::TileRaster& stored = tile.elevation;
    if (!stored.found) return {};
    RasterHeader header{stored.version, stored.bytesPerPixel, stored.flags, stored.width,
                        stored.height,  stored.scale,         stored.offset};
    ElevationRaster r;
    const char* problem = !tile.hasBounds ? "the tile lacks one of its four bounds"
                                          : rasterFromHeader(header, tile.bounds, r);
    if (!problem && stored.pixelBytes != uint64_t(r.width) * r.height * r.bytesPerPixel) {
        problem = "its DEMD atom's size is not width x height x bytes per pixel";
    }
    if (problem) return unusableRaster(problem);
    if (Status status = takePixels(r, stored.pixels, stored.pixelBytes); !status.ok()) {
        return status;
    }
    raster = std::move(r);
    return {};
}

void noteTileLine(TextRasterLines& lines, std::string_view line) {
    SplitText split = splitFirstField(line);
    if (split.first == "PROPERTY") {
        SplitText name = splitBeforeSpace(split.rest);
        const std::string_view bounds[4] = {"sim/west", "sim/east", "sim/south", "sim/north"};
        for (int k = 0; k < 4; ++k) {
            if (name.first == bounds[k] && !lines.hasBound[k]) {
                lines.bounds[k] = parseNumber(name.rest);
                lines.hasBound[k] = true;
            }
        }
    } else if (split.first == "RASTER_DEF") {
        if (split.rest == ELEVATION_RASTER_NAME && lines.elevationIndex < 0) {
            lines.elevationIndex = lines.rasterCount;
        }
        ++lines.rasterCount;
    } else if (split.first == "RASTER_DATA") {
        lines.dataLines.emplace_back(split.rest);
    }
}

Status loadTextRaster(const TextRasterLines& lines, const std::string& tilePath,
                      ElevationRaster& raster) {
    if (lines.elevationIndex < 0) return {};  // no elevation raster: nothing to do
    auto refuse = [](const std::string& problem) { return unusableRaster(problem); };
    if (size_t(lines.elevationIndex) >= lines.dataLines.size()) {
        return refuse("RASTER_DEF elevation has no RASTER_DATA line");
    }
    for (bool has : lines.hasBound) {
        if (!has) return refuse("the tile lacks a sim/west, sim/east, sim/south or sim/north line");
    }
    // "version=1 bpp=2 flags=5 width=121 height=121 scale=1.0 offset=0.0 <raw file>"
    std::string_view rest = lines.dataLines[size_t(lines.elevationIndex)];
    const std::string_view keys[7] = {
        "version=", "bpp=", "flags=", "width=", "height=", "scale=", "offset="};
    double values[7];
    for (int k = 0; k < 7; ++k) {
        SplitText field = splitFirstField(rest);
        if (!field.first.starts_with(keys[k])) {
            return refuse("its RASTER_DATA line lacks " + std::string(keys[k]) + " in its place");
        }
        values[k] = parseNumber(field.first.substr(keys[k].size()));
        rest = field.rest;
    }
    for (int k = 0; k < 5; ++k) {
        if (!(values[k] >= 0 && values[k] <= 4294967295.0 && values[k] == std::floor(values[k]))) {
            return refuse(std::string(keys[k]) + " is not a whole number");
        }
    }
    if (rest.empty()) return refuse("its RASTER_DATA line names no file");
    RasterHeader header{uint32_t(values[0]),
                        uint32_t(values[1]),
                        uint32_t(values[2]),
                        uint32_t(values[3]),
                        uint32_t(values[4]),
                        values[5],
                        values[6]};
    ElevationRaster r;
    if (const char* problem = rasterFromHeader(header, lines.bounds, r)) return refuse(problem);
    std::string rawPath = toPlatformPath(rest);
    if (!isAbsolutePath(rawPath)) rawPath = folderPartOf(tilePath) + rawPath;
    ByteBuffer bytes;
    if (!readWholeFile(rawPath, bytes)) {
        return refuse("its pixel file " + rawPath + " cannot be read: " + systemErrorText());
    }
    if (Status status = takePixels(r, bytes.data, bytes.size); !status.ok()) return status;
    raster = std::move(r);
    return {};
}

}  // namespace mc
