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

void addToDigest(Md5& digest, const uint8_t* bytes, size_t size) {
    md5_update(&digest.context, size, bytes);
}

std::array<uint8_t, 16> finishDigest(Md5& digest) {
    std::array<uint8_t, 16> result;
    md5_digest(&digest.context, result.size(), result.data());
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
