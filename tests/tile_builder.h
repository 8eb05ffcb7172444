// Binary tiles built byte by byte for the tests: pools of 16-bit planes in any encoding, every
// plane scaled 1 with offset 0 (a raw value r decodes to r / 65535), and a command stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mc::test {

struct PlaneFixture {
    uint8_t encoding;
    std::vector<uint16_t> values;
};
using PoolFixture = std::vector<PlaneFixture>;

void put16(std::string& s, uint32_t v);
void put32(std::string& s, uint32_t v);
std::string atom(const char* id, const std::string& contents);

/// The plane as a tile stores it: differenced for encodings 1 and 3, runs for 2 and 3.
std::string encodePlane(const PlaneFixture& plane);

/// A whole tile: header, one terrain definition, the pools with their scales, the commands.
std::string tileBytes(const std::vector<PoolFixture>& pools, const std::string& commands);

}  // namespace mc::test
