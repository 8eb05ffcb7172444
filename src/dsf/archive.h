// 7z-packed tiles: the first entry of the archive, unpacked into memory.
#pragma once

#include <string>

#include "platform/platform.h"
#include "text/progress.h"

namespace mc::dsf {

/// Unpacks the first entry of a 7z archive whole. Fails (naming why in `damage`) when the
/// archive is damaged, empty, starts with a folder, uses a method the library cannot decode, or
/// its data or CRC do not check out; never hands out part of an entry.
/// The meter shows the bytes unpacked.
bool unpackFirstEntry(const std::string& path, ByteBuffer& out, const char*& damage,
                      ProgressMeter& meter);

}  // namespace mc::dsf
