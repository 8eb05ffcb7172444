// A binary tile opened: header, atoms, pools and rasters checked before anything is used.
#include "dsf/tile.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "dsf/cursor.h"
#include "text/numbers.h"

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
                   SC32 = atomId("SC32"), CMDS = atomId("CMDS"), DEMS = atomId("DEMS"),
                   DEMI = atomId("DEMI"), DEMD = atomId("DEMD");
constexpr size_t RASTER_HEADER_SIZE = 20;
constexpr size_t HEADER_SIZE = 12;
constexpr size_t FOOTER_SIZE = 16;
constexpr size_t ATOM_HEADER = 8;

struct Atom {
    uint32_t id;
    Cursor contents;
};

std::string atomName(uint32_t id) {
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = char(id >> shift);
        name += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return name;
}

// The next atom of a container; false on a length that does not fit what is left.
bool nextAtom(Cursor& container, Atom& atom, Damage& damage, const char* containerName) {
    const uint8_t* start = container.at;
    uint32_t id, length;
    if (!readValue(container, id) || !readValue(container, length)) {
        damage.what = std::string("an atom header is cut short at the end of ") + containerName;
        placeDamage(damage, start);
        return false;
    }
    if (length < ATOM_HEADER) {
        damage.what = "the " + atomName(id) + " atom is shorter than its own header";
        placeDamage(damage, start);
        return false;
    }
    if (length - ATOM_HEADER > bytesLeft(container)) {
        damage.what = "the " + atomName(id) + " atom runs past the end of " + containerName;
        if (damage.base) damage.at = uint64_t(start - damage.base) + length;
        return false;
    }
    atom = {id, {container.at, container.at + (length - ATOM_HEADER)}};
    container.at += length - ATOM_HEADER;
    return true;
}

