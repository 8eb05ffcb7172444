#include <algorithm>
#include <cstdio>

#include "pipeline/pipeline.h"
#include "pipeline/source_lines.h"
#include "text/failure_reason.h"
#include "text/fixed6.h"

namespace mc {

namespace {

// The vertex's line as the object shows it: with the raster's height where it was flagged.
std::string_view shownLine(std::string_view line, const StoredVertex& v,
                           const ElevationRaster& raster, std::string& scratch) {
    uint32_t field = flaggedField(v);
    if (field == 0) return line;
    if (field == FLAGGED_FIELD_UNNOTED) return lineWithHeight(line, v.elevation, raster, scratch);
    return lineWithHeightAt(line, field, v.elevation, scratch);
}

// Differences carry a 64-bit significand before they are stored as doubles.
double relative(double value, double origin) {
    return double(static_cast<long double>(value) - static_cast<long double>(origin));
}

bool writeObject(WholeFile& object, const MeshBuffers& mesh, const OriginVertex& origin,
                 std::string_view originLine, SourceLines& sources, const ElevationRaster& raster) {
    OutputFile& out = object.out;
    const size_t vertexCount = mesh.vertices.count;
    const size_t indexCount = mesh.indices.count;
    writeText(out, "I\r\n800\r\nOBJ\r\n\r\nTEXTURE\r\n");
    writeLine(out, "POINT_COUNTS " + intToText(int64_t(vertexCount)) + " 0 0 " +
                       intToText(int64_t(indexCount)));
    endLine(out);
    std::string resolved;  // a vertex line with the raster's height, reused
    for (size_t i = 0; i < vertexCount; ++i) {
        const StoredVertex& v = mesh.vertices[i];
        std::string_view source;
        if (!fetchSourceLine(sources, sourceOffset(v), source)) return false;
        writeVertexLine(out, v, origin, shownLine(source, v, raster, resolved));
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
    writeLine(out, originLine);
    return true;
}

}  // namespace

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

OriginVertex findOrigin(const MeshBuffers& mesh) {
    OriginVertex origin;
    for (size_t i = 0; i < mesh.vertices.count; ++i) {
        const StoredVertex& v = mesh.vertices[i];
        double y = objectY(v);
        if (y > origin.y) {
            origin.x = v.x;
            origin.y = y;
            origin.z = v.z;
            origin.index = int64_t(i);
        }
    }
    return origin;
}

Failure readOriginLine(const MeshBuffers& mesh, const OriginVertex& origin, const TempFile& temp,
                       const ElevationRaster& raster, std::string& originLine) {
    originLine.clear();
    if (origin.index < 0) return Failure::none;
    SourceLines sources;
    sources.handle = openReadHandle(temp.path);
    std::string_view line;
    if (sources.handle == NO_FILE ||
        !fetchSourceLine(sources, sourceOffset(mesh.vertices[size_t(origin.index)]), line)) {
        noteFailureReason("reading " + temp.path + " back failed: " + systemErrorText());
        closeHandle(sources.handle);
        return Failure::readTemp;
    }
    std::string resolved;
    originLine = shownLine(line, mesh.vertices[size_t(origin.index)], raster, resolved);
    closeHandle(sources.handle);
    return Failure::none;
}

void announceWriting(OutputFile& console) {
    endLine(console);
    writeLine(console, "Writing output file");
    flushOutput(console);  // the longest phase starts: the line is shown now
}

Failure writeObjectFile(const MeshBuffers& mesh, const OriginVertex& origin,
                        std::string_view originLine, const TempFile& temp,
                        const ElevationRaster& raster, const OutputPaths& paths) {
    SourceLines sources;
    if (mesh.vertices.count > 0) {
        sources.handle = openReadHandle(temp.path);
        if (sources.handle == NO_FILE) {
            noteFailureReason("cannot open " + temp.path + " again: " + systemErrorText());
            return Failure::readTemp;
        }
    }
    WholeFile object;
    Failure failure = Failure::none;
    if (!openWholeFile(object, paths.object, paths.input)) {
        failure = Failure::writeOutput;
    } else if (!writeObject(object, mesh, origin, originLine, sources, raster)) {
        noteFailureReason("reading " + temp.path + " back failed: " + systemErrorText());
        abandonWholeFile(object);
        failure = Failure::readTemp;
    } else if (!finishWholeFile(object)) {
        failure = Failure::writeOutput;
    }
    closeHandle(sources.handle);
    return failure;
}

void reportOrigin(OutputFile& console, std::string_view originLine) {
    endLine(console);
    // "correponding" is the report's own spelling: scripts that read the report look for it
    writeLine(console,
              "Coordinates of the vertex correponding to the origin of the output object:");
    writeLine(console, "             longitude  latitude    altitude(m)");
    writeLine(console, originLine);
}

}  // namespace mc
