// Everything the tool asks of the operating system: files, the console, the lock on the
// temporary file, replacing a file whole, file identity, paths and interruptions. posix.cpp and
// win32.cpp implement it; nothing else in the tool knows which system it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mc {

/// An open file, pipe, device or console.
using FileHandle = intptr_t;
constexpr FileHandle NO_FILE = -1;

/// Opens an existing file, pipe or device for reading, leaving others free to read and write
/// it; NO_FILE when that fails or the path names a directory.
FileHandle openReadHandle(const std::string& path);
/// Creates or empties a file for writing; NO_FILE when that fails.
FileHandle createWriteHandle(const std::string& path);
FileHandle standardOutputHandle();
FileHandle standardErrorHandle();
/// Whether the handle is an interactive terminal (a console window on Windows).
bool isTerminal(FileHandle handle);

/// Reads up to `size` bytes: how many came, 0 at the end, -1 on an error.
int64_t readHandle(FileHandle handle, void* out, size_t size);
/// The same at a file offset, leaving the file position alone.
int64_t readHandleAt(FileHandle handle, void* out, size_t size, uint64_t offset);
/// Writes every byte; false when the system refused some.
bool writeHandle(FileHandle handle, const void* data, size_t size);
/// Copies `size` bytes of a file from an offset to the end of what has been written to `to`,
/// inside the system where it can; false (nothing copied) where it cannot, for the caller to
/// write the bytes itself.
bool copyFileBytes(FileHandle from, uint64_t offset, FileHandle to, uint64_t size);
/// Cuts the file to `size` bytes and goes on writing there.
bool truncateHandle(FileHandle handle, uint64_t size);
bool closeHandle(FileHandle handle);

/// Size in bytes of a regular file (or block device); 0 for anything that cannot be read as one.
int64_t fileSize(const std::string& path);
/// Whether two paths name the same existing file.
bool isSameFile(const std::string& first, const std::string& second);
/// The working directory, whatever its length; "." when the system cannot tell.
std::string currentDirectory();

/// A configured path as this platform opens it: "\" counts as a directory separator too.
std::string toPlatformPath(std::string_view configured);
/// The reason the system gave for this thread's last failed call ("No such file or directory").
std::string systemErrorText();

/// Whether a platform path names its file from the root rather than from the run folder.
bool isAbsolutePath(std::string_view path);

/// The names of the folders inside a folder, sorted by their bytes; empty when it cannot be
/// listed.
std::vector<std::string> subfolderNames(const std::string& folder);

/// What tells one state of a file's contents from another between runs: its full path, its
/// size and when it was last modified (nanoseconds since the epoch, or as the system counts).
struct FileStamp {
    std::string fullPath;
    uint64_t size = 0;
    int64_t modified = 0;
    uint64_t volume = 0, index = 0;  // which file the system holds under the name
};
inline bool isSameState(const FileStamp& a, const FileStamp& b) {
    return a.fullPath == b.fullPath && a.size == b.size && a.modified == b.modified &&
           a.volume == b.volume && a.index == b.index;
}
/// False when the path names no regular file.
bool stampOfFile(const std::string& path, FileStamp& stamp);

/// A regular file of a folder, with its size and last modification.
struct FolderFile {
    std::string name;
    uint64_t size = 0;
    int64_t modified = 0;
};
/// The regular files of a folder; empty when it cannot be listed.
std::vector<FolderFile> filesInFolder(const std::string& folder);

/// The user's cache folder for the tool: $XDG_CACHE_HOME/mesh_carver, else
/// ~/.cache/mesh_carver; %LOCALAPPDATA%\mesh_carver\cache on Windows. Empty when the system
/// names no such place.
std::string userCacheFolder();
/// The value of an environment variable; empty when it is not set.
std::string environmentValue(const char* name);
/// Makes the folder and those above it that are missing; false when one cannot be made.
bool makeFolders(const std::string& path);
/// Marks a file as used now: its modification time becomes the present.
bool touchFile(const std::string& path);
bool removeFile(const std::string& path);

/// UTF-16 text in the narrow form the system hands to programs (Linux: UTF-8; Windows: the ANSI
/// code page); what cannot be converted becomes "?".
std::string narrowFromUtf16(std::u16string_view text);

/// strtod's value of a decimal number in the C locale, whatever the user's locale.
double decimalInCLocale(const char* text);

enum class FileLock { taken, inUse, failed };
/// Opens the run's temporary file, locks it (at once or not at all: another run holding it
/// gives inUse, with nothing changed), then empties it. `lock` stays open for the whole run;
/// `write` is for writing. FIFOs and sockets are refused: nobody would read them.
FileLock lockTemporaryFile(const std::string& path, FileHandle& lock, FileHandle& write);
/// Locks a side file, made when missing and never emptied, at once or not at all (another
/// process holding it gives inUse). The lock lasts while `lock` is open; the system lets it go
/// however the process ends.
FileLock lockSideFile(const std::string& path, FileHandle& lock);

/// A file that replaces `finalPath` only once it is complete. A regular file (or nothing yet)
/// is written unnamed or beside it and put in place at the end; an interruption (Ctrl-C, a
/// closed console, SIGTERM, SIGHUP) leaves nothing behind. Devices and FIFOs are written in
/// place.
struct PendingFile {
    FileHandle handle = NO_FILE;
    std::string finalPath;
    std::string partialPath;  // the name written under, when it has one
    bool inPlace = false;
    bool unnamed = false;
};
bool beginReplacement(PendingFile& file, const std::string& finalPath);
/// Closes the file and puts it in place; false (the old file kept, nothing left) on failure.
bool commitReplacement(PendingFile& file);
void abandonReplacement(PendingFile& file);

/// Gives an existing file a second name (a hard link); false when the file system cannot, or
/// something has that name already.
bool linkFile(const std::string& path, const std::string& newPath);
/// Whether anything (a file, a folder, a link) has that name.
bool pathExists(const std::string& path);

/// Makes interruptions remove a partial file before the run ends, and lets a closed console
/// lose the tool's text instead of ending the run.
void prepareForInterruptions();
/// Called first when an interruption ends the run (it may only write to handles).
void setInterruptionHook(void (*hook)());

#ifdef _WIN32
constexpr bool WINDOWS_PLATFORM = true;
#else
constexpr bool WINDOWS_PLATFORM = false;
#endif

/// Whether the console was opened for this run alone (started from Explorer): no other process
/// shares it, and neither standard input nor standard output is redirected away from it.
inline bool isConsoleOursAlone(unsigned processesOnConsole, bool inputIsConsole,
                               bool outputIsConsole) {
    return processesOnConsole == 1 && inputIsConsole && outputIsConsole;
}
/// The same, asked of the system (never on Linux, where no console opens for a program).
bool consoleIsOursAlone();
/// Waits until the user presses Enter (or standard input ends).
void waitForEnter();

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

/// Lets go of a buffer's bytes (unmapped or freed): it is empty again, to be filled anew.
void releaseBytes(ByteBuffer& bytes);

/// The first bytes of a regular file, up to `size`; false when the path is no regular file or
/// cannot be read (pipes and devices are left unread for the caller to stream).
bool readFileStart(const std::string& path, char* out, size_t size, size_t& got);

/// A whole regular file, mapped (read where it cannot be); false when it cannot be opened or
/// read completely.
bool readWholeFile(const std::string& path, ByteBuffer& out);

}  // namespace mc
