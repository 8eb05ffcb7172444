// A binary tile's pieces written as the reader takes them: values, atoms, string tables, pools.
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

// One step of a round: a = b + ((a + f(b, c, d) + word + sine) <<< shift)
template <typename F>
inline void md5Step(F f, uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t word,
                    uint32_t sine, int shift) {
    uint32_t sum = a + f(b, c, d) + word + sine;
    a = b + (sum << shift | sum >> (32 - shift));
}

// The 64 steps of RFC 1321 written out, so that every shift, word and sine is a constant.
void md5Block(uint32_t (&state)[4], const uint8_t* block) {
    uint32_t m[16];
    for (int k = 0; k < 16; ++k) {
        m[k] = uint32_t(block[4 * k]) | uint32_t(block[4 * k + 1]) << 8 |
               uint32_t(block[4 * k + 2]) << 16 | uint32_t(block[4 * k + 3]) << 24;
    }
    auto f = [](uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); };
    auto g = [](uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); };
    auto h = [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; };
    auto i = [](uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); };
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    md5Step(f, a, b, c, d, m[0], 0xd76aa478, 7), md5Step(f, d, a, b, c, m[1], 0xe8c7b756, 12);
    md5Step(f, c, d, a, b, m[2], 0x242070db, 17), md5Step(f, b, c, d, a, m[3], 0xc1bdceee, 22);
    md5Step(f, a, b, c, d, m[4], 0xf57c0faf, 7), md5Step(f, d, a, b, c, m[5], 0x4787c62a, 12);
    md5Step(f, c, d, a, b, m[6], 0xa8304613, 17), md5Step(f, b, c, d, a, m[7], 0xfd469501, 22);
    md5Step(f, a, b, c, d, m[8], 0x698098d8, 7), md5Step(f, d, a, b, c, m[9], 0x8b44f7af, 12);
    md5Step(f, c, d, a, b, m[10], 0xffff5bb1, 17), md5Step(f, b, c, d, a, m[11], 0x895cd7be, 22);
    md5Step(f, a, b, c, d, m[12], 0x6b901122, 7), md5Step(f, d, a, b, c, m[13], 0xfd987193, 12);
    md5Step(f, c, d, a, b, m[14], 0xa679438e, 17), md5Step(f, b, c, d, a, m[15], 0x49b40821, 22);
    md5Step(g, a, b, c, d, m[1], 0xf61e2562, 5), md5Step(g, d, a, b, c, m[6], 0xc040b340, 9);
    md5Step(g, c, d, a, b, m[11], 0x265e5a51, 14), md5Step(g, b, c, d, a, m[0], 0xe9b6c7aa, 20);
    md5Step(g, a, b, c, d, m[5], 0xd62f105d, 5), md5Step(g, d, a, b, c, m[10], 0x02441453, 9);
    md5Step(g, c, d, a, b, m[15], 0xd8a1e681, 14), md5Step(g, b, c, d, a, m[4], 0xe7d3fbc8, 20);
    md5Step(g, a, b, c, d, m[9], 0x21e1cde6, 5), md5Step(g, d, a, b, c, m[14], 0xc33707d6, 9);
    md5Step(g, c, d, a, b, m[3], 0xf4d50d87, 14), md5Step(g, b, c, d, a, m[8], 0x455a14ed, 20);
    md5Step(g, a, b, c, d, m[13], 0xa9e3e905, 5), md5Step(g, d, a, b, c, m[2], 0xfcefa3f8, 9);
    md5Step(g, c, d, a, b, m[7], 0x676f02d9, 14), md5Step(g, b, c, d, a, m[12], 0x8d2a4c8a, 20);
    md5Step(h, a, b, c, d, m[5], 0xfffa3942, 4), md5Step(h, d, a, b, c, m[8], 0x8771f681, 11);
    md5Step(h, c, d, a, b, m[11], 0x6d9d6122, 16), md5Step(h, b, c, d, a, m[14], 0xfde5380c, 23);
    md5Step(h, a, b, c, d, m[1], 0xa4beea44, 4), md5Step(h, d, a, b, c, m[4], 0x4bdecfa9, 11);
    md5Step(h, c, d, a, b, m[7], 0xf6bb4b60, 16), md5Step(h, b, c, d, a, m[10], 0xbebfbc70, 23);
    md5Step(h, a, b, c, d, m[13], 0x289b7ec6, 4), md5Step(h, d, a, b, c, m[0], 0xeaa127fa, 11);
    md5Step(h, c, d, a, b, m[3], 0xd4ef3085, 16), md5Step(h, b, c, d, a, m[6], 0x04881d05, 23);
    md5Step(h, a, b, c, d, m[9], 0xd9d4d039, 4), md5Step(h, d, a, b, c, m[12], 0xe6db99e5, 11);
    md5Step(h, c, d, a, b, m[15], 0x1fa27cf8, 16), md5Step(h, b, c, d, a, m[2], 0xc4ac5665, 23);
    md5Step(i, a, b, c, d, m[0], 0xf4292244, 6), md5Step(i, d, a, b, c, m[7], 0x432aff97, 10);
    md5Step(i, c, d, a, b, m[14], 0xab9423a7, 15), md5Step(i, b, c, d, a, m[5], 0xfc93a039, 21);
    md5Step(i, a, b, c, d, m[12], 0x655b59c3, 6), md5Step(i, d, a, b, c, m[3], 0x8f0ccc92, 10);
    md5Step(i, c, d, a, b, m[10], 0xffeff47d, 15), md5Step(i, b, c, d, a, m[1], 0x85845dd1, 21);
    md5Step(i, a, b, c, d, m[8], 0x6fa87e4f, 6), md5Step(i, d, a, b, c, m[15], 0xfe2ce6e0, 10);
    md5Step(i, c, d, a, b, m[6], 0xa3014314, 15), md5Step(i, b, c, d, a, m[13], 0x4e0811a1, 21);
    md5Step(i, a, b, c, d, m[4], 0xf7537e82, 6), md5Step(i, d, a, b, c, m[11], 0xbd3af235, 10);
    md5Step(i, c, d, a, b, m[2], 0x2ad7d2bb, 15), md5Step(i, b, c, d, a, m[9], 0xeb86d391, 21);
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
