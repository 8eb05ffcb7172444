// 7z-packed tiles: the first entry of the archive, unpacked into memory.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "text/progress.h"
#include "text/status.h"

namespace mc::dsf {

/// No tile comes near this: the format's atom lengths are 32-bit.
constexpr uint64_t MAX_UNPACKED_TILE = uint64_t(4) << 30;

/// Unpacks the first entry of a 7z archive whole. Fails (readInput, saying why, with what the
/// library said) when the archive is damaged, empty, starts with a folder, uses a method the
/// library cannot decode, its data or CRC do not check out, or its entry declares or unpacks to
/// more than `limit` bytes (refused before memory grows past that); never hands out part of an
/// entry. The meter shows the bytes unpacked, a few MiB at a time.
Status unpackFirstEntry(const std::string& path, ByteBuffer& out, ProgressMeter& meter,
                        uint64_t limit = MAX_UNPACKED_TILE);

}  // namespace mc::dsf
