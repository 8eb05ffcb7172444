// Heights from a tile's elevation raster for vertices stored without one, and the raster checked.
#include "cut/elevation.h"

#include <cmath>
#include <cstring>

#include "text/fields.h"
#include "text/fixed9.h"
#include "text/numbers.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

// A vertex line prints nine decimals: a point this close to a pixel's position is on it.
constexpr double ON_PIXEL = 1e-9;
constexpr uint64_t MAX_PIXELS = uint64_t(1) << 32;

// Position of a point in pixel units along one axis, clamped, and snapped to a pixel it lies on.
double pixelCoordinate(double value, double low, uint32_t count, bool post, double perDegree,
                       double degreesPer) {
    double shift = post ? 0.0 : 0.5;
    double at = (value - low) * perDegree - shift;
    at = std::fmin(std::fmax(at, 0.0), double(count - 1));
    double nearest = (at + 0x1p52) - 0x1p52;  // round to nearest, without a library call
    double pixelAt = low + (nearest + shift) * degreesPer;
    return std::fabs(value - pixelAt) <= ON_PIXEL ? nearest : at;
}

constexpr size_t HEIGHT_MEMO_BITS = 8;  // a few kilobytes: the repeats come close together

}  // namespace

const char* rasterProblem(uint32_t version, const ElevationRaster& raster) {
    bool sizeFits =
        raster.format == PixelFormat::floating
            ? raster.bytesPerPixel == 4
            : raster.bytesPerPixel == 1 || raster.bytesPerPixel == 2 || raster.bytesPerPixel == 4;
    uint32_t least = raster.postCentric ? 2 : 1;
    if (version != 1) return "its version is not 1";
    if (!sizeFits) return "its bytes per pixel do not suit its pixel format";
    if (raster.width < least || raster.height < least)
        return "it is too small to place (fewer posts than 2 x 2)";
    if (uint64_t(raster.width) * raster.height > MAX_PIXELS) return "it has more than 2^32 pixels";
    if (!std::isfinite(raster.scale) || !std::isfinite(raster.offset))
        return "its scale or offset is not a number";
    if (!(raster.west < raster.east && raster.south < raster.north &&
          std::isfinite(raster.east - raster.west) && std::isfinite(raster.north - raster.south))) {
        return "the tile's bounds (sim/west, sim/east, sim/south, sim/north) do not make an area";
    }
    return nullptr;
}

Status takePixels(ElevationRaster& raster, const uint8_t* bytes, size_t size) {
    uint64_t needed = uint64_t(raster.width) * raster.height * raster.bytesPerPixel;
    if (size < needed) {
        return failedWith(Failure::readInput, "the elevation raster has " + groupedNumber(size) +
                                                  " bytes of pixels; its size needs " +
                                                  groupedNumber(needed));
    }
    raster.pixels.assign(bytes, bytes + needed);
    if (raster.format == PixelFormat::floating) {
        for (size_t at = 0; at < needed; at += sizeof(float)) {
            float raw;
            std::memcpy(&raw, raster.pixels.data() + at, sizeof raw);
            if (!std::isfinite(double(raw) * raster.scale + raster.offset)) {
                raster.pixels.clear();
                return failedWith(Failure::readInput,
                                  "the elevation raster has a pixel that is not a number");
            }
        }
    }
    // posts span the tile edge to edge; cell centres sit half a cell in
    double columns = raster.postCentric ? raster.width - 1.0 : raster.width;
    double rows = raster.postCentric ? raster.height - 1.0 : raster.height;
    raster.columnsPerDegree = columns / (raster.east - raster.west);
    raster.degreesPerColumn = (raster.east - raster.west) / columns;
    raster.rowsPerDegree = rows / (raster.north - raster.south);
    raster.degreesPerRow = (raster.north - raster.south) / rows;
    raster.present = true;
    return {};
}

// The four pixels around a point, read as one pixel type, weighted; a weight of zero leaves its
// neighbours out, so a point on a pixel gets its value exactly.
template <typename Pixel>
double bilinear(const ElevationRaster& r, uint32_t x0, uint32_t y0, double tx, double ty) {
    auto value = [&](uint32_t column, uint32_t row) {
        Pixel raw;
        std::memcpy(&raw, r.pixels.data() + (size_t(row) * r.width + column) * sizeof(Pixel),
                    sizeof(Pixel));
        double v = double(raw);
        if constexpr (std::is_integral_v<Pixel>) {
            if (r.format == PixelFormat::normalized) v /= double(Pixel(~Pixel(0)));
        }
        return v * r.scale + r.offset;
    };
    auto along = [&](uint32_t row) {
        double left = value(x0, row);
        return tx == 0 ? left : left * (1 - tx) + value(x0 + 1, row) * tx;
    };
    double south = along(y0);
    return ty == 0 ? south : south * (1 - ty) + along(y0 + 1) * ty;
}

