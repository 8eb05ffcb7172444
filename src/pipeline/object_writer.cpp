#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pipeline/pipeline.h"
#include "pipeline/source_lines.h"
#include "text/failure_reason.h"
#include "text/fixed6.h"
#include "text/line_reader.h"

namespace mc {

bool openWholeFile(WholeFile& file, const std::string& path, const std::string& inputPath) {
    // a path naming the tile itself would replace it with the object
    if (isSameFile(path, inputPath)) {
        noteFailureReason(path + " is the input tile itself, which is never replaced");
        return false;
    }
    if (!beginReplacement(file.pending, path)) {
        noteFailureReason("cannot create " + path + ": " + systemErrorText());
        return false;
    }
    attachDescriptor(file.out, file.pending.handle);
    startWriteBehind(file.out);
    return true;
}

bool finishWholeFile(WholeFile& file) {
    stopWriteBehind(file.out);
    file.out.fd = NO_FILE;  // the pending file closes its own handle
    if (file.out.failed) {
        noteFailureReason("writing " + file.pending.finalPath + " failed: " + file.out.error);
        abandonReplacement(file.pending);
        return false;
    }
    if (!commitReplacement(file.pending)) {
        noteFailureReason("cannot put " + file.pending.finalPath +
                          " in place: " + systemErrorText());
        return false;
    }
    return true;
}

void abandonWholeFile(WholeFile& file) {
    stopWriteBehind(file.out);
    file.out.fd = NO_FILE;
    abandonReplacement(file.pending);
}

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

Failure writeObjectAndReport(const MeshBuffers& mesh, const TempFile& temp,
                             const ElevationRaster& raster, const TileTerrain& terrain,
                             const OutputPaths& paths, OutputTarget& console) {
    const OriginVertex origin = findOrigin(mesh);
    SourceLines sources;
    if (mesh.vertices.count > 0) {
        sources.fd = openReadHandle(temp.path);
        if (sources.fd == NO_FILE) {
            noteFailureReason("cannot open " + temp.path + " again: " + systemErrorText());
            return Failure::readTemp;
        }
    }
    std::string originLine;
    if (origin.index >= 0) {
        const StoredVertex& v = mesh.vertices[size_t(origin.index)];
        std::string_view line;
        if (!fetchSourceLine(sources, sourceOffset(v), line)) {
            noteFailureReason("reading " + temp.path + " back failed: " + systemErrorText());
            closeHandle(sources.fd);
            return Failure::readTemp;
        }
        std::string resolved;
        originLine = shownLine(line, v, raster, resolved);
    }

    endLine(console);
    writeLine(console, "Writing output file");
    flushOutput(console);  // the longest phase starts: the line is shown now
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
    closeHandle(sources.fd);
    if (failure == Failure::none && !paths.wavefront.empty()) {
        failure = writeWavefront(mesh, origin, originLine, terrain, temp, paths);
    }
    if (failure == Failure::none && !paths.preview.empty()) {
        failure = writePreview(mesh, origin, paths);
    }
    if (failure != Failure::none) return failure;

    endLine(console);
    // "correponding" is the report's own spelling: scripts that read the report look for it
    writeLine(console,
              "Coordinates of the vertex correponding to the origin of the output object:");
    writeLine(console, "             longitude  latitude    altitude(m)");
    writeLine(console, originLine);
    return Failure::none;
}

}  // namespace mc
