// Little-endian reads over a byte span that refuse to pass its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace mc::dsf {

struct Cursor {
    const uint8_t* at;
    const uint8_t* end;
};

/// What is wrong with a tile, and at which byte of it (when that is known).
struct Damage {
    std::string what;
    const uint8_t* base = nullptr;  // the tile's first byte, set when reading starts
    uint64_t at = UINT64_MAX;
};

/// Says what is wrong (the place is noted apart, by placeDamage).
inline void describeDamage(Damage& damage, const char* what) {
    damage.what = what;
}

/// Notes where the damage was found, unless a more precise place is noted already.
inline void placeDamage(Damage& damage, const uint8_t* at) {
    if (damage.base && damage.at == UINT64_MAX) damage.at = uint64_t(at - damage.base);
}

inline size_t bytesLeft(const Cursor& cursor) {
    return size_t(cursor.end - cursor.at);
}

/// Steps over n bytes; false, without moving, when fewer are left.
inline bool skipBytes(Cursor& cursor, size_t count) {
    if (bytesLeft(cursor) < count) return false;
    cursor.at += count;
    return true;
}

// Values start at any byte: copied out, never read through a cast pointer.
template <typename T>
inline bool readValue(Cursor& cursor, T& value) {
    if (bytesLeft(cursor) < sizeof(T)) return false;
    std::memcpy(&value, cursor.at, sizeof(T));
    cursor.at += sizeof(T);
    return true;
}

inline uint16_t loadU16(const uint8_t* bytes) {
    uint16_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace mc::dsf
