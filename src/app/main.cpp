// The program: the verb and the help from the command line, then the run in the working directory.
#include <string>
#include <string_view>

#include "app/run.h"
#include "platform/platform.h"
#include "text/console.h"

namespace {

constexpr std::string_view HELP =
    "mesh_carver " MESH_CARVER_VERSION
    ": cuts a latitude/longitude window out of the terrain mesh of a DSF\r\n"
    "scenery tile (binary, 7z-packed or text) and writes the terrain that touches it as an\r\n"
    "X-Plane OBJ8 object, placed relative to its highest vertex, with that vertex's scenery "
    "line.\r\n"
    "\r\n"
    "Usage: mesh_carver             carve, as mesh_carver.ini in this folder says\r\n"
    "       mesh_carver put-back    put an edited cut (wavefront_file) back into the tile,\r\n"
    "                               written as output_tile\r\n"
    "       mesh_carver flatten     flatten the ground inside an area (area_file, area), eased\r\n"
    "                               back to the land around it, written as output_tile\r\n"
    "       mesh_carver --help      this text (also -h" MESH_CARVER_HELP_ALSO
    ")\r\n"
    "       mesh_carver --version   the version and the licence\r\n"
    "\r\n"
    "mesh_carver.ini, in the folder you run mesh_carver from, section [mesh_carver]:\r\n"
    "  lat_min, lat_max     southern and northern edge of the window, in degrees\r\n"
    "  long_min, long_max   western and eastern edge of the window, in degrees\r\n"
    "  input_file           the tile: a binary .dsf, plain or 7z-packed, or its text form\r\n"
    "  output_file          the OBJ8 object to write\r\n"
    "  nb_max_vertex        the most vertices the object may hold (a run stops at this count)\r\n"
    "  nb_max_tris          the most triangle indices, three a triangle (the same rule)\r\n"
    "  wavefront_file       optional: the cut for Blender, a Wavefront .obj with its .mtl\r\n"
    "  preview_file         optional: a top view of the cut, an SVG picture\r\n"
    "  scenery_folder       optional: the tile's scenery pack, for the Wavefront textures\r\n"
    "  xplane_folder        optional: the simulator's folder, for its library terrains\r\n"
    "  output_tile          put-back: the tile to write (it may name input_file, whose\r\n"
    "                       original is then kept as NAME.original); wavefront_file is the\r\n"
    "                       edited cut, output_file and the capacities are not needed\r\n"
    "  lock_wait_s          optional: how long a put-back waits for another run writing the\r\n"
    "                       same tile, in seconds (60)\r\n"
    "  cache_folder         optional: where unpacked 7z tiles are kept for the next run (by\r\n"
    "                       default the user's cache folder); off: nowhere\r\n"
    "  cache_size_mb        optional: the most the kept tiles take in all (4096)\r\n"
    "  area_file            optional: cut along an area too: an apt.dat, a .geojson or a .kml;\r\n"
    "                       with it the window keys may be left out (the area's, widened 10 m)\r\n"
    "  area                 optional: which area (an airport's code, a feature's id, name, ref\r\n"
    "                       or icao, a Placemark's name); by default the file's first polygon\r\n"
    "  clip                 optional: 1 cuts the triangles along the area's outline (or the\r\n"
    "                       window's edges), so that the cut holds exactly the surface inside\r\n"
    "  flatten_to           flatten: plane (the plane nearest the ground, the default), level\r\n"
    "                       (its mean height), airport (apt.dat's elevation) or metres\r\n"
    "  blend_m              flatten: the band around the area where the ground eases back (100)\r\n"
    "Relative paths start in the run folder; \\ and / both separate folders.\r\n"
    "\r\n"
    "Exit status: 0 when the object (or the tile) is written; 255 when anything fails: a line\r\n"
    "on standard output says what failed, one on standard error says why.\r\n";

void writeTo(mc::FileHandle handle, std::string_view text) {
    mc::writeHandle(handle, text.data(), text.size());
}

bool asksForHelp(std::string_view argument) {
    return argument == "--help" || argument == "-h" || (mc::WINDOWS_PLATFORM && argument == "/?");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        mc::writeLine(mc::console(), "mesh_carver " MESH_CARVER_VERSION
                                     " (MIT licence; see LICENSE and THIRD-PARTY-NOTICES)");
        mc::endRun(0);
    }
    if (argc == 2 && asksForHelp(argv[1])) {
        mc::writeText(mc::console(), HELP);
        mc::endRun(0);
    }
    mc::Direction direction = mc::Direction::carve;
    if (argc == 2 && std::string_view(argv[1]) == "put-back") {
        direction = mc::Direction::putBack;
    } else if (argc == 2 && std::string_view(argv[1]) == "flatten") {
        direction = mc::Direction::flatten;
    } else if (argc > 1) {  // nothing is read or written: the user meant something else
        writeTo(mc::standardErrorHandle(),
                "mesh_carver: unknown argument " + std::string(argv[1]) + "\r\n\r\n");
        writeTo(mc::standardErrorHandle(), HELP);
        mc::endRun(-1);
    }
    mc::prepareForInterruptions();
    int status = mc::runMeshCarver(mc::currentDirectory(), mc::console(), direction);
    // started from Explorer, the console closes with the run: the report must stay readable
    if (mc::consoleIsOursAlone()) {
        mc::writeText(mc::console(), "Press Enter to close this window.\r\n");
        mc::flushConsole();
        mc::waitForEnter();
    }
    mc::endRun(status);
}
