// mesh_carver.ini read: the [mesh_carver] section's keys into the run's settings.
#include "app/config.h"

#include <span>
#include <string>

#include "platform/platform.h"
#include "text/numbers.h"

namespace mc {

namespace {

// CR is no blank: like LF, it ends a line.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

// Names and values are C strings to the system: a NUL ends them.
std::string_view untilNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string readIniFile(const std::string& path) {
    std::string bytes;
    FileHandle handle = openReadHandle(path);
    if (handle == NO_FILE) return bytes;
    char block[64 << 10];
    for (int64_t got; (got = readHandle(handle, block, sizeof block)) > 0;) {
        bytes.append(block, size_t(got));
    }
    closeHandle(handle);
    return bytes;
}

// A byte-order mark tells the encoding: UTF-16 text is converted to the narrow form the system
// hands to programs; a UTF-8 mark is dropped and the bytes used as they are.
std::string profileText(std::string_view bytes) {
    bool little = bytes.starts_with("\xFF\xFE"), big = bytes.starts_with("\xFE\xFF");
    if (!little && !big) {
        if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
        return std::string(bytes);
    }
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        uint8_t first = uint8_t(bytes[i]), second = uint8_t(bytes[i + 1]);
        units.push_back(char16_t(little ? first | second << 8 : first << 8 | second));
    }
    return narrowFromUtf16(units);
}

}  // namespace

std::string lookupProfileValue(std::string_view fileBytes, std::string_view section,
                               std::string_view key) {
    const std::string text = profileText(fileBytes);
    std::string_view bytes = text;
    bool inSection = false;
    while (!bytes.empty()) {
        size_t lineEnd = bytes.find_first_of("\r\n");
        std::string_view line = trimBlanks(bytes.substr(0, lineEnd));
        bytes.remove_prefix(lineEnd == std::string_view::npos ? bytes.size() : lineEnd + 1);
        if (line.empty() || line.front() == ';') continue;
        size_t close = line.rfind(']');
        if (line.front() == '[' && close != std::string_view::npos) {
            // only the first section of the name counts; a later one is never searched
            if (inSection) return {};
            inSection =
                equalsIgnoringCase(untilNul(trimBlanks(line.substr(1, close - 1))), section);
            continue;
        }
        if (!inSection) continue;
        size_t equals = line.find('=');
        if (!equalsIgnoringCase(untilNul(trimBlanks(line.substr(0, equals))), key)) continue;
        if (equals == std::string_view::npos) return {};
        return std::string(unquote(untilNul(trimBlanks(line.substr(equals + 1)))));
    }
    return {};
}

ConfigResult loadSettings(const std::string& configPath, RunSettings& settings,
                          Direction direction) {
    if (fileSize(configPath) == 0) return {ConfigStatus::fileNotFound, {}};
    const std::string bytes = readIniFile(configPath);
    auto value = [&](std::string_view key) {
        return lookupProfileValue(bytes, CONFIG_SECTION, key);
    };
    static constexpr std::string_view CARVE_KEYS[] = {"lat_min",       "lat_max",    "long_min",
                                                      "long_max",      "input_file", "output_file",
                                                      "nb_max_vertex", "nb_max_tris"};
    static constexpr std::string_view PUT_BACK_KEYS[] = {
        "lat_min",    "lat_max",        "long_min",   "long_max",
        "input_file", "wavefront_file", "output_tile"};
    static constexpr std::string_view FLATTEN_KEYS[] = {
        "lat_min", "lat_max", "long_min", "long_max", "input_file", "area_file", "output_tile"};
    std::span<const std::string_view> required(CARVE_KEYS);
    if (direction == Direction::putBack) required = PUT_BACK_KEYS;
    if (direction == Direction::flatten) required = FLATTEN_KEYS;
    // with an area the four window keys may all be left out: the window is then the area's
    settings.windowFromArea = (!value("area_file").empty() || direction == Direction::flatten) &&
                              value("lat_min").empty() && value("lat_max").empty() &&
                              value("long_min").empty() && value("long_max").empty();
    for (std::string_view key : required.subspan(settings.windowFromArea ? 4 : 0)) {
        if (value(key).empty()) return {ConfigStatus::keyMissing, key};
    }
    settings.latMin = parseNumber(value("lat_min"));
    settings.latMax = parseNumber(value("lat_max"));
    settings.longMin = parseNumber(value("long_min"));
    settings.longMax = parseNumber(value("long_max"));
    settings.inputFile = value("input_file");
    settings.outputFile = value("output_file");
    settings.maxVertices = roundToInt32(parseNumber(value("nb_max_vertex")));
    settings.maxIndices = roundToInt32(parseNumber(value("nb_max_tris")));
    settings.wavefrontFile = value("wavefront_file");
    settings.previewFile = value("preview_file");
    settings.sceneryFolder = value("scenery_folder");
    settings.xplaneFolder = value("xplane_folder");
    settings.outputTile = value("output_tile");
    settings.cacheFolder = value("cache_folder");
    settings.cacheOff = equalsIgnoringCase(settings.cacheFolder, "off");
    settings.areaFile = value("area_file");
    settings.area = value("area");
    settings.clip = parseNumber(value("clip")) != 0;
    if (std::string size = value("cache_size_mb"); !size.empty()) {
        settings.cacheSizeMb = parseNumber(size);
    }
    settings.flattenTo = value("flatten_to");
    if (std::string blend = value("blend_m"); !blend.empty()) {
        settings.blendMetres = parseNumber(blend);
    }
    if (std::string wait = value("lock_wait_s"); !wait.empty()) {
        settings.lockWaitSeconds = parseNumber(wait);
    }
    return {};
}

}  // namespace mc
