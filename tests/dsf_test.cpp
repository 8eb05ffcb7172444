// The binary tile reader: pool decoding, the command walk, and refusal of damaged bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "dsf/archive.h"
#include "dsf/commands.h"
#include "dsf/point_values.h"
#include "dsf/tile.h"
#include "test_support.h"
#include "tile_builder.h"

namespace mc {
namespace {

using test::PlaneFixture;
using test::PoolFixture;
using test::tileBytes;

// Two small pools: five planes and seven planes, four points each.
std::vector<PoolFixture> twoPools() {
    PoolFixture five(5, PlaneFixture{3, {1, 2, 3, 4}}), seven(7, PlaneFixture{2, {4, 4, 4, 9}});
    return {five, seven};
}

struct Walked {
    bool opened = false;
    dsf::WalkStep last = dsf::WalkStep::damaged;
    size_t primitives = 0, vertices = 0;
};

// Opens and walks a copy of exactly these bytes, touching every value a vertex names.
Walked walk(const std::string& bytes) {
    auto copy = std::make_unique<uint8_t[]>(bytes.size());
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    Walked w;
    dsf::Tile tile;
    dsf::Damage damage;
    w.opened = dsf::openTile(copy.get(), bytes.size(), tile, damage);
    if (!w.opened) return w;
    dsf::PointValues values;
    dsf::attachTile(values, tile, 2);
    dsf::CommandWalker walker;
    dsf::startWalk(walker, tile);
    dsf::Primitive p;
    while ((w.last = dsf::nextPrimitive(walker, tile, p, damage)) == dsf::WalkStep::primitive) {
        ++w.primitives;
        for (const dsf::VertexRef& v : p.vertices) {
            for (uint32_t plane = 0; plane < p.depth; ++plane) {
                dsf::rawValue(values, tile.pools[v.pool], plane, v.index);
            }
            ++w.vertices;
        }
    }
    return w;
}

TEST(DsfPool, ChunkedDecodingGivesEveryValueWhateverTheCacheSize) {
    std::mt19937 random(4);
    PoolFixture pool;
    for (uint8_t encoding = 0; encoding < 4; ++encoding) {
        PlaneFixture plane{encoding, {}};
        while (plane.values.size() < 3000) {  // runs of every length, across chunk edges
            uint16_t value = uint16_t(random());
            plane.values.insert(plane.values.end(), 1 + random() % 300, value);
        }
        plane.values.resize(3000);
        pool.push_back(plane);
    }
    std::string bytes = tileBytes({pool, pool}, "");
    dsf::Tile tile;
    dsf::Damage damage;
    ASSERT_TRUE(
        dsf::openTile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), tile, damage));
    for (size_t chunks : {size_t(1), size_t(3), dsf::DEFAULT_CACHE_CHUNKS}) {
        dsf::PointValues values;
        dsf::attachTile(values, tile, chunks);
        for (int k = 0; k < 20000; ++k) {
            uint32_t p = random() % 2, plane = random() % 4, index = random() % 3000;
            ASSERT_EQ(dsf::rawValue(values, tile.pools[p], plane, index), pool[plane].values[index])
                << chunks << " chunks, plane " << plane << " point " << index;
        }
    }
}

TEST(DsfCommands, EveryFormIsWalkedAndDamageIsRefused) {
    struct Case {
        const char* name;
        std::string commands;
        dsf::WalkStep last;
        size_t vertices;
    };
    using S = std::string;
    const dsf::WalkStep end = dsf::WalkStep::end, damaged = dsf::WalkStep::damaged;
    const S patch5 = S("\x01\x00\x00\x10", 4), patch7 = S("\x01\x01\x00\x10", 4);
    const Case cases[] = {
        {"no commands", "", end, 0},
        {"list, strip and fan",
         patch5 + S("\x17\x03\x00\x00\x01\x00\x02\x00", 8) + S("\x1a\x01\x03\x00\x1d\x00", 6), end,
         4},
        {"cross-pool and range forms",
         patch7 + S("\x1b\x01\x01\x00\x03\x00", 6) +
             S("\x1f\x00\x00\x04\x00\x1c\x02\x00\x02\x00", 10),
         end, 5},
        {"flags, LOD, definitions, objects, roads, polygons and comments skipped",
         S("\x01\x00\x00\x11\x01\x12\x02", 7) + S(8, '\0') + S("\x03\x01\x04\x01\x00", 5) +
             S("\x05\x01\x00\x00\x00\x02\x05\x00\x00\x00\x06\x01\x07\x00\x00", 15) +
             S("\x08\x00\x00\x01\x00\x09\x01\x00\x00\x0a\x00\x00\x00\x00", 14) +
             S("\x0b\x01\x00\x00\x00\x00\x0c\x00\x00\x01\x00\x00", 12) +
             S("\x0d\x00\x00\x00\x00\x00\x00\x0e\x00\x00\x01\x01\x00\x00", 14) +
             S("\x0f\x00\x00\x01\x00\x00\x00\x00\x20\x01x\x21\x01\x00y", 15) +
             S("\x22\x00\x00\x00\x00\x19\x00\x00\x04\x00", 10),
         end, 4},
        {"an unknown command", patch5 + S("\x13", 1), damaged, 0},
        {"command zero", S("\x00", 1), damaged, 0},
        {"a truncated list", patch5 + S("\x17\x03\x00\x00", 4), damaged, 0},
        {"a truncated patch", S("\x01\x00\x00\x12\x01\x00", 6), damaged, 0},
        {"a truncated comment", S("\x21\x05\x00xy", 5), damaged, 0},
        {"an index past the pool", patch5 + S("\x17\x01\x04\x00", 4), damaged, 0},
        {"a range past the pool", patch5 + S("\x19\x02\x00\x05\x00", 5), damaged, 0},
        {"a range ending before its start", patch5 + S("\x19\x02\x00\x01\x00", 5), damaged, 0},
        {"a cross-pool vertex of another depth", patch5 + S("\x18\x01\x01\x00\x00\x00", 6), damaged,
         0},
        {"a cross-pool vertex of no pool", patch5 + S("\x18\x01\x02\x00\x00\x00", 6), damaged, 0},
        {"a pool select of no pool", S("\x01\x02\x00", 3), damaged, 0},
        {"a primitive before any patch", S("\x01\x00\x00\x17\x00", 5), damaged, 0},
        {"a primitive before any pool", S("\x10\x17\x00", 3), damaged, 0},
    };
    for (const Case& c : cases) {
        Walked w = walk(tileBytes(twoPools(), c.commands));
        ASSERT_TRUE(w.opened) << c.name;
        EXPECT_EQ(w.last, c.last) << c.name;
        if (c.last == end) {
            EXPECT_EQ(w.vertices, c.vertices) << c.name;
        }
    }
}

