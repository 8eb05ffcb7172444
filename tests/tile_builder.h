// Binary tiles built for the tests: pools of 16-bit planes in any encoding, every plane scaled
// 1 with offset 0 (a raw value r decodes to r / 65535), and a command stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsf/tile_writer.h"

namespace mc::test {

using dsf::put16;
using dsf::put32;

struct PlaneFixture {
    uint8_t encoding;
    std::vector<uint16_t> values;
};
using PoolFixture = std::vector<PlaneFixture>;

/// A whole tile: header, one terrain definition, the pools with their scales, the commands.
std::string tileBytes(const std::vector<PoolFixture>& pools, const std::string& commands);

}  // namespace mc::test
