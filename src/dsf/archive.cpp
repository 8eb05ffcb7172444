#include "dsf/archive.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <new>

namespace mc::dsf {

namespace {

constexpr size_t READ_STEP = 1 << 20;

struct ArchiveHandle {
    archive* a = archive_read_new();
    ~ArchiveHandle() { archive_read_free(a); }
};

// Reads the entry's data to its end; every negative status is a failure, warnings included
// (a CRC mismatch comes back as a warning).
bool readEntryData(archive* a, int64_t declared, ByteBuffer& out, ProgressMeter& meter) {
    size_t capacity = declared > 0 ? size_t(declared) : READ_STEP;
    out.owned.reset(new (std::nothrow) uint8_t[capacity]);
    if (!out.owned) return false;
    size_t used = 0;
    for (;;) {
        uint8_t probe;
        bool full = used == capacity;
        if (full && declared < 0) {
            size_t grown = capacity * 2;
            auto bigger = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[grown]);
            if (!bigger) return false;
            std::memcpy(bigger.get(), out.owned.get(), used);
            out.owned = std::move(bigger);
            capacity = grown;
            full = false;
        }
        // at the declared size one more byte is asked for: the end (and its CRC check) must come
        la_ssize_t got = full ? archive_read_data(a, &probe, 1)
                              : archive_read_data(a, out.owned.get() + used, capacity - used);
        if (got < 0 || (full && got > 0)) return false;
        if (got == 0) break;
        used += size_t(got);
        reportProgress(meter, used);
    }
    out.data = out.owned.get();
    out.size = used;
    return declared < 0 || used == size_t(declared);
}

}  // namespace

bool unpackFirstEntry(const std::string& path, ByteBuffer& out, const char*& damage,
                      ProgressMeter& meter) {
    ArchiveHandle handle;
    archive* a = handle.a;
    if (!a || archive_read_support_format_7zip(a) != ARCHIVE_OK ||
        archive_read_open_filename(a, path.c_str(), READ_STEP) != ARCHIVE_OK) {
        damage = "not a readable 7z archive";
        return false;
    }
    archive_entry* entry;
    int status = archive_read_next_header(a, &entry);
    if (status == ARCHIVE_EOF) {
        damage = "the archive is empty";
        return false;
    }
    if (status != ARCHIVE_OK) {
        damage = "the archive's header is damaged";
        return false;
    }
    if (archive_entry_filetype(entry) != AE_IFREG) {
        damage = "the archive's first entry is not a file";
        return false;
    }
    int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
    startProgress(meter, declared > 0 ? uint64_t(declared) : 0, "Unpacking");
    bool unpacked = readEntryData(a, declared, out, meter);
    clearProgress(meter);
    if (!unpacked) {
        out.owned.reset();
        out.data = nullptr;
        out.size = 0;
        damage = "the archive's first entry cannot be unpacked";
        return false;
    }
    return true;
}

}  // namespace mc::dsf
