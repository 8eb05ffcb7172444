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
    Damage& operator=(const char* text) {
        what = text;
        return *this;
    }
};

/// Notes where the damage was found, unless a more precise place is noted already.
inline void placeDamage(Damage& d, const uint8_t* p) {
    if (d.base && d.at == UINT64_MAX) d.at = uint64_t(p - d.base);
}

inline size_t bytesLeft(const Cursor& c) {
    return size_t(c.end - c.at);
}

/// Steps over n bytes; false, without moving, when fewer are left.
inline bool skipBytes(Cursor& c, size_t n) {
    if (bytesLeft(c) < n) return false;
    c.at += n;
    return true;
}

// Values start at any byte: copied out, never read through a cast pointer.
template <typename T>
inline bool readValue(Cursor& c, T& value) {
    if (bytesLeft(c) < sizeof(T)) return false;
    std::memcpy(&value, c.at, sizeof(T));
    c.at += sizeof(T);
    return true;
}

inline uint16_t loadU16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace mc::dsf
