// The tile writer's pieces: the MD5 footer against RFC 1321's vectors and the samples' own
// footers, and pool planes in every encoding read back by the reader.
#include "dsf/tile_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "dsf/point_values.h"
#include "dsf/tile.h"
#include "test_support.h"
#include "tile_builder.h"

namespace mc {
namespace {

std::string hex(const std::array<uint8_t, 16>& digest) {
    std::string text;
    for (uint8_t byte : digest) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

std::string md5Hex(const std::string& bytes) {
    return hex(dsf::md5(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

TEST(TileWriter, Md5GivesTheRfcVectorsAndTheSamplesFooters) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},  // one block with the length
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},  // the length needs a second
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : cases) EXPECT_EQ(md5Hex(text), digest) << text.size();
    for (const char* name : {"tiny.dsf", "tin_small.dsf", "mesh_small.dsf", "raster_small.dsf"}) {
        std::string tile = test::readFile(SOURCE_DIR "/tests/data/dsf/" + std::string(name));
        ASSERT_GT(tile.size(), 16u) << name;
        std::string body = tile.substr(0, tile.size() - 16);
        std::string footer = body;
        dsf::appendFooter(footer);
        EXPECT_EQ(footer, tile) << name;
    }
}

// Random planes in each encoding, long runs and wrapping steps among them, decode as written.
TEST(TileWriter, PlanesInEveryEncodingReadBackAsWritten) {
    std::mt19937 random(23);
    for (uint8_t encoding = 0; encoding <= 3; ++encoding) {
        std::vector<uint16_t> values(3000);
        for (size_t i = 0; i < values.size(); ++i) {
            values[i] =
                random() % 4 == 0 ? uint16_t(random()) : uint16_t(i > 0 ? values[i - 1] : 7);
        }
        std::string bytes = test::tileBytes({{{encoding, values}}}, "");
        dsf::Tile tile;
        dsf::Damage damage;
        ASSERT_TRUE(dsf::openTile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                  tile, damage))
            << damage.what;
        dsf::PointValues decoded;
        dsf::attachTile(decoded, tile);
        for (uint32_t i = 0; i < values.size(); ++i) {
            ASSERT_EQ(dsf::rawValue(decoded, tile.pools[0], 0, i), values[i]) << int(encoding);
        }
    }
}

}  // namespace
}  // namespace mc
