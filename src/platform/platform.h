// What the tool asks of the operating system beyond line input and output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mc {

/// Bytes of a whole file: unpacked into memory, or the file mapped read-only.
struct ByteBuffer {
    std::unique_ptr<uint8_t[]> owned;
    const uint8_t* data = nullptr;
    size_t size = 0;
    void* mapping = nullptr;  // released with the buffer
    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ~ByteBuffer();
};

/// A configured path as this platform opens it: "\" counts as a directory separator too.
std::string toPlatformPath(std::string_view configured);

/// UTF-16 text in the narrow form the system hands to programs (here UTF-8); what cannot be
/// converted (an unpaired surrogate) becomes "?".
std::string narrowFromUtf16(std::u16string_view text);

/// Whether a platform path names its file from the root rather than from the run folder.
bool isAbsolutePath(std::string_view path);

/// The first bytes of a regular file, up to `size`; false when the path is no regular file or
/// cannot be read (pipes and devices are left unread for the caller to stream).
bool readFileStart(const std::string& path, char* out, size_t size, size_t& got);

/// A whole regular file, mapped (read where it cannot be); false when it cannot be opened or
/// read completely.
bool readWholeFile(const std::string& path, ByteBuffer& out);

}  // namespace mc
