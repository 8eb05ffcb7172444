// The OBJ8 object: the cut's vertices relative to the origin, in units of 100 m, each line ending
// with the scenery line it came from.
#include <algorithm>
#include <cstdio>

#include "carve/writers.h"
#include "text/fixed6.h"
#include "text/whole_file.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

// Differences carry a 64-bit significand before they are stored as doubles.
double relative(double value, double origin) {
    return double(static_cast<long double>(value) - static_cast<long double>(origin));
}

// "VT x y z  0.0 1.0 0.0 0.0 1.0 # " and the source line: coordinates relative to the origin,
// each difference carried with a 64-bit significand before it is rounded to double.
void writeVertexLine(OutputFile& out, const StoredVertex& v, const OriginVertex& origin,
                     std::string_view sourceLine) {
    char text[3 * FIXED6_MAX_TEXT + 64];
    char* p = text;
    *p++ = 'V', *p++ = 'T', *p++ = ' ';
    p = fixed6ToText(relative(v.x, origin.x), p);
    *p++ = ' ';
    p = fixed6ToText(relative(objectY(v), origin.y), p);
    *p++ = ' ';
    p = fixed6ToText(relative(v.z, origin.z), p);
    constexpr std::string_view TAIL = "  0.0 1.0 0.0 0.0 1.0 # ";
    p = std::copy(TAIL.begin(), TAIL.end(), p);
    writeText(out, std::string_view(text, size_t(p - text)));
    writeLine(out, sourceLine);
}

bool writeObject(OutputFile& out, const Cut& cut) {
    const MeshBuffers& mesh = cut.mesh;
    const size_t vertexCount = mesh.vertices.count;
    const size_t indexCount = mesh.indices.count;
    writeText(out, "I\r\n800\r\nOBJ\r\n\r\nTEXTURE\r\n");
    writeLine(out, "POINT_COUNTS " + intToText(int64_t(vertexCount)) + " 0 0 " +
                       intToText(int64_t(indexCount)));
    endLine(out);
    std::string scratch;  // a vertex line with the raster's height, reused
    for (size_t i = 0; i < vertexCount; ++i) {
        const StoredVertex& v = mesh.vertices[i];
        std::string_view line;
        if (!shownVertexLine(cut, v, scratch, line)) return false;
        writeVertexLine(out, v, cut.origin, line);
    }
    endLine(out);
    char text[64];
    for (size_t i = 0; i < indexCount; ++i) {
        char* p = std::copy_n("IDX ", 4, text);
        p = doubleToText(double(mesh.indices[i]), p);
        *p++ = '\r', *p++ = '\n';
        writeText(out, std::string_view(text, size_t(p - text)));
    }
    endLine(out);
    writeLine(out, "TRIS 0 " + intToText(int64_t(indexCount)));
    endLine(out);
    writeText(out, "# Origin: ");
    writeLine(out, cut.originLine);
    return true;
}

}  // namespace

Status writeObjectFile(const Cut& cut, const RunPaths& paths) {
    WholeFile object;
    if (Status status = openWholeFile(object, paths.object, paths.input, Failure::writeOutput);
        !status.ok()) {
        return status;
    }
    if (!writeObject(object.out, cut)) {
        abandonWholeFile(object);
        return keptLinesFailure(cut);
    }
    return finishWholeFile(object);
}

void announceWriting(OutputFile& console) {
    endLine(console);
    writeLine(console, "Writing output file");
    flushOutput(console);  // the longest phase starts: the line is shown now
}

void reportOrigin(OutputFile& console, const Cut& cut) {
    endLine(console);
    // "correponding" is the report's own spelling: scripts that read the report look for it
    writeLine(console,
              "Coordinates of the vertex correponding to the origin of the output object:");
    writeLine(console, "             longitude  latitude    altitude(m)");
    writeLine(console, cut.originLine);
}

}  // namespace mc
