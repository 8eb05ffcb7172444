// Writes the generated text tile of a seed, and prints an ini (CR LF ends) that cuts its window.
//   make_spelled_tile SEED TILE_PATH > mesh_carver.ini
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "spelled_tiles.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_spelled_tile SEED TILE_PATH\n");
        return 2;
    }
    mc::test::SpelledTile tile = mc::test::spelledTile(std::strtoull(argv[1], nullptr, 10));
    std::ofstream(argv[2], std::ios::binary) << tile.text;
    std::printf(
        "[mesh_carver]\r\nlat_min=%.17g\r\nlat_max=%.17g\r\nlong_min=%.17g\r\n"
        "long_max=%.17g\r\ninput_file=%s\r\noutput_file=out.obj\r\n"
        "nb_max_vertex=100000\r\nnb_max_tris=100000\r\n",
        tile.latMin, tile.latMax, tile.longMin, tile.longMax, argv[2]);
    return 0;
}
