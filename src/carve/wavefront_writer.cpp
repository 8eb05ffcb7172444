// The cut as a Wavefront OBJ: one welded surface in metres, every face turned up, grouped by
// terrain under the materials of NAME.mtl, overlays in an object of their own.
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "carve/writers.h"
#include "cut/frame.h"
#include "cut/materials.h"
#include "platform/file_names.h"
#include "scenery/terrain_library.h"
#include "text/fixed6.h"
#include "text/fixed9.h"
#include "text/whole_file.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

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

// Writes one "v" line per distinct position in first-seen order; number[i] is the 1-based
// vertex of stored vertex i.
void writeWeldedVertices(OutputFile& out, const MeshBuffers& mesh, const OriginVertex& origin,
                         std::vector<uint32_t>& number) {
    uint32_t distinct = 0;
    number = weldPositions(mesh.vertices, distinct);
    uint32_t written = 0;
    for (size_t i = 0; i < mesh.vertices.count; ++i) {
        if (number[i] == written) writeVertex(out, metresOf(mesh.vertices[i], origin)), ++written;
        ++number[i];
    }
}

// NAME.obj's materials go to NAME.mtl beside it.
std::string materialPathOf(const std::string& wavefrontPath) {
    return folderPartOf(wavefrontPath) + fileStemOf(wavefrontPath) + ".mtl";
}

std::string absolutePath(const std::string& path) {
    return tidyPath(isAbsolutePath(path) ? path : currentDirectory() + "/" + path);
}

// A texture inside the .mtl's folder is named from there, any other by its full path.
std::string textureReference(const std::string& texture, const std::string& materialPath) {
    std::string image = absolutePath(texture);
    std::string folder = absolutePath(materialPath);
    folder = folderPartOf(folder);
    return image.starts_with(folder) ? image.substr(folder.size()) : image;
}

void writeColour(OutputFile& out, std::string_view key, double r, double g, double b) {
    char text[3 * FIXED6_MAX_TEXT + 16];
    char* p = std::copy(key.begin(), key.end(), text);
    for (double c : {r, g, b}) {
        *p++ = ' ';
        p = fixed6ToText(c, p);
    }
    writeLine(out, {text, size_t(p - text)});
}

void writeMaterials(OutputFile& out, const std::vector<Material>& materials,
                    const TileTerrain& terrain, const std::string& materialPath) {
    writeLine(out, "# mesh_carver materials: one per terrain definition of the cut");
    for (const Material& m : materials) {
        endLine(out);
        writeLine(out, "newmtl " + m.name);
        if (m.definition < terrain.definitions.size()) {
            writeLine(out, "# terrain definition " + intToText(m.definition) + ": " +
                               terrain.definitions[m.definition]);
        }
        switch (m.look.look) {
            case TerrainLook::water:
                writeColour(out, "Kd", 0.12, 0.30, 0.50);
                break;
            case TerrainLook::textured:
                writeColour(out, "Kd", 1, 1, 1);
                break;
            case TerrainLook::grey:
                writeLine(out, "# grey: " + m.look.problem);
                writeColour(out, "Kd", 0.5, 0.5, 0.5);
                break;
        }
        writeColour(out, "Ks", 0, 0, 0);
        writeLine(out, "d 1.0");
        writeLine(out, "illum 1");
        if (m.look.look == TerrainLook::textured) {
            writeLine(out, "map_Kd " + textureReference(m.look.texture, materialPath));
        }
    }
}

// Projected coordinates to a ten-thousandth of a repeat; the vertices' own s and t as printed.
void writeTextureCoordinate(OutputFile& out, double u, double v, Mapping mapping) {
    char text[2 * FIXED6_MAX_TEXT + 8];
    char* p = text;
    *p++ = 'v', *p++ = 't', *p++ = ' ';
    p = mapping == Mapping::projected ? fixed4ToText(u, p) : fixed6ToText(u, p);
    *p++ = ' ';
    p = mapping == Mapping::projected ? fixed4ToText(v, p) : fixed6ToText(v, p);
    writeLine(out, {text, size_t(p - text)});
}

// The sixth and seventh value of a vertex line ("PATCH_VERTEX lon lat elev nx nz s t").
bool vertexST(const KeptLines& lines, const StoredVertex& v, double& s, double& t) {
    std::string_view line;
    if (!keptLine(lines, sourceOffset(v), line)) return false;
    SplitText field = splitFirstField(line);
    for (int k = 0; k < 5; ++k) field = splitFirstField(field.rest);
    s = parseNumber(splitFirstField(field.rest).first);
    t = parseNumber(splitFirstField(splitFirstField(field.rest).rest).first);
    return true;
}

struct TileFrame {
    SelectionWindow window;
    double west, south;  // the tile's edges, where projected textures start
};

