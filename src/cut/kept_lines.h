// The kept blocks' lines, read back from the temporary file where the selection pass wrote them:
// one reader that every writer shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cut/elevation.h"
#include "platform/platform.h"
#include "text/fields.h"
#include "text/numbers.h"

namespace mc {

/// The keywords of a block as the text form prints it.
constexpr std::string_view BEGIN_PRIMITIVE = "BEGIN_PRIMITIVE";
constexpr std::string_view PATCH_VERTEX = "PATCH_VERTEX";
constexpr std::string_view END_PRIMITIVE = "END_PRIMITIVE";

/// Lines are read through a window of the file, which grows for a line longer than it. The
/// window is a cache: reading a line leaves the reader as it was, as far as its users can tell.
/// Lines made by the run itself (a clipped cut's new vertices) are held in memory, at offsets
/// from ADDED_LINES on.
struct KeptLines {
    std::string path;
    FileHandle handle = NO_FILE;
    mutable std::vector<char> window;
    mutable uint64_t windowStart = 0;
    mutable size_t windowSize = 0;
    std::string added;  // the run's own lines, each ending in LF

    KeptLines() = default;
    KeptLines(KeptLines&& other) noexcept;
    KeptLines& operator=(KeptLines&& other) noexcept;
    ~KeptLines();
};

/// Opens the temporary file for reading its lines back; false when it cannot be opened.
bool openKeptLines(KeptLines& lines, const std::string& path);

/// The line that starts at `offset`, by the same rule the reader applied when the vertex was
/// stored; false on a read error.
bool keptLine(const KeptLines& lines, uint64_t offset, std::string_view& line);

/// Where the run's own lines start: far past any temporary file, within a stored vertex's 48
/// bits of offset.
constexpr uint64_t ADDED_LINES = uint64_t(1) << 47;
/// Adds a line of the run's own; returns its offset.
uint64_t addKeptLine(KeptLines& lines, std::string_view line);

/// Longitude, latitude and elevation: the first three fields after the keyword, the last of
/// them running to the end of the line when nothing follows it.
struct VertexPosition {
    double lon = 0, lat = 0, elev = 0;
};
inline VertexPosition readVertexPosition(std::string_view remainder,
                                         const char** elevField = nullptr) {
    VertexPosition v;
    SplitText field = splitFirstField(remainder);
    v.lon = parseNumber(field.first);
    field = splitFirstField(field.rest);
    v.lat = parseNumber(field.first);
    std::string_view elev = splitFirstField(field.rest).first;
    v.elev = elev == RASTER_HEIGHT_FLAG_TEXT ? RASTER_HEIGHT_FLAG : parseNumber(elev);
    if (elevField) *elevField = elev.data();
    return v;
}

}  // namespace mc
