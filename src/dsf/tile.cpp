#include "dsf/tile.h"

#include <cmath>

#include "dsf/cursor.h"

namespace mc::dsf {

namespace {

constexpr uint32_t atomId(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}

constexpr uint32_t HEAD = atomId("HEAD"), PROP = atomId("PROP"), DEFN = atomId("DEFN"),
                   TERT = atomId("TERT"), OBJT = atomId("OBJT"), POLY = atomId("POLY"),
                   NETW = atomId("NETW"), DEMN = atomId("DEMN"), GEOD = atomId("GEOD"),
                   POOL = atomId("POOL"), SCAL = atomId("SCAL"), PO32 = atomId("PO32"),
                   SC32 = atomId("SC32"), CMDS = atomId("CMDS");
constexpr size_t HEADER_SIZE = 12;
constexpr size_t FOOTER_SIZE = 16;
constexpr size_t ATOM_HEADER = 8;

struct Atom {
    uint32_t id;
    Cursor contents;
};

// The next atom of a container; false on a length that does not fit what is left.
bool nextAtom(Cursor& container, Atom& atom, const char*& damage) {
    uint32_t id, length;
    if (!readValue(container, id) || !readValue(container, length)) {
        damage = "atom header runs past its container";
        return false;
    }
    if (length < ATOM_HEADER || length - ATOM_HEADER > bytesLeft(container)) {
        damage = "atom length runs past its container";
        return false;
    }
    atom = {id, {container.at, container.at + (length - ATOM_HEADER)}};
    container.at += length - ATOM_HEADER;
    return true;
}

// The first atom of each id counts; later ones are ignored.
bool findAtoms(Cursor container, const uint32_t* ids, Cursor* found, bool* present, size_t count,
               const char*& damage) {
    for (size_t k = 0; k < count; ++k) present[k] = false;
    while (bytesLeft(container) > 0) {
        Atom atom;
        if (!nextAtom(container, atom, damage)) return false;
        for (size_t k = 0; k < count; ++k) {
            if (atom.id == ids[k] && !present[k]) {
                present[k] = true;
                found[k] = atom.contents;
            }
        }
    }
    return true;
}

// NUL-terminated strings back to back; returns how many, or -1 when the last is unterminated.
int64_t countStrings(Cursor table) {
    if (bytesLeft(table) == 0) return 0;
    if (table.end[-1] != 0) return -1;
    int64_t count = 0;
    for (const uint8_t* p = table.at; p < table.end; ++p) count += *p == 0;
    return count;
}

bool checkHeader(Cursor head, const char*& damage) {
    const uint32_t ids[] = {PROP};
    Cursor found[1] = {};
    bool present[1];
    if (!findAtoms(head, ids, found, present, 1, damage)) return false;
    if (!present[0]) {
        damage = "no property table";
        return false;
    }
    int64_t strings = countStrings(found[0]);
    if (strings < 0 || strings % 2 != 0) {
        damage = "property table is not name and value pairs";
        return false;
    }
    return true;
}

bool checkDefinitions(Cursor definitions, const char*& damage) {
    const uint32_t ids[] = {TERT, OBJT, POLY, NETW, DEMN};
    Cursor found[5] = {};
    bool present[5];
    if (!findAtoms(definitions, ids, found, present, 5, damage)) return false;
    for (size_t k = 0; k < 5; ++k) {
        if (!present[k] && ids[k] != DEMN) {
            damage = "a definition table is missing";
            return false;
        }
        if (present[k] && countStrings(found[k]) < 0) {
            damage = "a definition table ends without NUL";
            return false;
        }
    }
    return true;
}

// Steps over one plane's encoded values; false when they run past the atom or a run is bad.
bool skipPlane(Cursor& c, uint8_t encoding, uint32_t count) {
    if (encoding <= 1) return skipBytes(c, size_t(count) * 2);
    uint32_t produced = 0;
    while (produced < count) {
        uint8_t control;
        if (!readValue(c, control)) return false;
        uint32_t run = control & 0x7F;
        if (run == 0 || run > count - produced) return false;
        if (!skipBytes(c, (control & 0x80) ? 2 : size_t(run) * 2)) return false;
        produced += run;
    }
    return true;
}

bool readPool(Cursor contents, const uint8_t* geometry, Tile& tile, const char*& damage) {
    int32_t count;
    uint8_t planeCount;
    if (!readValue(contents, count) || !readValue(contents, planeCount) || count < 0) {
        damage = "point pool header is bad";
        return false;
    }
    Pool pool{uint32_t(count), std::min(uint32_t(count), MAX_ADDRESSABLE_POINTS), planeCount,
              uint32_t(tile.planes.size()), 0};
    uint32_t chunks = (pool.addressable + CHUNK_POINTS - 1) / CHUNK_POINTS;
    for (uint32_t p = 0; p < planeCount; ++p) {
        uint8_t encoding;
        if (!readValue(contents, encoding) || encoding > 3) {
            damage = "point pool plane has an unknown encoding";
            return false;
        }
        PoolPlane plane{uint32_t(contents.at - geometry), uint32_t(tile.chunkStarts.size()),
                        encoding, false};
        if (!skipPlane(contents, encoding, pool.pointCount)) {
            damage = "point pool plane runs past its atom or has a bad run";
            return false;
        }
        tile.planes.push_back(plane);
        tile.chunkStarts.resize(tile.chunkStarts.size() + chunks);
    }
    tile.pools.push_back(pool);
    return true;
}

bool checkScales(Cursor contents, uint32_t planeCount, const char*& damage) {
    if (bytesLeft(contents) != size_t(planeCount) * 8) {
        damage = "scale atom does not match its pool";
        return false;
    }
    for (uint32_t k = 0; k < planeCount * 2; ++k) {
        float value = 0;
        readValue(contents, value);
        if (!std::isfinite(value)) {
            damage = "scale or offset is not a number";
            return false;
        }
    }
    return true;
}

// Pools and scales pair by their ordinals, each id counted on its own.
bool readGeometry(Cursor geometry, Tile& tile, const char*& damage) {
    tile.geometry = geometry.at;
    std::vector<Cursor> scales;
    std::vector<uint32_t> widePlanes;
    size_t wideScales = 0;
    Cursor c = geometry;
    while (bytesLeft(c) > 0) {
        Atom atom;
        if (!nextAtom(c, atom, damage)) return false;
        if (atom.id == POOL) {
            if (!readPool(atom.contents, geometry.at, tile, damage)) return false;
        } else if (atom.id == SCAL) {
            scales.push_back(atom.contents);
        } else if (atom.id == PO32) {
            int32_t count;
            uint8_t planeCount;
            if (!readValue(atom.contents, count) || !readValue(atom.contents, planeCount)) {
                damage = "point pool header is bad";
                return false;
            }
            widePlanes.push_back(planeCount);
        } else if (atom.id == SC32) {
            if (wideScales < widePlanes.size() &&
                !checkScales(atom.contents, widePlanes[wideScales], damage)) {
                return false;
            }
            ++wideScales;
        }
    }
    if (scales.size() != tile.pools.size() || wideScales != widePlanes.size()) {
        damage = "point pools and scale atoms differ in number";
        return false;
    }
    for (size_t k = 0; k < scales.size(); ++k) {
        if (!checkScales(scales[k], tile.pools[k].planeCount, damage)) return false;
        tile.pools[k].scaleOffset = uint32_t(scales[k].at - geometry.at);
    }
    tile.widePoolCount = widePlanes.size();
    return true;
}

}  // namespace

bool openTile(const uint8_t* bytes, size_t size, Tile& tile, const char*& damage) {
    tile = Tile{};
    int32_t version;
    if (size < HEADER_SIZE + FOOTER_SIZE ||
        std::string_view(reinterpret_cast<const char*>(bytes), 8) != DSF_COOKIE ||
        (std::memcpy(&version, bytes + 8, 4), version != 1)) {
        damage = "not a version 1 DSF file";
        return false;
    }
    // the MD5 footer is not checked: the simulator's own tools do not either
    const uint32_t ids[] = {HEAD, DEFN, GEOD, CMDS};
    Cursor found[4] = {};
    bool present[4];
    Cursor atoms{bytes + HEADER_SIZE, bytes + size - FOOTER_SIZE};
    if (!findAtoms(atoms, ids, found, present, 4, damage)) return false;
    for (bool p : present) {
        if (!p) {
            damage = "a required atom is missing";
            return false;
        }
    }
    if (!checkHeader(found[0], damage) || !checkDefinitions(found[1], damage) ||
        !readGeometry(found[2], tile, damage)) {
        return false;
    }
    tile.commands = found[3].at;
    tile.commandsEnd = found[3].end;
    return true;
}

PlaneScale planeScale(const Tile& tile, uint32_t pool, uint32_t plane) {
    float pair[2];
    std::memcpy(pair, tile.geometry + tile.pools[pool].scaleOffset + size_t(plane) * 8, 8);
    return {double(pair[0]), double(pair[1])};
}

}  // namespace mc::dsf