// The tool's own metres east of the tile's west edge and north of its south edge, from the
// stored vertex: x and z are measured from the window's corner.
void projectedUV(const StoredVertex& v, const TileFrame& f, const Material& m, double& u,
                 double& w) {
    double northOfWindow = -v.z * SCALE_DIVISOR;
    double lat = latitudeNorthOf(f.window.latMin, northOfWindow);
    double cosine = cosineOfLatitude<double>(lat);
    double east = v.x * SCALE_DIVISOR + metresEast(f.window.longMin, f.west, cosine);
    double north = northOfWindow + metresNorth<double>(f.window.latMin, f.south);
    u = east / m.look.projectedX;
    w = north / m.look.projectedY;
}

// A run whose faces take the welded vertex's number for their "vt" too.
constexpr size_t WELDED_VT = SIZE_MAX;

// The first projection of the cut's faces: its coordinates depend on the position alone, so
// they are written once per welded position, in the "v" lines' order; none when nothing is
// projected (other projections, rare, get a "vt" per stored vertex).
const Material* sharedProjection(const MeshBuffers& mesh, const std::vector<Material>& materials) {
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        const Material& m = materialOf(materials, mesh.runs[r].patch.definition);
        if (runHasTriangles(mesh, r) && mappingOf(m, mesh.runs[r].patch) == Mapping::projected) {
            return &m;
        }
    }
    return nullptr;
}

bool sameProjection(const Material& a, const Material& b) {
    return a.look.projectedX == b.look.projectedX && a.look.projectedY == b.look.projectedY;
}

// The "vt" lines: one per welded position for the shared projection, then one per stored vertex
// of every other mapped run, in order. vtBase[r] is the number before run r's first (WELDED_VT:
// the "v" number serves).
bool writeTextureCoordinates(OutputFile& out, const Cut& cut,
                             const std::vector<Material>& materials, const TileFrame& frame,
                             const std::vector<uint32_t>& number, std::vector<size_t>& vtBase) {
    const MeshBuffers& mesh = cut.mesh;
    size_t written = 0;
    vtBase.assign(mesh.runs.size(), 0);
    const Material* shared = sharedProjection(mesh, materials);
    if (shared) {
        for (size_t i = 0; i < mesh.vertices.count; ++i) {
            if (number[i] != written + 1) continue;  // not the position's first appearance
            double u, v;
            projectedUV(mesh.vertices[i], frame, *shared, u, v);
            writeTextureCoordinate(out, u, v, Mapping::projected);
            ++written;
        }
    }
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        if (!runHasTriangles(mesh, r)) continue;
        const PatchRun& run = mesh.runs[r];
        const Material& m = materialOf(materials, run.patch.definition);
        Mapping mapping = mappingOf(m, run.patch);
        if (mapping == Mapping::none) continue;
        if (mapping == Mapping::projected && sameProjection(m, *shared)) {
            vtBase[r] = WELDED_VT;
            continue;
        }
        vtBase[r] = written;
        size_t end = runVertexEnd(mesh, r);
        for (size_t i = run.firstVertex; i < end; ++i) {
            double u = 0, v = 0;
            if (mapping == Mapping::projected) {
                projectedUV(mesh.vertices[i], frame, m, u, v);
            } else if (!vertexST(cut.lines, mesh.vertices[i], u, v)) {
                return false;
            }
            writeTextureCoordinate(out, u, v, mapping);
        }
        written += end - run.firstVertex;
    }
    return true;
}

void writeFace(OutputFile& out, const uint32_t (&v)[3], const size_t (&vt)[3], bool mapped) {
    char text[96];
    char* p = text;
    *p++ = 'f';
    for (int k = 0; k < 3; ++k) {
        *p++ = ' ';
        char* number = p;
        p = intToText(int64_t(v[k]), p);
        if (!mapped) continue;
        *p++ = '/';
        if (vt[k] == v[k]) {  // projected faces share the position's number: copied, not printed
            size_t digits = size_t(p - 1 - number);
            std::memcpy(p, number, digits);
            p += digits;
        } else {
            p = intToText(int64_t(vt[k]), p);
        }
    }
    writeLine(out, {text, size_t(p - text)});
}

void writeRunFaces(OutputFile& out, const MeshBuffers& mesh, size_t r, bool mapped, size_t vtBase,
                   const std::vector<uint32_t>& number) {
    const PatchRun& run = mesh.runs[r];
    size_t end = runIndexEnd(mesh, r);
    for (size_t t = run.firstIndex; t + 3 <= end; t += 3) {
        size_t corners[3] = {size_t(mesh.indices[t]), size_t(mesh.indices[t + 1]),
                             size_t(mesh.indices[t + 2])};
        uint32_t v[3] = {number[corners[0]], number[corners[1]], number[corners[2]]};
        if (v[0] == v[1] || v[1] == v[2] || v[0] == v[2]) continue;
        size_t vt[3];
        for (int k = 0; k < 3; ++k) {
            vt[k] = vtBase == WELDED_VT ? v[k] : vtBase + corners[k] - run.firstVertex + 1;
        }
        if (upwardTurn(mesh.vertices[corners[0]], mesh.vertices[corners[1]],
                       mesh.vertices[corners[2]]) < 0) {
            std::swap(v[1], v[2]);
            std::swap(vt[1], vt[2]);
        }
        writeFace(out, v, vt, mapped);
    }
}

