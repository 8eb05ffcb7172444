// 7z-packed tiles unpacked into memory by libarchive, bounded and checked.
#include "dsf/archive.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "text/status.h"
#include "text/whole_numbers.h"

namespace mc::dsf {

namespace {

Status unpackFailure(std::string reason) {
    return failedWith(Failure::readInput, std::move(reason));
}

constexpr size_t READ_STEP = 1 << 20;
// Asked of the library at a time, so that the progress line moves while a large entry unpacks.
constexpr size_t UNPACK_STEP = 4 << 20;

struct ArchiveHandle {
    archive* a = archive_read_new();
    ~ArchiveHandle() { archive_read_free(a); }
};

std::string librarySays(archive* a, const char* otherwise) {
    const char* said = archive_error_string(a);
    return said && *said ? std::string(otherwise) + " (" + said + ")" : std::string(otherwise);
}

// Reads the entry's data to its end; every negative status is a failure, warnings included
// (a CRC mismatch comes back as a warning). Memory never grows past the limit.
Status readEntryData(archive* a, int64_t declared, uint64_t limit, ByteBuffer& out,
                     ProgressMeter& meter) {
    size_t capacity = declared >= 0 ? size_t(declared) : std::min<uint64_t>(READ_STEP, limit);
    out.owned.reset(new (std::nothrow) uint8_t[capacity ? capacity : 1]);
    if (!out.owned) {
        return unpackFailure("there is not memory enough to unpack its entry");
    }
    size_t used = 0;
    for (;;) {
        uint8_t probe;
        bool full = used == capacity;
        if (full && declared < 0 && used < limit) {
            size_t grown = size_t(std::min<uint64_t>(uint64_t(capacity) * 2, limit));
            auto bigger = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[grown]);
            if (!bigger) {
                return unpackFailure("there is not memory enough to unpack its entry");
            }
            std::memcpy(bigger.get(), out.owned.get(), used);
            out.owned = std::move(bigger);
            capacity = grown;
            full = false;
        }
        // when full one more byte is asked for: the end (and its CRC check) must come
        la_ssize_t got = full ? archive_read_data(a, &probe, 1)
                              : archive_read_data(a, out.owned.get() + used,
                                                  std::min(capacity - used, UNPACK_STEP));
        if (got < 0) {
            return unpackFailure(librarySays(a, "its entry cannot be unpacked"));
        }
        if (full && got > 0) {
            return unpackFailure(used >= limit
                                     ? "its entry unpacks to more than " + groupedNumber(limit) +
                                           " bytes, more than any tile can be"
                                     : "its entry holds more data than its header declares");
        }
        if (got == 0) break;
        used += size_t(got);
        reportProgress(meter, used);
    }
    out.data = out.owned.get();
    out.size = used;
    if (declared >= 0 && used != size_t(declared)) {
        return unpackFailure("its entry holds less data than its header declares");
    }
    return {};
}

}  // namespace

Status unpackFirstEntry(const std::string& path, ByteBuffer& out, ProgressMeter& meter,
                        uint64_t limit) {
    ArchiveHandle handle;
    archive* a = handle.a;
    if (!a || archive_read_support_format_7zip(a) != ARCHIVE_OK ||
        archive_read_open_filename(a, path.c_str(), READ_STEP) != ARCHIVE_OK) {
        return unpackFailure(librarySays(a, "it is not a readable 7z archive"));
    }
    archive_entry* entry;
    int status = archive_read_next_header(a, &entry);
    if (status == ARCHIVE_EOF) {
        return unpackFailure("the archive is empty");
    }
    if (status != ARCHIVE_OK) {
        return unpackFailure(librarySays(a, "the archive's header is damaged"));
    }
    if (archive_entry_filetype(entry) != AE_IFREG) {
        return unpackFailure("the archive's first entry is not a file");
    }
    int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    if (declared >= 0 && uint64_t(declared) > limit) {
        return unpackFailure("its entry declares " + groupedNumber(uint64_t(declared)) +
                             " bytes, more than " + groupedNumber(limit) +
                             ", more than any tile can be");
    }
    startProgress(meter, declared > 0 ? uint64_t(declared) : 0, "Unpacking");
    Status unpacked = readEntryData(a, declared, limit, out, meter);
    clearProgress(meter);
    if (!unpacked.ok()) {
        out.owned.reset();
        out.data = nullptr;
        out.size = 0;
    }
    return unpacked;
}

}  // namespace mc::dsf