struct PixelSpot {
    uint32_t x0, y0;  // the south-west pixel of the four around the point
    double tx, ty;    // the point's place between them, 0 to 1
};

PixelSpot pixelSpot(const ElevationRaster& r, double lon, double lat) {
    double x = pixelCoordinate(lon, r.west, r.width, r.postCentric, r.columnsPerDegree,
                               r.degreesPerColumn);
    double y =
        pixelCoordinate(lat, r.south, r.height, r.postCentric, r.rowsPerDegree, r.degreesPerRow);
    uint32_t x0 = std::min(uint32_t(x), r.width > 1 ? r.width - 2 : 0);
    uint32_t y0 = std::min(uint32_t(y), r.height > 1 ? r.height - 2 : 0);
    return {x0, y0, x - x0, y - y0};
}

double rasterHeight(const ElevationRaster& raster, double lon, double lat) {
    auto [x0, y0, tx, ty] = pixelSpot(raster, lon, lat);
    bool signedInteger = raster.format == PixelFormat::signedInteger;
    switch (raster.bytesPerPixel) {
        case 1:
            return signedInteger ? bilinear<int8_t>(raster, x0, y0, tx, ty)
                                 : bilinear<uint8_t>(raster, x0, y0, tx, ty);
        case 2:
            return signedInteger ? bilinear<int16_t>(raster, x0, y0, tx, ty)
                                 : bilinear<uint16_t>(raster, x0, y0, tx, ty);
        default:
            if (raster.format == PixelFormat::floating)
                return bilinear<float>(raster, x0, y0, tx, ty);
            return signedInteger ? bilinear<int32_t>(raster, x0, y0, tx, ty)
                                 : bilinear<uint32_t>(raster, x0, y0, tx, ty);
    }
}

double rememberedHeight(HeightMemo& memo, const ElevationRaster& raster, double lon, double lat) {
    if (memo.entries.empty()) memo.entries.assign(size_t(1) << HEIGHT_MEMO_BITS, {NAN, NAN, 0});
    uint64_t lonBits, latBits;
    std::memcpy(&lonBits, &lon, 8);
    std::memcpy(&latBits, &lat, 8);
    uint64_t hash = (lonBits * 0x9E3779B97F4A7C15ull) ^ (latBits * 0xC2B2AE3D27D4EB4Full);
    HeightMemo::Entry& e = memo.entries[hash >> (64 - HEIGHT_MEMO_BITS)];
    if (e.lon != lon || e.lat != lat) e = {lon, lat, rasterHeight(raster, lon, lat)};
    return e.height;
}

std::string_view lineWithHeight(std::string_view line, double height, const ElevationRaster& raster,
                                std::string& scratch) {
    if (!raster.present) return line;
    SplitText lon = splitFirstField(splitFirstField(line).rest);
    SplitText lat = splitFirstField(lon.rest);
    std::string_view elev = splitFirstField(lat.rest).first;
    if (elev != RASTER_HEIGHT_FLAG_TEXT && parseNumber(elev) != RASTER_HEIGHT_FLAG) return line;
    return lineWithHeightAt(line, size_t(elev.data() - line.data()), height, scratch);
}

std::string_view lineWithHeightAt(std::string_view line, size_t field, double height,
                                  std::string& scratch) {
    size_t fieldEnd = line.find(' ', field);
    if (fieldEnd == std::string_view::npos) fieldEnd = line.size();
    char text[FIXED9_MAX_TEXT];
    size_t length = size_t(fixed9ToText(height, text) - text);
    size_t after = line.size() - fieldEnd;
    scratch.resize(field + length + after);
    std::memcpy(scratch.data(), line.data(), field);
    std::memcpy(scratch.data() + field, text, length);
    std::memcpy(scratch.data() + field + length, line.data() + fieldEnd, after);
    return scratch;
}

}  // namespace mc
