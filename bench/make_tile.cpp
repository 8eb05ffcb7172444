// Writes a deterministic scenery text tile of about the requested size: the header, PROPERTY and
// TERRAIN_DEF lines, then a terrain TIN over the area (a jittered grid over relief, neighbouring
// triangles sharing edges) as a DSF writer strips it: mostly strips (1), a few triangle lists
// (0), vertex lines with five values and nine decimals.
//   make_tile BYTES SEED [WEST SOUTH EXTENT] > tile.txt
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Random {
    uint64_t state;
    uint64_t next() {  // splitmix64: the same stream on every platform
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return double(next() >> 11) * 0x1.0p-53; }
    int below(int n) { return int(next() % uint64_t(n)); }
};

struct Tile {
    double west, south, extent;
    Random random;
    uint64_t written = 0;
    std::string text;
};

void emit(Tile& t, const char* format, double a = 0, double b = 0, double c = 0, double d = 0,
          double e = 0) {
    char line[256];
    int n = std::snprintf(line, sizeof line, format, a, b, c, d, e);
    t.text.append(line, size_t(n));
    if (t.text.size() >= (1 << 20)) {
        std::fwrite(t.text.data(), 1, t.text.size(), stdout);
        t.written += t.text.size();
        t.text.clear();
    }
}

double elevationAt(double lon, double lat) {
    return 420.0 + 180.0 * std::sin(lon * 37.0) * std::cos(lat * 23.0) +
           40.0 * std::sin(lat * 211.0);
}

void emitVertex(Tile& t, double lon, double lat) {
    lon = std::fmin(std::fmax(lon, t.west), t.west + t.extent);
    lat = std::fmin(std::fmax(lat, t.south), t.south + t.extent);
    double nx = 0.2 * std::cos(lon * 37.0), nz = 0.2 * std::sin(lat * 23.0);
    emit(t, "PATCH_VERTEX %.9f %.9f %.9f %.9f %.9f\n", lon, lat, elevationAt(lon, lat), nx, nz);
}

// The terrain is a jittered grid of cells, each cut along its south-west to north-east
// diagonal. Grid point (i, j), i east and j north, moves by up to 0.2 cell, the same on every
// strip that uses it; points on the area's edges stay on them. A corner then stays more than
// 0.14 cell from the opposite edge, so no triangle folds over, as none does in a real tile.
struct Grid {
    int cells;
    double cell;
    uint64_t seed;
};

double jitter(const Grid& g, int i, int j, int axis) {
    Random r{g.seed ^ (uint64_t(uint32_t(i)) << 32 | uint32_t(j)) * 0xD1B54A32D192ED03ull ^
             uint64_t(axis) << 62};
    r.next();
    return (r.unit() - 0.5) * 0.4 * g.cell;
}

void emitGridPoint(Tile& t, const Grid& g, int i, int j) {
    double lon = t.west + i * g.cell, lat = t.south + j * g.cell;
    if (i > 0 && i < g.cells) lon += jitter(g, i, j, 0);
    if (j > 0 && j < g.cells) lat += jitter(g, i, j, 1);
    emitVertex(t, lon, lat);
}

// Cells first .. first + count - 1 of row j as one strip: north and south points in turn, so
// that every triangle faces up (counter-clockwise seen from above) in the strip's order.
void emitStrip(Tile& t, const Grid& g, int j, int first, int count) {
    emit(t, "BEGIN_PRIMITIVE 1\n");
    for (int i = first; i <= first + count; ++i) {
        emitGridPoint(t, g, i, j + 1);
        emitGridPoint(t, g, i, j);
    }
    emit(t, "END_PRIMITIVE\n");
}

// The same cells as a triangle list, as a stripper leaves its leftovers.
void emitList(Tile& t, const Grid& g, int j, int first, int count) {
    emit(t, "BEGIN_PRIMITIVE 0\n");
    for (int i = first; i < first + count; ++i) {
        emitGridPoint(t, g, i, j + 1), emitGridPoint(t, g, i, j), emitGridPoint(t, g, i + 1, j + 1);
        emitGridPoint(t, g, i + 1, j + 1), emitGridPoint(t, g, i, j), emitGridPoint(t, g, i + 1, j);
    }
    emit(t, "END_PRIMITIVE\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 6) {
        std::fprintf(stderr, "usage: make_tile BYTES SEED [WEST SOUTH EXTENT]\n");
        return 2;
    }
    uint64_t target = std::strtoull(argv[1], nullptr, 10);
    Tile t{12.0, 47.0, 1.0, {std::strtoull(argv[2], nullptr, 10)}, 0, {}};
    if (argc == 6) {
        t.west = std::atof(argv[3]);
        t.south = std::atof(argv[4]);
        t.extent = std::atof(argv[5]);
    }
    emit(t, "I\n800 written by DSFTool 2.4.0-b1\nDSF2TEXT\n\n");
    double west = std::floor(t.west), south = std::floor(t.south);
    emit(t, "PROPERTY sim/west %.0f\nPROPERTY sim/east %.0f\n", west, west + 1);
    emit(t, "PROPERTY sim/north %.0f\nPROPERTY sim/south %.0f\n", south + 1, south);
    emit(t, "PROPERTY sim/planet earth\nPROPERTY sim/creation_agent make_tile\n");
    emit(t, "TERRAIN_DEF terrain_Water\n");
    const char* terrains[] = {
        "lib/g10/terrain10/fst_tmp_wet_hill.ter", "lib/g10/terrain10/crop_tmp_sdry_flat.ter",
        "lib/g10/terrain10/grs_tmp_wet_hill.ter", "lib/g10/terrain10/urb_tmp_wet_flat.ter"};
    for (const char* terrain : terrains) {
        t.text += "TERRAIN_DEF ";
        t.text += terrain;
        t.text += "\n";
    }
    // Rows of cells from south to north, as a stripper walks a mesh: strips of at most 126
    // cells (254 vertex lines), now and then a few cells left as a triangle list; a patch of
    // one terrain every 16 rows. A strip's line is about 80 bytes and a cell takes two.
    Grid g{std::max(4, int(std::sqrt(double(target) / 162.0))), 0, t.random.next()};
    g.cell = t.extent / g.cells;
    for (int j = 0; j < g.cells; ++j) {
        if (j % 16 == 0) {
            if (j > 0) emit(t, "END_PATCH\n");
            emit(t, "BEGIN_PATCH %.0f 0.000000 -1.000000 1 5\n", 1 + (j / 16) % 4);
        }
        for (int i = 0; i < g.cells;) {
            int count = std::min(g.cells - i, 20 + t.random.below(107));
            bool leftover = t.random.below(8) == 0;
            if (leftover) count = std::min(count, 1 + t.random.below(6));
            (leftover ? emitList : emitStrip)(t, g, j, i, count);
            i += count;
        }
    }
    emit(t, "END_PATCH\n");
    std::fwrite(t.text.data(), 1, t.text.size(), stdout);
    return 0;
}
