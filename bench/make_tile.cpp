// Writes a deterministic scenery text tile of about the requested size: the header, PROPERTY and
// TERRAIN_DEF lines, then patches of triangle (0), strip (1) and fan (2) primitives whose vertex
// lines carry five values with nine decimals.
//   make_tile BYTES SEED [WEST SOUTH EXTENT] > tile.txt
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

// One primitive around (lon, lat), spanning about `size` degrees.
void emitPrimitive(Tile& t, double lon, double lat, double size) {
    int type = t.random.below(3);
    emit(t, "BEGIN_PRIMITIVE %.0f\n", type);
    if (type == 2) {  // fan: centre, then a ring
        int ring = 6 + t.random.below(10);
        emitVertex(t, lon, lat);
        for (int k = 0; k <= ring; ++k) {
            double a = 6.283185307179586 * k / ring;
            emitVertex(t, lon + size * std::cos(a), lat + size * std::sin(a));
        }
    } else if (type == 1) {  // strip: two rows
        int columns = 4 + t.random.below(12);
        for (int k = 0; k < columns; ++k) {
            emitVertex(t, lon + size * k / columns, lat);
            emitVertex(t, lon + size * k / columns, lat + size / 2);
        }
    } else {  // triangle list: a little grid of separate triangles
        int triangles = 2 + t.random.below(10);
        for (int k = 0; k < triangles; ++k) {
            double x = lon + size * (k % 4) / 4, y = lat + size * (k / 4) / 4;
            emitVertex(t, x, y);
            emitVertex(t, x + size / 4, y);
            emitVertex(t, x, y + size / 4);
        }
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
    // primitives walk the tile in rows, as a mesh exporter does; cells shrink with the target
    double cells = std::fmax(4.0, std::sqrt(double(target) / 2400.0));
    double cell = t.extent / cells;
    for (int patch = 0; t.written + t.text.size() < target; ++patch) {
        emit(t, "BEGIN_PATCH %.0f 0.000000 -1.000000 1 5\n", 1 + patch % 4);
        int primitives = 8 + t.random.below(24);
        for (int k = 0; k < primitives; ++k) {
            double lon =
                t.west + cell * (0.5 + t.random.below(int(cells))) + cell * 0.3 * t.random.unit();
            double lat =
                t.south + cell * (0.5 + t.random.below(int(cells))) + cell * 0.3 * t.random.unit();
            emitPrimitive(t, lon, lat, cell * 0.6);
        }
        emit(t, "END_PATCH\n");
    }
    std::fwrite(t.text.data(), 1, t.text.size(), stdout);
    return 0;
}
