// Turns a scenery text tile (as make_tile writes it) into a binary DSF and the text form a
// converter prints for that binary: vertices quantised into 16-bit pools per 1/8-degree bucket
// (run-length differenced planes; longitude and latitude scale 0.125 from the bucket's edge,
// elevation in whole metres, normals scale 2 offset -1), a point shared by several primitives
// stored once, the tile's terrain definitions and patches kept, one command per primitive
// (cross-pool when its points lie in several pools, as strips crossing a bucket's edge do). With
// --raster every vertex is stored at -32768 and the tile gets a 1201 x 1201 elevation raster of
// the generator's terrain (the text form's side file is OUT.txt.elevation.raw). With
// --raster-unused the same, but every vertex keeps a real height 32,000 m below its own: printed
// as long as the flag and as varied as the terrain, so that the two tiles differ only in the
// heights being looked up.
//   make_dsf [--raster | --raster-unused] TILE.txt OUT.dsf OUT.txt
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "dsf/commands.h"
#include "dsf/tile_writer.h"

namespace {

constexpr int PLANES = 5;
constexpr uint32_t POOL_LIMIT = 65535;
constexpr double RECIPROCAL = 1.0 / 65535.0;
const float SCALES[PLANES] = {0.125f, 0.125f, 65535.0f, 2.0f, 2.0f};
constexpr uint32_t RASTER_POSTS = 1201;
constexpr float FLAGGED = -32768.0f;
bool withRaster = false;
bool rasterUnused = false;
constexpr double UNUSED_DEPTH = 32000;

// The generator's terrain, as make_tile computes it.
double elevationAt(double lon, double lat) {
    return 420.0 + 180.0 * std::sin(lon * 37.0) * std::cos(lat * 23.0) +
           40.0 * std::sin(lat * 211.0);
}

struct Pool {
    float offsets[PLANES];
    std::vector<uint16_t> values[PLANES];
};

struct Writer {
    std::vector<Pool> pools;
    std::map<std::pair<int, int>, size_t> openPool;  // bucket -> pool still taking points
    std::unordered_map<std::string, std::pair<uint32_t, uint32_t>> points;  // line -> pool, index
    std::string commands;
    int currentPool = -1;
};

using mc::dsf::atom;
using mc::dsf::put16;
using mc::dsf::put32;
using mc::dsf::put8;
using mc::dsf::putFloat;

uint16_t quantise(double value, float scale, float offset) {
    double raw = std::nearbyint((value - offset) * 65535.0 / scale);
    return uint16_t(std::fmin(std::fmax(raw, 0.0), 65535.0));
}

// Adds a vertex to its bucket's pool; returns (pool, index).
std::pair<uint32_t, uint32_t> addPoint(Writer& w, const double* v) {
    std::pair<int, int> bucket{int(std::floor(v[0] * 8)), int(std::floor(v[1] * 8))};
    auto found = w.openPool.find(bucket);
    if (found == w.openPool.end() || w.pools[found->second].values[0].size() >= POOL_LIMIT) {
        Pool pool{{float(bucket.first / 8.0), float(bucket.second / 8.0),
                   withRaster ? FLAGGED : 0.0f, -1.0f, -1.0f},
                  {}};
        w.pools.push_back(pool);
        w.openPool[bucket] = w.pools.size() - 1;
        found = w.openPool.find(bucket);
    }
    Pool& pool = w.pools[found->second];
    for (int p = 0; p < PLANES; ++p) {
        bool flagged = withRaster && !rasterUnused && p == 2;  // raw 0 decodes to exactly -32768
        double value = rasterUnused && p == 2 ? v[p] - UNUSED_DEPTH : v[p];
        pool.values[p].push_back(flagged ? 0 : quantise(value, SCALES[p], pool.offsets[p]));
    }
    return {uint32_t(found->second), uint32_t(pool.values[0].size() - 1)};
}

void printValue(FILE* out, const Pool& pool, int plane, uint16_t raw) {
    double value =
        ((double(raw) * double(SCALES[plane])) * RECIPROCAL) + double(pool.offsets[plane]);
    std::fprintf(out, " %.9f", value);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 &&
        (std::string(argv[1]) == "--raster" || std::string(argv[1]) == "--raster-unused")) {
        withRaster = true;
        rasterUnused = std::string(argv[1]) == "--raster-unused";
        ++argv, --argc;
    }
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: make_dsf [--raster | --raster-unused] TILE.txt OUT.dsf OUT.txt\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    FILE* text = std::fopen(argv[3], "wb");
    if (!in || !text) return 1;
    Writer w;
    std::vector<std::pair<uint32_t, uint32_t>> refs;
    int type = 0;
    bool patchStarted = false;
    bool anyPatch = false;
    std::string line;
    char buffer[512];
    // the terrain definitions come before the first patch
    std::vector<std::string> terrains;
    while (std::fgets(buffer, sizeof buffer, in) && std::strncmp(buffer, "BEGIN_PATCH", 11) != 0) {
        if (std::strncmp(buffer, "TERRAIN_DEF ", 12) == 0) {
            terrains.emplace_back(buffer + 12, std::strcspn(buffer + 12, "\r\n"));
        }
    }
    if (terrains.empty()) terrains.push_back("terrain_Water");
    std::rewind(in);
    uint32_t terrain = 0;
    std::fprintf(text, "I\n800 written by make_dsf\nDSF2TEXT\n\n");
    std::fprintf(text, "PROPERTY sim/west 12\nPROPERTY sim/east 13\nPROPERTY sim/north 48\n");
    std::fprintf(text, "PROPERTY sim/south 47\n");
    for (const std::string& name : terrains) std::fprintf(text, "TERRAIN_DEF %s\n", name.c_str());
    std::string pixels;
    if (withRaster) {
        for (uint32_t row = 0; row < RASTER_POSTS; ++row) {
            for (uint32_t column = 0; column < RASTER_POSTS; ++column) {
                double lon = 12 + column / double(RASTER_POSTS - 1);
                double lat = 47 + row / double(RASTER_POSTS - 1);
                put16(pixels, uint32_t(int16_t(std::lround(elevationAt(lon, lat)))) & 0xFFFF);
            }
        }
        std::string rawName = std::string(argv[3]) + ".elevation.raw";
        FILE* raw = std::fopen(rawName.c_str(), "wb");
        if (!raw || std::fwrite(pixels.data(), 1, pixels.size(), raw) != pixels.size()) return 1;
        std::fclose(raw);
        std::string base = rawName.substr(rawName.rfind('/') + 1);
        std::fprintf(text, "RASTER_DEF elevation\n");
        std::fprintf(text,
                     "RASTER_DATA version=1 bpp=2 flags=5 width=%u height=%u scale=1.000000 "
                     "offset=0.000000 %s\n",
                     RASTER_POSTS, RASTER_POSTS, base.c_str());
    }
    while (std::fgets(buffer, sizeof buffer, in)) {
        if (std::strncmp(buffer, "BEGIN_PATCH", 11) == 0) {
            patchStarted = false;
            terrain = uint32_t(std::atoi(buffer + 12)) % uint32_t(terrains.size());
        } else if (std::strncmp(buffer, "BEGIN_PRIMITIVE", 15) == 0) {
            type = std::atoi(buffer + 16);
            refs.clear();
        } else if (std::strncmp(buffer, "PATCH_VERTEX", 12) == 0) {
            // a point the mesh shares (a TIN's neighbouring triangles and strips) is stored once
            auto [known, added] = w.points.try_emplace(buffer + 12);
            if (added) {
                double v[PLANES];
                std::sscanf(buffer + 12, "%lf %lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3], &v[4]);
                known->second = addPoint(w, v);
            }
            refs.push_back(known->second);
        } else if (std::strncmp(buffer, "END_PRIMITIVE", 13) == 0) {
            bool onePool = true;
            for (auto& r : refs) onePool = onePool && r.first == refs[0].first;
            if (onePool && int(refs[0].first) != w.currentPool) {
                w.currentPool = int(refs[0].first);
                put8(w.commands, mc::dsf::POOL_SELECT), put16(w.commands, uint32_t(w.currentPool));
            }
            if (!patchStarted) {  // depth comes from the current pool: every pool has five planes
                if (w.currentPool < 0)
                    put8(w.commands, mc::dsf::POOL_SELECT), put16(w.commands, refs[0].first),
                        w.currentPool = int(refs[0].first);
                put8(w.commands, mc::dsf::DEFINITION_16), put16(w.commands, terrain);
                put8(w.commands, mc::dsf::PATCH_FLAGS_LOD), put8(w.commands, 1),
                    putFloat(w.commands, 0.0f), putFloat(w.commands, -1.0f);
                if (anyPatch) std::fprintf(text, "END_PATCH\n");
                std::fprintf(text, "BEGIN_PATCH %u 0.000000 -1.000000 1 5\n", terrain);
                patchStarted = anyPatch = true;
            }
            put8(w.commands, mc::dsf::primitiveCommand(uint32_t(type), onePool));
            put8(w.commands, uint32_t(refs.size()));
            for (auto& r : refs) {
                if (!onePool) put16(w.commands, r.first);
                put16(w.commands, r.second);
            }
            std::fprintf(text, "BEGIN_PRIMITIVE %d\n", type);
            for (auto& r : refs) {
                std::fprintf(text, "PATCH_VERTEX");
                for (int p = 0; p < PLANES; ++p) {
                    printValue(text, w.pools[r.first], p, w.pools[r.first].values[p][r.second]);
                }
                std::fprintf(text, "\n");
            }
            std::fprintf(text, "END_PRIMITIVE\n");
        }
    }
    std::fprintf(text, "END_PATCH\n# Result code: 0\n");
    std::fclose(text);
    std::fclose(in);

    std::string props;
    for (const char* p :
         {"sim/west", "12", "sim/east", "13", "sim/north", "48", "sim/south", "47"}) {
        props += p, props.push_back('\0');
    }
    std::string terrainTable;
    for (const std::string& name : terrains) terrainTable += name + '\0';
    std::string geometry, scales;
    for (const Pool& pool : w.pools) {
        std::string s;
        put32(s, uint32_t(pool.values[0].size())), put8(s, PLANES);
        for (int p = 0; p < PLANES; ++p) {
            mc::dsf::appendPlane(s, pool.values[p].data(), pool.values[p].size(),
                                 mc::dsf::PlaneEncoding::runLengthDifferenced);
        }
        geometry += atom("POOL", s);
        std::string sc;
        for (int p = 0; p < PLANES; ++p) putFloat(sc, SCALES[p]), putFloat(sc, pool.offsets[p]);
        scales += atom("SCAL", sc);
    }
    std::string file = mc::dsf::tileHeader();
    file += atom("HEAD", atom("PROP", props));
    std::string rasterNames = withRaster ? std::string("elevation") + '\0' : std::string();
    file += atom("DEFN", atom("TERT", terrainTable) + atom("OBJT", "") + atom("POLY", "") +
                             atom("NETW", "") + atom("DEMN", rasterNames));
    file += atom("GEOD", geometry + scales);
    file += atom("CMDS", w.commands);
    if (withRaster) {  // version 1, 2 bytes, signed post-centric, scale 1, offset 0
        std::string header;
        put8(header, 1), put8(header, 2), put16(header, 5);
        put32(header, RASTER_POSTS), put32(header, RASTER_POSTS);
        putFloat(header, 1.0f), putFloat(header, 0.0f);
        file += atom("DEMS", atom("DEMI", header) + atom("DEMD", pixels));
    }
    mc::dsf::appendFooter(file);
    FILE* out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size()) return 1;
    return std::fclose(out) == 0 ? 0 : 1;
}
