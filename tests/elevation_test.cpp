#include "cut/elevation.h"

#include <gtest/gtest.h>

#include <cstring>

namespace mc {
namespace {

// A raster over the tile 0..1 x 0..1 from pixel values given row by row from the south.
ElevationRaster raster(uint32_t width, uint32_t height, bool post, PixelFormat format,
                       uint32_t bytes, std::initializer_list<double> values, double scale = 1,
                       double offset = 0) {
    ElevationRaster r;
    r.width = width, r.height = height, r.postCentric = post, r.format = format;
    r.bytesPerPixel = bytes, r.scale = scale, r.offset = offset;
    r.west = 0, r.east = 1, r.south = 0, r.north = 1;
    std::vector<uint8_t> pixels;
    for (double v : values) {
        uint8_t raw[4];
        if (format == PixelFormat::floating) {
            float f = float(v);
            std::memcpy(raw, &f, 4);
        } else {
            int64_t i = int64_t(v);
            std::memcpy(raw, &i, 4);  // little-endian: the low bytes first
        }
        pixels.insert(pixels.end(), raw, raw + bytes);
    }
    EXPECT_EQ(rasterProblem(1, r), nullptr);
    Status taken = takePixels(r, pixels.data(), pixels.size());
    EXPECT_TRUE(taken.ok()) << taken.reason;
    return r;
}

TEST(RasterHeight, PostsCellsFormatsEdgesAndCorners) {
    using F = PixelFormat;
    const ElevationRaster posts =
        raster(3, 3, true, F::signedInteger, 2, {10, 20, 30, 40, 50, 60, 70, 80, 90});
    const ElevationRaster cells = raster(2, 2, false, F::unsignedInteger, 2, {10, 20, 30, 40});
    const struct {
        const char* name;
        const ElevationRaster& r;
        double lon, lat, height;
    } cases[] = {
        {"south-west corner post", posts, 0, 0, 10},
        {"north-east corner post", posts, 1, 1, 90},
        {"middle post", posts, 0.5, 0.5, 50},
        {"on a post to nine decimals", posts, 0.5000000004, 0.4999999996, 50},
        {"between two posts on the south edge", posts, 0.25, 0, 15},
        {"between four posts", posts, 0.25, 0.25, 30},
        {"a quarter of the way", posts, 0.125, 0.5, 42.5},
        {"outside the tile clamps to the corner", posts, -1, -1, 10},
        {"outside the tile clamps to the east edge", posts, 2, 0.5, 60},
        {"cell centre", cells, 0.25, 0.25, 10},
        {"between four cell centres", cells, 0.5, 0.5, 25},
        {"cell tile corner clamps to the corner cell", cells, 1, 1, 40},
        {"cell tile edge between two centres", cells, 0.5, 0, 15},
    };
    for (const auto& c : cases) EXPECT_EQ(rasterHeight(c.r, c.lon, c.lat), c.height) << c.name;

    const struct {
        const char* name;
        ElevationRaster r;
        double height;
    } formats[] = {
        {"signed 8", raster(2, 2, true, F::signedInteger, 1, {-5, 0, 0, 0}, 2, 1), -9},
        {"signed 32", raster(2, 2, true, F::signedInteger, 4, {-70000, 0, 0, 0}, 2, 1), -139999},
        {"unsigned 8", raster(2, 2, true, F::unsignedInteger, 1, {250, 0, 0, 0}, 2, 1), 501},
        {"unsigned 16", raster(2, 2, true, F::unsignedInteger, 2, {65000, 0, 0, 0}, 2, 1), 130001},
        {"unsigned 32", raster(2, 2, true, F::unsignedInteger, 4, {4e9, 0, 0, 0}, 1, 0), 4e9},
        {"float", raster(2, 2, true, F::floating, 4, {-12.5, 0, 0, 0}, 2, 1), -24},
        {"normalised 8", raster(2, 2, true, F::normalized, 1, {255, 0, 0, 0}, 100, 1), 101},
    };
    for (const auto& f : formats) EXPECT_EQ(rasterHeight(f.r, 0, 0), f.height) << f.name;
}

TEST(RasterHeight, OnlyFlaggedVertexLinesShowTheirHeight) {
    const ElevationRaster r =
        raster(2, 2, true, PixelFormat::signedInteger, 2, {100, 200, 300, 400});
    std::string scratch;
    const struct {
        std::string line;
        double lon, lat;
        std::string shown;
    } cases[] = {
        {"PATCH_VERTEX 0.5 0.5 -32768.000000000 0 0", 0.5, 0.5,
         "PATCH_VERTEX 0.5 0.5 250.000000000 0 0"},
        {"PATCH_VERTEX 0 1 -32768", 0, 1, "PATCH_VERTEX 0 1 300.000000000"},
        {"PATCH_VERTEX 0.5 0.5 -32767.000000000 0 0", 0.5, 0.5,
         "PATCH_VERTEX 0.5 0.5 -32767.000000000 0 0"},
        {"PATCH_VERTEX 0.5 0.5", 0.5, 0.5, "PATCH_VERTEX 0.5 0.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lineWithHeight(c.line, rasterHeight(r, c.lon, c.lat), r, scratch), c.shown)
            << c.line;
    }
    EXPECT_EQ(lineWithHeight(cases[0].line, 250, ElevationRaster{}, scratch), cases[0].line);
}

}  // namespace
}  // namespace mc
