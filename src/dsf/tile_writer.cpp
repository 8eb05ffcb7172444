#include "dsf/tile_writer.h"

#include <algorithm>
#include <cstring>

#include "dsf/tile.h"

namespace mc::dsf {

void put8(std::string& out, uint32_t value) {
    out.push_back(char(value & 0xFF));
}
void put16(std::string& out, uint32_t value) {
    put8(out, value), put8(out, value >> 8);
}
void put32(std::string& out, uint32_t value) {
    put16(out, value & 0xFFFF), put16(out, value >> 16);
}
void putFloat(std::string& out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    put32(out, bits);
}

std::string atom(std::string_view name, std::string_view contents) {
    std::string out;
    out.reserve(contents.size() + 8);
    put32(out, uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
                   uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3])));
    put32(out, uint32_t(contents.size() + 8));
    out.append(contents);
    return out;
}

std::string stringTable(const std::vector<std::string>& strings) {
    std::string out;
    for (const std::string& s : strings) out.append(s).push_back('\0');
    return out;
}

namespace {

// Equal values that make a repeated run: shorter ones cost no more as literals.
constexpr size_t LEAST_REPEAT = 3;
constexpr size_t MOST_IN_RUN = 127;

size_t equalRun(const std::vector<uint16_t>& v, size_t from) {
    size_t run = 1;
    while (from + run < v.size() && run < MOST_IN_RUN && v[from + run] == v[from]) ++run;
    return run;
}

void appendRuns(std::string& out, const std::vector<uint16_t>& v) {
    for (size_t i = 0; i < v.size();) {
        size_t same = equalRun(v, i);
        if (same >= LEAST_REPEAT) {
            put8(out, 0x80 | uint32_t(same)), put16(out, v[i]);
            i += same;
            continue;
        }
        size_t literal = 0;
        while (i + literal < v.size() && literal < MOST_IN_RUN &&
               equalRun(v, i + literal) < LEAST_REPEAT) {
            ++literal;
        }
        put8(out, uint32_t(literal));
        for (size_t k = 0; k < literal; ++k) put16(out, v[i + k]);
        i += literal;
    }
}

}  // namespace

void appendPlane(std::string& out, const uint16_t* values, size_t count, PlaneEncoding encoding) {
    put8(out, uint32_t(encoding));
    std::vector<uint16_t> v(values, values + count);
    bool differenced =
        encoding == PlaneEncoding::differenced || encoding == PlaneEncoding::runLengthDifferenced;
    if (differenced) {
        for (size_t i = v.size(); i-- > 1;) v[i] = uint16_t(v[i] - v[i - 1]);
    }
    if (encoding == PlaneEncoding::raw || encoding == PlaneEncoding::differenced) {
        for (uint16_t value : v) put16(out, value);
        return;
    }
    appendRuns(out, v);
}

std::string poolContents(const std::vector<std::vector<uint16_t>>& planes, PlaneEncoding encoding) {
    std::string out;
    put32(out, uint32_t(planes.empty() ? 0 : planes[0].size()));
    put8(out, uint32_t(planes.size()));
    for (const std::vector<uint16_t>& plane : planes) {
        appendPlane(out, plane.data(), plane.size(), encoding);
    }
    return out;
}

namespace {

constexpr uint32_t MD5_SHIFTS[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                     5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                     4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                     6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// floor(|sin(i + 1)| * 2^32), as RFC 1321 tabulates it
constexpr uint32_t MD5_SINES[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void md5Block(uint32_t (&state)[4], const uint8_t* block) {
    uint32_t m[16];
    for (int k = 0; k < 16; ++k) {
        m[k] = uint32_t(block[4 * k]) | uint32_t(block[4 * k + 1]) << 8 |
               uint32_t(block[4 * k + 2]) << 16 | uint32_t(block[4 * k + 3]) << 24;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d), g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d, g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d), g = (7 * i) % 16;
        }
        uint32_t sum = a + f + MD5_SINES[i] + m[g];
        a = d, d = c, c = b;
        b = b + (sum << MD5_SHIFTS[i] | sum >> (32 - MD5_SHIFTS[i]));
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
}

}  // namespace

void addToDigest(Md5& digest, const uint8_t* bytes, size_t size) {
    digest.total += size;
    if (digest.pendingSize > 0) {
        size_t taken = std::min(size, 64 - digest.pendingSize);
        std::memcpy(digest.pending + digest.pendingSize, bytes, taken);
        digest.pendingSize += taken, bytes += taken, size -= taken;
        if (digest.pendingSize < 64) return;
        md5Block(digest.state, digest.pending);
        digest.pendingSize = 0;
    }
    for (; size >= 64; bytes += 64, size -= 64) md5Block(digest.state, bytes);
    std::memcpy(digest.pending, bytes, size);
    digest.pendingSize = size;
}

std::array<uint8_t, 16> finishDigest(Md5& digest) {
    // the tail, a 1 bit, zeros, and the length in bits: one or two blocks
    uint8_t tail[128] = {};
    size_t rest = digest.pendingSize;
    std::memcpy(tail, digest.pending, rest);
    tail[rest] = 0x80;
    size_t tailSize = rest < 56 ? 64 : 128;
    uint64_t bits = digest.total * 8;
    for (int k = 0; k < 8; ++k) tail[tailSize - 8 + k] = uint8_t(bits >> (8 * k));
    for (size_t at = 0; at < tailSize; at += 64) md5Block(digest.state, tail + at);
    std::array<uint8_t, 16> result;
    for (int k = 0; k < 16; ++k) result[k] = uint8_t(digest.state[k / 4] >> (8 * (k % 4)));
    return result;
}

std::array<uint8_t, 16> md5(const uint8_t* bytes, size_t size) {
    Md5 digest;
    addToDigest(digest, bytes, size);
    return finishDigest(digest);
}

std::string tileHeader() {
    std::string out(DSF_COOKIE);
    put32(out, 1);
    return out;
}

void appendFooter(std::string& file) {
    std::array<uint8_t, 16> digest =
        md5(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    file.append(reinterpret_cast<const char*>(digest.data()), digest.size());
}

}  // namespace mc::dsf
