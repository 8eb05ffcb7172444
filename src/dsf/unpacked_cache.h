// Unpacked copies of 7z tiles, kept between runs: the second cut of a packed tile reads a plain
// file instead of unpacking the archive again.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "text/status.h"

namespace mc::dsf {

constexpr uint64_t DEFAULT_CACHE_BYTES = uint64_t(4096) << 20;

/// Where the copies go and how much they may take in all; an empty folder keeps none.
struct UnpackedCache {
    std::string folder;
    uint64_t limit = DEFAULT_CACHE_BYTES;
};

/// The copy of the archive's tile (the same full path, size and modification time), mapped, when
/// the cache holds one whose bytes are those that were unpacked; it then counts as just used. A
/// copy that does not check out is removed. False when there is no good copy.
bool readCachedTile(const UnpackedCache& cache, const FileStamp& archive, ByteBuffer& bytes);

/// Keeps the tile unpacked from the archive: written under a temporary name and renamed when
/// complete, so that no run reads half a copy, then the least recently used copies dropped past
/// the limit. A tile larger than the limit is not kept. Fails (keepCache) when the folder cannot
/// take it.
Status keepUnpackedTile(const UnpackedCache& cache, const FileStamp& archive,
                        const ByteBuffer& bytes);

/// A 64-bit checksum of bytes, at memory speed: what tells a good copy from a damaged one.
uint64_t contentChecksum(const uint8_t* bytes, size_t size);

}  // namespace mc::dsf
