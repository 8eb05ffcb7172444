// The run's settings, read from mesh_carver.ini in the working directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mc {

constexpr std::string_view CONFIG_FILE_NAME = "mesh_carver.ini";
constexpr std::string_view TEMP_FILE_NAME = "mesh_carver.tmp";
constexpr std::string_view CONFIG_SECTION = "mesh_carver";

struct RunSettings {
    double latMin = 0;
    double latMax = 0;
    double longMin = 0;
    double longMax = 0;
    std::string inputFile;   // as written in the ini file
    std::string outputFile;  // as written in the ini file
    int32_t maxVertices = 0;
    int32_t maxIndices = 0;
    std::string wavefrontFile;    // optional: empty when the ini names none
    std::string previewFile;      // optional: empty when the ini names none
    std::string sceneryFolder;    // optional: the tile's scenery pack, for its terrain textures
    std::string xplaneFolder;     // optional: the simulator's folder, for its library terrains
    std::string outputTile;       // the put-back's tile to write
    std::string cacheFolder;      // optional: where unpacked 7z tiles are kept
    bool cacheOff = false;        // cache_folder=off: nowhere
    double cacheSizeMb = 4096;    // optional: at most this much in all
    std::string areaFile;         // optional: an apt.dat, GeoJSON or KML file
    std::string area;             // optional: which polygon of it (empty: the first)
    bool clip = false;            // optional: clip=1 cuts the triangles along the outline
    double lockWaitSeconds = 60;  // optional: how long a put-back waits for another one's tile
    bool windowFromArea = false;  // no window keys beside area_file: the area's extent, widened
    std::string flattenTo;        // flatten: plane (default), level, airport or metres
    double blendMetres = 100;     // flatten: the band where the ground eases back
};

/// What the run does: carve a window out (the default), put an edited cut back, or flatten an
/// area of the tile.
enum class Direction { carve, putBack, flatten };

/// Profile-file lookup exactly as Windows reads ini files: a UTF-16 file (FF FE or FE FF first)
/// is converted to the system's narrow text, a UTF-8 byte-order mark is skipped; lines end at LF
/// or CR; blanks (space, tab, VT, FF, 0x1A) around lines, names and values are ignored; ";"
/// lines are comments; a line starting "[" and holding "]" opens the section named up to its
/// last "]"; names match without regard to ASCII case; only the first section of the name is
/// searched, and in it the first line naming the key; a NUL ends a name or a value; a value
/// wrapped in a pair of matching quotes loses them. Returns the value, empty when absent.
std::string lookupProfileValue(std::string_view fileBytes, std::string_view section,
                               std::string_view key);

/// What went wrong while loading the settings.
enum class ConfigStatus { ok, fileNotFound, keyMissing };

struct ConfigResult {
    ConfigStatus status = ConfigStatus::ok;
    std::string_view missingKey;  // the first key that was absent or empty
};

/// Reads the required keys in their order (a carve's eight; for a put-back the window, the input,
/// wavefront_file and output_tile); stops at the first one that is absent or empty. Then the
/// optional keys, which are never reported missing.
ConfigResult loadSettings(const std::string& configPath, RunSettings& settings,
                          Direction direction = Direction::carve);

}  // namespace mc