// The first atom of each id counts; later ones are ignored.
bool findAtoms(Cursor container, const uint32_t* ids, Cursor* found, bool* present, size_t count,
               Damage& damage, const char* containerName) {
    for (size_t k = 0; k < count; ++k) present[k] = false;
    while (bytesLeft(container) > 0) {
        Atom atom;
        if (!nextAtom(container, atom, damage, containerName)) return false;
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

bool checkHeader(Cursor head, Cursor& properties, Damage& damage) {
    const uint32_t ids[] = {PROP};
    Cursor found[1] = {};
    bool present[1];
    if (!findAtoms(head, ids, found, present, 1, damage, "the HEAD atom")) return false;
    if (!present[0]) {
        describeDamage(damage, "the HEAD atom holds no PROP atom");
        placeDamage(damage, head.at);
        return false;
    }
    int64_t strings = countStrings(found[0]);
    if (strings < 0 || strings % 2 != 0) {
        describeDamage(damage, "the PROP atom is not name and value pairs");
        placeDamage(damage, head.at);
        return false;
    }
    properties = found[0];
    return true;
}

std::string_view nextString(Cursor& table) {
    const char* first = reinterpret_cast<const char*>(table.at);
    size_t length = std::strlen(first);  // the table ends with a NUL: checked before
    table.at += length + 1;
    return {first, length};
}

void readBounds(Cursor properties, Tile& tile) {
    const std::string_view names[4] = {"sim/west", "sim/east", "sim/south", "sim/north"};
    bool has[4] = {false, false, false, false};
    while (bytesLeft(properties) > 0) {
        std::string_view name = nextString(properties), value = nextString(properties);
        for (int k = 0; k < 4; ++k) {
            if (name == names[k] && !has[k]) {
                tile.bounds[k] = parseNumber(value);
                has[k] = true;
            }
        }
    }
    tile.hasBounds = has[0] && has[1] && has[2] && has[3];
}

bool checkDefinitions(Cursor definitions, Tile& tile, int64_t& elevationIndex, Damage& damage) {
    const uint32_t ids[] = {TERT, OBJT, POLY, NETW, DEMN};
    Cursor found[5] = {};
    bool present[5];
    if (!findAtoms(definitions, ids, found, present, 5, damage, "the DEFN atom")) return false;
    for (size_t k = 0; k < 5; ++k) {
        if (!present[k] && ids[k] != DEMN) {
            describeDamage(damage, "the DEFN atom lacks a TERT, OBJT, POLY or NETW atom");
            placeDamage(damage, definitions.at);
            return false;
        }
        if (present[k] && countStrings(found[k]) < 0) {
            describeDamage(damage, "a definition table ends without NUL");
            placeDamage(damage, found[k].at);
            return false;
        }
    }
    tile.terrainNames.clear();
    while (bytesLeft(found[0]) > 0) tile.terrainNames.push_back(nextString(found[0]));
    elevationIndex = -1;
    for (int64_t k = 0; present[4] && bytesLeft(found[4]) > 0; ++k) {
        if (nextString(found[4]) == "elevation") {
            elevationIndex = k;
            break;
        }
    }
    return true;
}

// The n-th header pairs with the n-th pixel atom, each id counted on its own.
bool readRaster(Cursor rasters, int64_t index, TileRaster& raster, Damage& damage) {
    int64_t headers = 0, pixels = 0;
    while (bytesLeft(rasters) > 0) {
        Atom atom;
        if (!nextAtom(rasters, atom, damage, "the DEMS atom")) return false;
        if (atom.id == DEMI && headers++ == index) {
            if (bytesLeft(atom.contents) != RASTER_HEADER_SIZE) {
                describeDamage(damage, "the DEMI atom (raster header) has the wrong size");
                placeDamage(damage, atom.contents.at);
                return false;
            }
            Cursor c = atom.contents;
            readValue(c, raster.version), readValue(c, raster.bytesPerPixel);
            readValue(c, raster.flags), readValue(c, raster.width), readValue(c, raster.height);
            readValue(c, raster.scale), readValue(c, raster.offset);
            raster.found = true;
        } else if (atom.id == DEMD && pixels++ == index) {
            raster.pixels = atom.contents.at;
            raster.pixelBytes = bytesLeft(atom.contents);
        }
    }
    if (!raster.found || !raster.pixels) {
        describeDamage(damage, "the elevation raster has no DEMI header or no DEMD pixels");
        placeDamage(damage, rasters.at);
        return false;
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

bool readPool(Cursor contents, const uint8_t* geometry, Tile& tile, Damage& damage) {
    const uint8_t* atom = contents.at;  // damage is placed at the start of the POOL atom
    auto refuse = [&](const char* what) {
        describeDamage(damage, what);
        placeDamage(damage, atom);
        return false;
    };
    int32_t count;
    uint8_t planeCount;
    if (!readValue(contents, count) || !readValue(contents, planeCount) || count < 0) {
        return refuse("a POOL atom's header is bad");
    }
    Pool pool{uint32_t(count), std::min(uint32_t(count), MAX_ADDRESSABLE_POINTS), planeCount,
              uint32_t(tile.planes.size()), 0};
    uint32_t chunks = (pool.addressable + CHUNK_POINTS - 1) / CHUNK_POINTS;
    for (uint32_t p = 0; p < planeCount; ++p) {
        uint8_t encoding;
        if (!readValue(contents, encoding) || encoding > 3) {
            return refuse("a POOL atom's plane has an unknown encoding");
        }
        PoolPlane plane{uint32_t(contents.at - geometry), uint32_t(tile.chunkStarts.size()),
                        encoding, false};
        if (!skipPlane(contents, encoding, pool.pointCount)) {
            return refuse("a POOL atom's plane runs past the atom or has a bad run");
        }
        tile.planes.push_back(plane);
        tile.chunkStarts.resize(tile.chunkStarts.size() + chunks);
    }
    tile.pools.push_back(pool);
    return true;
}

bool checkScales(Cursor contents, uint32_t planeCount, Damage& damage) {
    const uint8_t* atom = contents.at;  // damage is placed at the start of the SCAL atom
    auto refuse = [&](const char* what) {
        describeDamage(damage, what);
        placeDamage(damage, atom);
        return false;
    };
    if (bytesLeft(contents) != size_t(planeCount) * 8) {
        return refuse("a SCAL atom does not match its pool's plane count");
    }
    for (uint32_t k = 0; k < planeCount * 2; ++k) {
        float value = 0;
        readValue(contents, value);
        if (!std::isfinite(value)) return refuse("a SCAL atom's scale or offset is not a number");
    }
    return true;
}

// Pools and scales pair by their ordinals, each id counted on its own.
bool readGeometry(Cursor geometry, Tile& tile, Damage& damage) {
    tile.geometry = geometry.at;
    std::vector<Cursor> scales;
    std::vector<uint32_t> widePlanes;
    size_t wideScales = 0;
    Cursor c = geometry;
    while (bytesLeft(c) > 0) {
        Atom atom;
        if (!nextAtom(c, atom, damage, "the GEOD atom")) return false;
        if (atom.id == POOL) {
            if (!readPool(atom.contents, geometry.at, tile, damage)) return false;
        } else if (atom.id == SCAL) {
            scales.push_back(atom.contents);
        } else if (atom.id == PO32) {
            int32_t count;
            uint8_t planeCount;
            if (!readValue(atom.contents, count) || !readValue(atom.contents, planeCount)) {
                describeDamage(damage, "a PO32 atom's header is bad");
                placeDamage(damage, atom.contents.at);
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
        describeDamage(damage, "the GEOD atom's POOL and SCAL atoms differ in number");
        placeDamage(damage, geometry.at);
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

bool openTile(const uint8_t* bytes, size_t size, Tile& tile, Damage& damage) {
    tile = Tile{};
    damage.base = bytes;
    int32_t version;
    if (size < HEADER_SIZE + FOOTER_SIZE ||
        std::string_view(reinterpret_cast<const char*>(bytes), 8) != DSF_COOKIE ||
        (std::memcpy(&version, bytes + 8, 4), version != 1)) {
        describeDamage(damage, "it is not a version 1 DSF file");
        placeDamage(damage, bytes);
        return false;
    }
    // the MD5 footer is not checked: the simulator's own tools do not either
    const uint32_t ids[] = {HEAD, DEFN, GEOD, CMDS, DEMS};
    Cursor found[5] = {};
    bool present[5];
    Cursor atoms{bytes + HEADER_SIZE, bytes + size - FOOTER_SIZE};
    if (!findAtoms(atoms, ids, found, present, 5, damage, "the file")) return false;
    for (int k = 0; k < 4; ++k) {
        if (!present[k]) {
            damage.what = "the file has no " + atomName(ids[k]) + " atom";
            return false;
        }
    }
    Cursor properties{};
    int64_t elevationIndex = -1;
    if (!checkHeader(found[0], properties, damage) ||
        !checkDefinitions(found[1], tile, elevationIndex, damage) ||
        !readGeometry(found[2], tile, damage)) {
        return false;
    }
    readBounds(properties, tile);
    if (elevationIndex >= 0) {
        if (!present[4]) {
            describeDamage(damage,
                           "the DEMN atom names an elevation raster but the file has no DEMS atom");
            return false;
        }
        if (!readRaster(found[4], elevationIndex, tile.elevation, damage)) return false;
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