TEST(DsfTile, DamagedFilesAreRefusedBeforeAnyCommand) {
    const std::string good = tileBytes(twoPools(), "");
    auto patched = [&](size_t at, std::string bytes) {
        std::string s = good;
        return s.replace(at, bytes.size(), bytes);
    };
    size_t geometry = good.find("DOEG"), commands = good.find("SDMC");
    size_t firstPool = good.find("LOOP"), firstScale = good.find("LACS");
    const std::pair<const char*, std::string> cases[] = {
        {"version 2", patched(8, std::string("\x02", 1))},
        {"shorter than header and footer", good.substr(0, 27)},
        {"an atom longer than its container", patched(commands + 4, std::string("\x09", 1))},
        {"an atom shorter than its header", patched(commands + 4, std::string("\x07", 1))},
        {"no command atom", patched(commands, "XDMC")},
        {"no geometry atom", patched(geometry, "XOEG")},
        {"no property table", patched(good.find("PORP"), "XORP")},
        {"no terrain table", patched(good.find("TRET"), "XRET")},
        {"an odd property table", patched(good.find("sim/west") + 8, "+")},
        {"an unknown plane encoding", patched(firstPool + 13, std::string("\x04", 1))},
        {"a run of no values", patched(firstPool + 14, std::string("\x00", 1))},
        {"a pool without its scales", patched(firstScale, "XACS")},
        {"a scale that is not a number",
         patched(firstScale + 8, std::string("\x00\x00\xc0\x7f", 4))},
        {"a negative point count", patched(firstPool + 8, std::string("\xff\xff\xff\xff", 4))},
    };
    for (const auto& [name, bytes] : cases) EXPECT_FALSE(walk(bytes).opened) << name;
    EXPECT_TRUE(walk(good).opened);
}

// Each byte cut off the end shows as an atom or command running past its end, never as a read
// beyond the copy (AddressSanitizer watches the exact-size copies).
TEST(DsfTile, EveryTruncationIsRefused) {
    std::vector<std::string> files = {
        tileBytes(twoPools(), std::string("\x01\x00\x00\x10\x17\x03\x00\x00\x01\x00\x02\x00", 12))};
    for (const char* name : {"tiny.dsf", "ranges.dsf"}) {
        std::string path = std::string(SOURCE_DIR "/tests/data/dsf/") + name;
        if (test::fileExists(path)) files.push_back(test::readFile(path));
    }
    for (const std::string& file : files) {
        Walked whole = walk(file);
        ASSERT_EQ(whole.last, dsf::WalkStep::end);
        for (size_t size = 0; size < file.size(); ++size) {
            Walked cut = walk(file.substr(0, size));
            EXPECT_TRUE(!cut.opened || cut.last == dsf::WalkStep::damaged) << size;
        }
    }
}

// An entry larger than a tile can be is refused from its header, before memory grows.
TEST(DsfArchive, EntriesPastTheLimitAreRefused) {
    const std::string tiny = SOURCE_DIR "/tests/data/dsf/tiny.7z.dsf";
    const std::string zeros = SOURCE_DIR "/tests/data/archives/zeros_1gib.7z.dsf";
    const struct {
        std::string path;
        uint64_t limit;
        bool unpacks;
        const char* reason;
    } cases[] = {
        {tiny, dsf::MAX_UNPACKED_TILE, true, ""},
        {tiny, 509, true, ""},
        {tiny, 508, false, "its entry declares 509 bytes, more than 508"},
        {zeros, 1 << 20, false, "its entry declares 1,073,741,824 bytes, more than 1,048,576"},
    };
    for (const auto& c : cases) {
        if (!test::fileExists(c.path)) continue;
        ByteBuffer out;
        ProgressMeter meter;
        Status unpacked = dsf::unpackFirstEntry(c.path, out, meter, c.limit);
        EXPECT_EQ(unpacked.ok(), c.unpacks) << c.path << " " << c.limit;
        EXPECT_NE(unpacked.reason.find(c.reason), std::string::npos) << unpacked.reason;
        EXPECT_EQ(out.size, c.unpacks ? 509u : 0u);
    }
}

}  // namespace
}  // namespace mc
