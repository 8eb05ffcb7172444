// The operating system on Linux and other POSIX systems: files, mappings, locks, replacing a file
// whole, interruptions, paths and text. Folders and file stamps are in posix_folders.cpp.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file_names.h"
#include "platform/platform.h"

namespace mc {

namespace {

FileHandle openRetrying(const char* path, int flags, mode_t mode = 0666) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int openRegularFile(const std::string& path, struct stat& st) {
    int fd = int(openRetrying(path.c_str(), O_RDONLY));
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

// The name a partial file has while an interruption could strike, for the signal handler; a
// fixed buffer, since a handler may not allocate.
char partialName[4096];

void (*interruptionHook)() = nullptr;

void removePartialAndEnd(int signal) {
    if (interruptionHook) interruptionHook();
    if (partialName[0]) ::unlink(partialName);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void notePartial(const std::string& path) {
    if (path.size() < sizeof partialName) {
        std::memcpy(partialName, path.c_str(), path.size() + 1);
    }
}

void forgetPartial() {
    partialName[0] = '\0';
}

}  // namespace

FileHandle openReadHandle(const std::string& path) {
    int fd = int(openRetrying(path.c_str(), O_RDONLY));
    if (fd < 0) return NO_FILE;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return NO_FILE;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

FileHandle createWriteHandle(const std::string& path) {
    FileHandle fd = openRetrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
    return fd < 0 ? NO_FILE : fd;
}

FileHandle standardOutputHandle() {
    return STDOUT_FILENO;
}

FileHandle standardErrorHandle() {
    return STDERR_FILENO;
}

bool isTerminal(FileHandle handle) {
    return ::isatty(int(handle)) == 1;
}

int64_t readHandle(FileHandle handle, void* out, size_t size) {
    ssize_t got;
    do {
        got = ::read(int(handle), out, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

int64_t readHandleAt(FileHandle handle, void* out, size_t size, uint64_t offset) {
    ssize_t got;
    do {
        got = ::pread(int(handle), out, size, off_t(offset));
    } while (got < 0 && errno == EINTR);
    return got;
}

bool writeHandle(FileHandle handle, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t done = ::write(int(handle), bytes, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += done;
        size -= size_t(done);
    }
    return true;
}

bool copyFileBytes(FileHandle from, uint64_t offset, FileHandle to, uint64_t size) {
    off_t start = ::lseek(int(to), 0, SEEK_CUR);
    loff_t at = loff_t(offset);
    uint64_t copied = 0;
    while (start >= 0 && copied < size) {
        ssize_t done = ::copy_file_range(int(from), &at, int(to), nullptr, size - copied, 0);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            // what was copied is taken back, so that the caller can write it all
            if (copied > 0) truncateHandle(to, uint64_t(start));
            return false;
        }
        copied += uint64_t(done);
    }
    return start >= 0;
}

bool truncateHandle(FileHandle handle, uint64_t size) {
    return ::lseek(int(handle), off_t(size), SEEK_SET) >= 0 &&
           ::ftruncate(int(handle), off_t(size)) == 0;
}

bool closeHandle(FileHandle handle) {
    return handle == NO_FILE || ::close(int(handle)) == 0;
}

int64_t fileSize(const std::string& path) {
    int fd = int(openRetrying(path.c_str(), O_RDONLY));
    if (fd < 0) return 0;
    struct stat st;
    int64_t size = 0;
    if (::fstat(fd, &st) == 0) {
        if (S_ISREG(st.st_mode)) {
            size = st.st_size;
        } else if (S_ISBLK(st.st_mode)) {
            off_t at = ::lseek(fd, 0, SEEK_END);
            size = at < 0 ? 0 : at;
        }
    }
    ::close(fd);
    return size;
}

bool isSameFile(const std::string& first, const std::string& second) {
    struct stat one, other;
    return ::stat(first.c_str(), &one) == 0 && ::stat(second.c_str(), &other) == 0 &&
           one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

std::string currentDirectory() {
    std::string directory(256, '\0');
    for (;;) {
        if (::getcwd(directory.data(), directory.size())) {
            directory.resize(directory.find('\0'));
            return directory;
        }
        if (errno != ERANGE) return ".";
        directory.resize(directory.size() * 2);
    }
}

FileLock lockTemporaryFile(const std::string& path, FileHandle& lock, FileHandle& write) {
    // locked before it is emptied: a second run must find the first one's file as it was
    int fd = int(openRetrying(path.c_str(), O_RDWR | O_CREAT));
    if (fd < 0) return FileLock::failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return FileLock::inUse;
    }
    // a device such as /dev/null is written as it is; a FIFO nobody reads would block the run
    struct stat st;
    bool known = ::fstat(fd, &st) == 0 && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode);
    int writeFd = -1;
    if (known && S_ISREG(st.st_mode)) {
        writeFd = ::ftruncate(fd, 0) == 0 ? ::dup(fd) : -1;
    } else if (known) {
        writeFd = int(openRetrying(path.c_str(), O_WRONLY | O_TRUNC));
    }
    if (writeFd < 0) {
        ::close(fd);
        return FileLock::failed;
    }
    lock = fd;
    write = writeFd;
    return FileLock::taken;
}

FileLock lockSideFile(const std::string& path, FileHandle& lock) {
    int fd = int(openRetrying(path.c_str(), O_RDWR | O_CREAT));
    if (fd < 0) return FileLock::failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? FileLock::inUse : FileLock::failed;
    }
    lock = fd;
    return FileLock::taken;
}

bool beginReplacement(PendingFile& file, const std::string& finalPath) {
    file = PendingFile{};
    file.finalPath = finalPath;
    struct stat st;
    bool exists = ::lstat(finalPath.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        file.inPlace = true;
        file.handle = createWriteHandle(finalPath);
        return file.handle != NO_FILE;
    }
    // unnamed until complete: nothing can be left behind, whatever ends the run
    if (::access("/proc/self/fd", X_OK) == 0) {
        int fd = int(openRetrying(folderOf(finalPath).c_str(), O_TMPFILE | O_WRONLY));
        if (fd >= 0) {
            if (exists) ::fchmod(fd, st.st_mode & 07777);  // the replaced file keeps its mode
            file.handle = fd;
            file.unnamed = true;
            return true;
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = finalPath + ".partial" + std::to_string(::getpid());
        if (attempt > 0) candidate.append("-").append(std::to_string(attempt));
        int fd = int(openRetrying(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL));
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return false;
        notePartial(candidate);
        if (exists) ::fchmod(fd, st.st_mode & 07777);
        file.partialPath = candidate;
        file.handle = fd;
        return true;
    }
    return false;
}

bool commitReplacement(PendingFile& file) {
    bool ok = true;
    if (file.unnamed) {
        file.partialPath = file.finalPath + ".partial" + std::to_string(::getpid());
        notePartial(file.partialPath);
        std::string self = "/proc/self/fd/" + std::to_string(file.handle);
        ::unlink(file.partialPath.c_str());
        ok = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file.partialPath.c_str(),
                      AT_SYMLINK_FOLLOW) == 0;
    }
    ok = closeHandle(file.handle) && ok;
    file.handle = NO_FILE;
    if (!file.inPlace && ok) ok = ::rename(file.partialPath.c_str(), file.finalPath.c_str()) == 0;
    if (!ok && !file.partialPath.empty()) ::unlink(file.partialPath.c_str());
    forgetPartial();
    return ok;
}

void abandonReplacement(PendingFile& file) {
    closeHandle(file.handle);
    file.handle = NO_FILE;
    if (!file.inPlace && !file.partialPath.empty()) ::unlink(file.partialPath.c_str());
    forgetPartial();
}

bool linkFile(const std::string& path, const std::string& newPath) {
    return ::link(path.c_str(), newPath.c_str()) == 0;
}

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void prepareForInterruptions() {
    // a closed console must not end the run: its text is simply lost
    std::signal(SIGPIPE, SIG_IGN);
    // a signal the run was started ignoring (nohup, a background job) stays ignored
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (std::signal(signal, removePartialAndEnd) == SIG_IGN) std::signal(signal, SIG_IGN);
    }
}

bool consoleIsOursAlone() {
    return false;
}

void waitForEnter() {}

void setInterruptionHook(void (*hook)()) {
    interruptionHook = hook;
}

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

double decimalInCLocale(const char* text) {
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return strtod_l(text, nullptr, cLocale);
}

bool isAbsolutePath(std::string_view path) {
    return path.starts_with('/');
}

std::string systemErrorText() {
    return std::strerror(errno);
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

void releaseBytes(ByteBuffer& bytes) {
    if (bytes.mapping) ::munmap(bytes.mapping, bytes.size);
    bytes.mapping = nullptr, bytes.owned.reset(), bytes.data = nullptr, bytes.size = 0;
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
