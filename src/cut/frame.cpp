// Degrees and metres, positions around the origin, welding by position.
#include "cut/frame.h"

#include <bit>

namespace mc {

namespace {

constexpr uint32_t EMPTY_SLOT = UINT32_MAX;

// Equal positions hash alike: -0.0 is folded into 0.0 first.
uint64_t positionHash(const StoredVertex& v) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (double c : {v.x + 0.0, v.elevation + 0.0, v.z + 0.0}) {
        h = (h ^ std::bit_cast<uint64_t>(c)) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    return h;
}

bool samePosition(const StoredVertex& a, const StoredVertex& b) {
    return a.x == b.x && a.elevation == b.elevation && a.z == b.z;
}

}  // namespace

Metres metresOf(const StoredVertex& vertex, const OriginVertex& origin) {
    auto relative = [](double value, double base) {
        return double((static_cast<long double>(value) - base) * METRES_PER_UNIT);
    };
    return {relative(vertex.x, origin.x), relative(objectY(vertex), origin.y),
            relative(vertex.z, origin.z)};
}

double upwardTurn(const StoredVertex& first, const StoredVertex& second,
                  const StoredVertex& third) {
    return (second.z - first.z) * (third.x - first.x) - (second.x - first.x) * (third.z - first.z);
}

// The table holds vertex numbers: 4 bytes a slot, at most 3 slots a vertex, so welding costs
// at most 16 bytes per stored vertex with the numbers.
std::vector<uint32_t> weldPositions(const ChunkedArray<StoredVertex>& vertices,
                                    uint32_t& distinct) {
    size_t count = vertices.count;
    size_t slots = std::bit_ceil(count + count / 2 + 1);
    std::vector<uint32_t> table(slots, EMPTY_SLOT);
    std::vector<uint32_t> number(count);
    distinct = 0;
    for (size_t i = 0; i < count; ++i) {
        const StoredVertex& v = vertices[i];
        size_t slot = positionHash(v) & (slots - 1);
        while (table[slot] != EMPTY_SLOT && !samePosition(vertices[table[slot]], v)) {
            slot = (slot + 1) & (slots - 1);
        }
        if (table[slot] == EMPTY_SLOT) {
            table[slot] = uint32_t(i);
            number[i] = distinct++;
        } else {
            number[i] = number[table[slot]];
        }
    }
    return number;
}

}  // namespace mc
