// A growable array whose elements stay where they were put.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace mc {

/// A growable array in fixed chunks: no reallocation copies, no slack beyond one chunk. An
/// element never moves once pushed (chunks are allocated once and kept), so a pointer to it
/// stays valid as long as the array: the raster lookups write through such pointers while the
/// array grows.
template <typename T>
struct ChunkedArray {
    static constexpr size_t CHUNK_BITS = 16;
    static constexpr size_t CHUNK_SIZE = size_t(1) << CHUNK_BITS;
    std::vector<std::unique_ptr<T[]>> chunks;
    size_t count = 0;

    void push(const T& value) {
        if ((count >> CHUNK_BITS) == chunks.size()) {
            chunks.push_back(std::make_unique_for_overwrite<T[]>(CHUNK_SIZE));
        }
        chunks[count >> CHUNK_BITS][count & (CHUNK_SIZE - 1)] = value;
        ++count;
    }
    const T& operator[](size_t index) const {
        return chunks[index >> CHUNK_BITS][index & (CHUNK_SIZE - 1)];
    }
    T& last() { return chunks[(count - 1) >> CHUNK_BITS][(count - 1) & (CHUNK_SIZE - 1)]; }
};

}  // namespace mc
