// The pieces of a binary tile as the reader takes them: little-endian values, atoms, string
// tables, run-length differenced pool planes and the MD5 footer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nettle/md5.h>

namespace mc::dsf {

void put8(std::string& out, uint32_t value);
void put16(std::string& out, uint32_t value);
void put32(std::string& out, uint32_t value);
void putFloat(std::string& out, float value);

/// An atom: its four-letter name (stored as the reader expects, letters reversed), its length
/// counting the 8 header bytes, then the contents.
std::string atom(std::string_view name, std::string_view contents);

/// NUL-terminated strings back to back: a PROP, TERT, OBJT, POLY, NETW or DEMN table.
std::string stringTable(const std::vector<std::string>& strings);

/// How a pool plane's values are stored: 0 raw, 1 differenced, 2 run-length, 3 both.
enum class PlaneEncoding : uint8_t {
    raw = 0,
    differenced = 1,
    runLength = 2,
    runLengthDifferenced = 3
};

/// One plane of a 16-bit pool: the encoding byte, then the values in that encoding. Runs of three
/// or more equal values repeat one value; everything else goes out as literals.
void appendPlane(std::string& out, const uint16_t* values, size_t count, PlaneEncoding encoding);

/// A 16-bit pool's contents: the point count, the plane count and each plane (planes[p] holds
/// plane p's values, all of one length).
std::string poolContents(const std::vector<std::vector<uint16_t>>& planes, PlaneEncoding encoding);

/// An MD5 digest (RFC 1321) made as the bytes come, by nettle.
struct Md5 {
    md5_ctx context;
    Md5() { md5_init(&context); }
};
void addToDigest(Md5& digest, const uint8_t* bytes, size_t size);
std::array<uint8_t, 16> finishDigest(Md5& digest);

/// The MD5 digest of the bytes.
std::array<uint8_t, 16> md5(const uint8_t* bytes, size_t size);

/// The tile's first 12 bytes: the cookie and version 1.
std::string tileHeader();
/// Appends the footer: the MD5 digest of every byte before it.
void appendFooter(std::string& file);

}  // namespace mc::dsf