// The faces of physical or of overlay patches, material by material.
void writeFaceGroups(OutputFile& out, const MeshBuffers& mesh,
                     const std::vector<Material>& materials, bool overlays,
                     const std::vector<size_t>& vtBase, const std::vector<uint32_t>& number) {
    for (const Material& m : materials) {
        bool named = false;
        for (size_t r = 0; r < mesh.runs.size(); ++r) {
            const BlockPatch& patch = mesh.runs[r].patch;
            bool overlay = (patch.flags & OVERLAY_PATCH_FLAG) != 0;
            if (patch.definition != m.definition || overlay != overlays ||
                !runHasTriangles(mesh, r)) {
                continue;
            }
            if (!named) writeLine(out, "usemtl " + m.name), named = true;
            writeRunFaces(out, mesh, r, mappingOf(m, patch) != Mapping::none, vtBase[r], number);
        }
    }
}

bool hasOverlayFaces(const MeshBuffers& mesh) {
    for (size_t r = 0; r < mesh.runs.size(); ++r) {
        if ((mesh.runs[r].patch.flags & OVERLAY_PATCH_FLAG) && runHasTriangles(mesh, r)) {
            return true;
        }
    }
    return false;
}

void writeHeader(OutputFile& out, const Cut& cut, const std::string& wavefrontPath,
                 const std::string& materialPath) {
    char text[4 * FIXED9_MAX_TEXT + 96];
    char* p = text;
    auto field = [&](std::string_view label, double value) {
        std::memcpy(p, label.data(), label.size());
        p = fixed9ToText(value, p + label.size());
    };
    field("# window: lat_min ", cut.window.latMin);
    field(" lat_max ", cut.window.latMax);
    field(" long_min ", cut.window.longMin);
    field(" long_max ", cut.window.longMax);
    writeLine(out, "# mesh_carver cut: metres, X east, Y up, Z south, from the origin vertex");
    writeLine(out, {text, size_t(p - text)});
    writeText(out, "# origin: ");
    writeLine(out, cut.originLine.empty() ? std::string_view("none") : cut.originLine);
    writeLine(out, "mtllib " + fileNameOf(materialPath));
    writeText(out, "o ");
    writeLine(out, fileStemOf(wavefrontPath));
}

bool writeGeometry(OutputFile& out, const Cut& cut, const std::vector<Material>& materials,
                   const TileFrame& frame, const std::string& objectName) {
    const MeshBuffers& mesh = cut.mesh;
    std::vector<uint32_t> number;
    writeWeldedVertices(out, mesh, cut.origin, number);
    std::vector<size_t> vtBase;
    if (!writeTextureCoordinates(out, cut, materials, frame, number, vtBase)) return false;
    writeFaceGroups(out, mesh, materials, false, vtBase, number);
    if (hasOverlayFaces(mesh)) {
        writeLine(out, "o " + objectName + "_overlay");
        writeFaceGroups(out, mesh, materials, true, vtBase, number);
    }
    return true;
}

TileFrame tileFrameOf(const Cut& cut) {
    const TileTerrain& terrain = cut.terrain;
    return {cut.window, terrain.hasCorner ? terrain.west : std::floor(cut.window.longMin),
            terrain.hasCorner ? terrain.south : std::floor(cut.window.latMin)};
}

}  // namespace

Status writeWavefront(const Cut& cut, const RunPaths& paths) {
    if (paths.wavefront.empty()) return {};
    TerrainLibrary library;
    library.folders = {packFolderOfTile(paths.input, paths.sceneryFolder), paths.xplaneFolder};
    std::vector<Material> materials = materialsOf(cut, library);
    const std::string materialPath = materialPathOf(paths.wavefront);
    WholeFile file, materialFile;
    if (Status status = openWholeFile(file, paths.wavefront, paths.input, Failure::writeWavefront);
        !status.ok()) {
        return status;
    }
    if (Status status =
            openWholeFile(materialFile, materialPath, paths.input, Failure::writeWavefront);
        !status.ok()) {
        abandonWholeFile(file);
        return status;
    }
    writeHeader(file.out, cut, paths.wavefront, materialPath);
    bool read =
        writeGeometry(file.out, cut, materials, tileFrameOf(cut), fileStemOf(paths.wavefront));
    writeMaterials(materialFile.out, materials, cut.terrain, materialPath);
    if (!read) {
        abandonWholeFile(file);
        abandonWholeFile(materialFile);
        return keptLinesFailure(cut);
    }
    // the materials first: a file naming materials that are not there would import grey
    if (Status status = finishWholeFile(materialFile); !status.ok()) {
        abandonWholeFile(file);
        return status;
    }
    return finishWholeFile(file);
}

}  // namespace mc
