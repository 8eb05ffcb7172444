// Unpacked copies of 7z tiles kept between runs, checked before use, the least used dropped.
#include "dsf/unpacked_cache.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <vector>

#include "dsf/tile.h"
#include "dsf/tile_writer.h"

namespace mc::dsf {

namespace {

constexpr char SEPARATOR = WINDOWS_PLATFORM ? '\\' : '/';
constexpr size_t KEY_DIGITS = 32, SUM_DIGITS = 16;
constexpr std::string_view COPY_SUFFIX = ".dsf";
// A partial copy this old was left by a run that ended without cleaning up.
constexpr int64_t STALE_PARTIAL = int64_t(24) * 3600 * (WINDOWS_PLATFORM ? 10000000 : 1000000000);

std::string hexOf(const uint8_t* bytes, size_t count) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (size_t k = 0; k < count; ++k) {
        text += DIGITS[bytes[k] >> 4];
        text += DIGITS[bytes[k] & 15];
    }
    return text;
}

// The archive's state as a name: its full path, size and modification time, digested.
std::string keyOf(const FileStamp& archive) {
    std::string text = archive.fullPath + '\n' + std::to_string(archive.size) + '\n' +
                       std::to_string(archive.modified);
    Md5 digest;
    addToDigest(digest, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::array<uint8_t, 16> sum = finishDigest(digest);
    return hexOf(sum.data(), sum.size());
}

std::string sumText(uint64_t sum) {
    uint8_t bytes[8];
    for (int k = 0; k < 8; ++k) bytes[k] = uint8_t(sum >> (56 - 8 * k));
    return hexOf(bytes, 8);
}

// "KEY-SUM.dsf": the copy of one archive's state, holding bytes of that checksum.
bool isCopyName(std::string_view name) {
    return name.size() == KEY_DIGITS + 1 + SUM_DIGITS + COPY_SUFFIX.size() &&
           name[KEY_DIGITS] == '-' && name.ends_with(COPY_SUFFIX);
}

bool namedSum(std::string_view name, uint64_t& sum) {
    const char* digits = name.data() + KEY_DIGITS + 1;
    auto [end, error] = std::from_chars(digits, digits + SUM_DIGITS, sum, 16);
    return error == std::errc() && end == digits + SUM_DIGITS;
}

// Past the limit, the copies used longest ago go first; the one just kept stays.
void dropLeastRecentlyUsed(const UnpackedCache& cache, const std::string& keptName) {
    std::vector<FolderFile> files = filesInFolder(cache.folder);
    int64_t newest = 0;
    for (const FolderFile& file : files) newest = std::max(newest, file.modified);
    std::vector<FolderFile> copies;
    uint64_t total = 0;
    for (const FolderFile& file : files) {
        if (isCopyName(file.name)) {
            copies.push_back(file), total += file.size;
        } else if (file.name.find(".partial") != std::string::npos &&
                   newest - file.modified > STALE_PARTIAL) {
            removeFile(cache.folder + SEPARATOR + file.name);
        }
    }
    std::sort(copies.begin(), copies.end(),
              [](const FolderFile& a, const FolderFile& b) { return a.modified < b.modified; });
    for (const FolderFile& copy : copies) {
        if (total <= cache.limit) break;
        if (copy.name == keptName) continue;
        // a copy another run has open may refuse to go (Windows): the next run tries again
        if (removeFile(cache.folder + SEPARATOR + copy.name)) total -= copy.size;
    }
}

}  // namespace

uint64_t contentChecksum(const uint8_t* bytes, size_t size) {
    constexpr uint64_t PRIME1 = 0x9E3779B185EBCA87ull, PRIME2 = 0xC2B2AE3D27D4EB4Full;
    // four independent lanes over 32-byte blocks, so that the multiplies overlap
    uint64_t lanes[4] = {PRIME1 + PRIME2, PRIME2, 0, ~PRIME1};
    size_t at = 0;
    for (; at + 32 <= size; at += 32) {
        for (int k = 0; k < 4; ++k) {
            uint64_t word;
            std::memcpy(&word, bytes + at + 8 * k, 8);
            lanes[k] = std::rotl(lanes[k] + word * PRIME2, 31) * PRIME1;
        }
    }
    uint64_t sum = uint64_t(size) * PRIME1;
    for (uint64_t lane : lanes)
        sum = std::rotl(sum ^ std::rotl(lane * PRIME2, 31) * PRIME1, 27) * PRIME1;
    for (; at < size; ++at) sum = std::rotl(sum ^ bytes[at] * PRIME2, 11) * PRIME1;
    sum ^= sum >> 33, sum *= PRIME2, sum ^= sum >> 29, sum *= PRIME1, sum ^= sum >> 32;
    return sum;
}

bool readCachedTile(const UnpackedCache& cache, const FileStamp& archive, ByteBuffer& bytes) {
    if (cache.folder.empty()) return false;
    const std::string key = keyOf(archive);
    for (const FolderFile& file : filesInFolder(cache.folder)) {
        if (!isCopyName(file.name) || !file.name.starts_with(key)) continue;
        const std::string path = cache.folder + SEPARATOR + file.name;
        uint64_t sum = 0;
        if (namedSum(file.name, sum) && readWholeFile(path, bytes) &&
            contentChecksum(bytes.data, bytes.size) == sum) {
            touchFile(path);
            return true;
        }
        releaseBytes(bytes);
        removeFile(path);  // cut short, damaged or changed: unpacked again and kept anew
    }
    return false;
}

Status keepUnpackedTile(const UnpackedCache& cache, const FileStamp& archive,
                        const ByteBuffer& bytes) {
    // what is no tile is refused by the reader, from the archive as fast as from a copy
    bool tile = bytes.size >= DSF_COOKIE.size() &&
                std::memcmp(bytes.data, DSF_COOKIE.data(), DSF_COOKIE.size()) == 0;
    if (cache.folder.empty() || bytes.size > cache.limit || !tile) return {};
    if (!makeFolders(cache.folder)) {
        return failedWith(Failure::keepCache, "cannot create the folder: " + systemErrorText());
    }
    const std::string name =
        keyOf(archive) + "-" + sumText(contentChecksum(bytes.data, bytes.size)) + ".dsf";
    const std::string path = cache.folder + SEPARATOR + name;
    PendingFile copy;
    if (!beginReplacement(copy, path)) {
        return failedWith(Failure::keepCache, "cannot create a file there: " + systemErrorText());
    }
    if (!writeHandle(copy.handle, bytes.data, bytes.size)) {
        Status failed =
            failedWith(Failure::keepCache, "writing the copy failed: " + systemErrorText());
        abandonReplacement(copy);
        return failed;
    }
    // a run that kept the same bytes first may hold its copy open (Windows): that copy serves
    if (!commitReplacement(copy) && !pathExists(path)) {
        return failedWith(Failure::keepCache,
                          "the copy could not be put in place: " + systemErrorText());
    }
    dropLeastRecentlyUsed(cache, name);
    return {};
}

}  // namespace mc::dsf
