#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/platform.h"

namespace mc {

namespace {

int openRegularFile(const std::string& path, struct stat& st) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads until `size` bytes came or the file ended; false on an error.
bool readFully(int fd, uint8_t* out, size_t size, size_t& got) {
    got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, out + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += size_t(n);
    }
    return true;
}

}  // namespace

std::string toPlatformPath(std::string_view configured) {
    std::string path(configured);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

std::string narrowFromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += '?';
            continue;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool isAbsolutePath(std::string_view path) {
    return path.starts_with('/');
}

bool readFileStart(const std::string& path, char* out, size_t size, size_t& got) {
    struct stat st;
    int fd = openRegularFile(path, st);
    if (fd < 0) return false;
    bool ok = readFully(fd, reinterpret_cast<uint8_t*>(out), size, got);
    ::close(fd);
    return ok;
}

ByteBuffer::~ByteBuffer() {
    if (mapping) ::munmap(mapping, size);
}

bool readWholeFile(const std::string& path, ByteBuffer& out) {
    struct stat st;
    int fd = openRegularFile(path, st);
    if (fd < 0) return false;
    size_t size = size_t(st.st_size);
    // mapped, the page cache is used as it is: no copy, no fresh pages to clear
    void* mapped =
        size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0) : MAP_FAILED;
    if (mapped != MAP_FAILED) {
        ::close(fd);
        out.mapping = mapped;
        out.data = static_cast<const uint8_t*>(mapped);
        out.size = size;
        return true;
    }
    out.owned.reset(new (std::nothrow) uint8_t[size ? size : 1]);
    size_t got = 0;
    // one byte more than the size asked for tells a file that grew meanwhile
    bool ok = out.owned && readFully(fd, out.owned.get(), size, got) && got == size;
    uint8_t extra;
    size_t more = 0;
    ok = ok && readFully(fd, &extra, 1, more) && more == 0;
    ::close(fd);
    out.data = out.owned.get();
    out.size = ok ? size : 0;
    return ok;
}

}  // namespace mc
