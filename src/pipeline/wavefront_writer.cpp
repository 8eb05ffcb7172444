// The cut as a Wavefront OBJ: one welded surface in metres, every face turned up.
#include <bit>
#include <cstring>
#include <vector>

#include "pipeline/pipeline.h"
#include "text/fixed9.h"

namespace mc {

namespace {

constexpr uint32_t EMPTY_SLOT = UINT32_MAX;
constexpr double METRES_PER_UNIT = SCALE_DIVISOR;

// Equal positions hash alike: -0.0 is folded into 0.0 first.
uint64_t positionHash(const StoredVertex& v) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (double c : {v.x + 0.0, v.elevation + 0.0, v.z + 0.0}) {
        h = (h ^ std::bit_cast<uint64_t>(c)) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    return h;
}

bool samePosition(const StoredVertex& a, const StoredVertex& b) {
    return a.x == b.x && a.elevation == b.elevation && a.z == b.z;
}

// The position of a stored vertex in metres, relative to the origin, as the file prints it.
struct Metres {
    double x, y, z;
};
Metres metresOf(const StoredVertex& v, const OriginVertex& origin) {
    auto relative = [](double value, double base) {
        return double((static_cast<long double>(value) - base) * METRES_PER_UNIT);
    };
    return {relative(v.x, origin.x), relative(objectY(v), origin.y), relative(v.z, origin.z)};
}

void writeVertex(OutputFile& out, const Metres& m) {
    char text[3 * FIXED9_MAX_TEXT + 8];
    char* p = text;
    *p++ = 'v';
    for (double c : {m.x, m.y, m.z}) {
        *p++ = ' ';
        p = fixed4ToText(c, p);
    }
    writeLine(out, {text, size_t(p - text)});
}

void writeFace(OutputFile& out, uint32_t a, uint32_t b, uint32_t c) {
    char text[48];
    char* p = text;
    *p++ = 'f';
    for (uint32_t corner : {a, b, c}) {
        *p++ = ' ';
        p = intToText(int64_t(corner), p);
    }
    writeLine(out, {text, size_t(p - text)});
}

// Writes one "v" line per distinct position in first-seen order; number[i] is the 1-based
// vertex of stored vertex i. The table holds vertex numbers: 4 bytes a slot, at most 3 slots a
// vertex, so welding costs at most 16 bytes per stored vertex with `number`.
void writeWeldedVertices(OutputFile& out, const MeshBuffers& mesh, const OriginVertex& origin,
                         std::vector<uint32_t>& number) {
    size_t count = mesh.vertices.count;
    size_t slots = std::bit_ceil(count + count / 2 + 1);
    std::vector<uint32_t> table(slots, EMPTY_SLOT);
    number.resize(count);
    uint32_t distinct = 0;
    for (size_t i = 0; i < count; ++i) {
        const StoredVertex& v = mesh.vertices[i];
        size_t slot = positionHash(v) & (slots - 1);
        while (table[slot] != EMPTY_SLOT && !samePosition(mesh.vertices[table[slot]], v)) {
            slot = (slot + 1) & (slots - 1);
        }
        if (table[slot] == EMPTY_SLOT) {
            table[slot] = uint32_t(i);
            number[i] = ++distinct;
            writeVertex(out, metresOf(v, origin));
        } else {
            number[i] = number[table[slot]];
        }
    }
}

// Upward (+Y) means counter-clockwise seen from above: the Y part of (b - a) x (c - a).
double upwardTurn(const StoredVertex& a, const StoredVertex& b, const StoredVertex& c) {
    return (b.z - a.z) * (c.x - a.x) - (b.x - a.x) * (c.z - a.z);
}

void writeFaces(OutputFile& out, const MeshBuffers& mesh, const std::vector<uint32_t>& number) {
    for (size_t t = 0; t + 3 <= mesh.indices.count; t += 3) {
        int32_t corners[3] = {mesh.indices[t], mesh.indices[t + 1], mesh.indices[t + 2]};
        uint32_t a = number[size_t(corners[0])], b = number[size_t(corners[1])],
                 c = number[size_t(corners[2])];
        if (a == b || b == c || a == c) continue;
        if (upwardTurn(mesh.vertices[size_t(corners[0])], mesh.vertices[size_t(corners[1])],
                       mesh.vertices[size_t(corners[2])]) < 0) {
            std::swap(b, c);
        }
        writeFace(out, a, b, c);
    }
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void writeHeader(OutputFile& out, std::string_view originLine, const OutputPaths& paths) {
    char text[4 * FIXED9_MAX_TEXT + 96];
    char* p = text;
    auto field = [&](std::string_view label, double value) {
        std::memcpy(p, label.data(), label.size());
        p = fixed9ToText(value, p + label.size());
    };
    field("# window: lat_min ", paths.window.latMin);
    field(" lat_max ", paths.window.latMax);
    field(" long_min ", paths.window.longMin);
    field(" long_max ", paths.window.longMax);
    writeLine(out, "# mesh_carver cut: metres, X east, Y up, Z south, from the origin vertex");
    writeLine(out, {text, size_t(p - text)});
    writeText(out, "# origin: ");
    writeLine(out, originLine.empty() ? std::string_view("none") : originLine);
    writeText(out, "o ");
    writeLine(out, baseName(paths.wavefront));
}

}  // namespace

Failure writeWavefront(const MeshBuffers& mesh, const OriginVertex& origin,
                       std::string_view originLine, const OutputPaths& paths) {
    WholeFile file;
    if (!openWholeFile(file, paths.wavefront, paths.input)) return Failure::writeWavefront;
    writeHeader(file.out, originLine, paths);
    std::vector<uint32_t> number;
    writeWeldedVertices(file.out, mesh, origin, number);
    writeFaces(file.out, mesh, number);
    return finishWholeFile(file) ? Failure::none : Failure::writeWavefront;
}

}  // namespace mc
