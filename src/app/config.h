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
    std::string wavefrontFile;  // optional: empty when the ini names none
};

/// The working directory, whatever its length; "." when the system cannot tell.
std::string currentDirectory();

/// Profile-file lookup with the rules Windows users' ini files rely on: a UTF-8 byte-order mark
/// is skipped, blanks (space, tab, CR, VT, FF, 0x1A) around lines, names and values are ignored,
/// ";" lines are comments, section and key names match without regard to ASCII case, a value
/// wrapped in a pair of matching quotes loses them, and the first line naming the key in any
/// section of that name wins. Returns the value, empty when the key is absent.
std::string lookupProfileValue(std::string_view fileBytes, std::string_view section,
                               std::string_view key);

/// What went wrong while loading the settings.
enum class ConfigStatus { ok, fileNotFound, keyMissing };

struct ConfigResult {
    ConfigStatus status = ConfigStatus::ok;
    std::string_view missingKey;  // the first key that was absent or empty
};

/// Reads the eight keys in their order; stops at the first one that is absent or empty. Then
/// the optional keys, which are never reported missing.
ConfigResult loadSettings(const std::string& configPath, RunSettings& settings);

}  // namespace mc
