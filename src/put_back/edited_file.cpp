// The edited Wavefront file read as it streams, face by face.
#include "put_back/edited_file.h"

#include <algorithm>
#include <cmath>

#include "text/fields.h"
#include "text/line_reader.h"
#include "text/numbers.h"
#include "text/whole_numbers.h"

namespace mc {

namespace {

// Statements of the format the tool does not need: read and passed over.
constexpr std::string_view IGNORED[] = {
    "vn",   "vp",     "l",      "p",          "s",         "mtllib", "cstype",   "deg",
    "bmat", "step",   "curv",   "curv2",      "surf",      "parm",   "trim",     "hole",
    "scrv", "sp",     "end",    "con",        "mg",        "bevel",  "c_interp", "d_interp",
    "lod",  "maplib", "usemap", "shadow_obj", "trace_obj", "ctech",  "stech"};

struct Reading {
    EditedCut& edited;
    const FaceTaker& takeFace;
    std::vector<EditedCorner> corners = {};  // of the face being read
    uint64_t faces = 0;                      // outside overlay objects
    uint32_t line = 0;
    bool inOverlay = false;  // the current object is an overlay, whose faces are left out
    int64_t material = -1;   // the current usemtl, into edited.materials
    Status status = {};
};

bool fail(Reading& r, const std::string& what) {
    r.status = failedWith(Failure::readEdited, "line " + groupedNumber(r.line) + ": " + what);
    return false;
}

// 'text', for a message.
std::string quoted(std::string_view text) {
    std::string out(1, '\'');
    out.append(text).push_back('\'');
    return out;
}

bool isNumberText(std::string_view text) {
    size_t at = 0, digits = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at, ++digits;
    if (at < text.size() && text[at] == '.') ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at, ++digits;
    if (digits == 0) return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        size_t exponent = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        if (at == exponent) return false;
    }
    return at == text.size();
}

// The next field of a statement: fields are separated by one or more blanks.
std::string_view nextField(std::string_view& rest) {
    size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) return rest = {}, std::string_view();
    size_t end = rest.find_first_of(" \t", start);
    std::string_view field = rest.substr(start, end == std::string_view::npos ? end : end - start);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    return field;
}

// `count` numbers, each finite; further ones (a weight, vertex colours) are allowed.
bool readNumbers(Reading& r, std::string_view& rest, double* values, int count) {
    for (int k = 0; k < count; ++k) {
        std::string_view field = nextField(rest);
        if (field.empty()) return fail(r, "a coordinate is missing");
        if (!isNumberText(field)) return fail(r, quoted(field) + " is not a number");
        values[k] = parseNumber(field);
        if (!std::isfinite(values[k]))
            return fail(r, std::string(field) + " is not a finite number");
    }
    return true;
}

// A corner "v", "v/vt", "v//vn" or "v/vt/vn"; indices from 1, or from the end when negative.
bool readIndex(Reading& r, std::string_view text, size_t count, const char* what, int64_t& index) {
    if (!isNumberText(text) || text.find_first_of(".eE") != std::string_view::npos) {
        return fail(r, quoted(text) + " is not a " + what + " number");
    }
    double value = parseNumber(text);
    int64_t at = value < 0 ? int64_t(count) + int64_t(value) : int64_t(value) - 1;
    if (value == 0 || at < 0 || at >= int64_t(count) || std::fabs(value) > 2e9) {
        return fail(r, "a face names " + std::string(what) + " " + std::string(text) +
                           ", but the file has " + groupedNumber(count) + " before it");
    }
    index = at;
    return true;
}

bool readCorner(Reading& r, std::string_view field, EditedCorner& corner) {
    size_t slash = field.find('/');
    int64_t vertex = 0, texture = -1;
    if (!readIndex(r, field.substr(0, slash), r.edited.vertices.size(), "vertex", vertex)) {
        return false;
    }
    if (slash != std::string_view::npos) {
        std::string_view rest = field.substr(slash + 1);
        std::string_view uv = rest.substr(0, rest.find('/'));
        if (!uv.empty() &&
            !readIndex(r, uv, r.edited.textures.size() / 2, "texture coordinate", texture)) {
            return false;
        }
    }
    corner = {uint32_t(vertex), int32_t(texture)};
    return true;
}

bool readFace(Reading& r, std::string_view rest) {
    r.corners.clear();
    for (std::string_view field = nextField(rest); !field.empty(); field = nextField(rest)) {
        EditedCorner corner;
        if (!readCorner(r, field, corner)) return false;
        r.corners.push_back(corner);
    }
    if (r.corners.size() < 3) return fail(r, "a face has fewer than three corners");
    if (r.inOverlay) return true;
    if (r.material < 0) return fail(r, "a face has no material (no usemtl before it)");
    ++r.faces;
    EditedFace face{r.corners.data(), uint32_t(r.corners.size()), uint32_t(r.material), r.line};
    r.status = r.takeFace(face);
    return r.status.ok();
}

// The rest of the statement, blanks around it taken off: a name may hold spaces.
std::string_view restOfLine(std::string_view rest) {
    size_t first = rest.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return rest.substr(first, rest.find_last_not_of(" \t") - first + 1);
}

void useMaterial(Reading& r, std::string_view rest) {
    std::string name = withoutBlenderSuffix(std::string(restOfLine(rest)));
    std::vector<std::string>& names = r.edited.materials;
    for (size_t k = 0; k < names.size(); ++k) {
        if (names[k] == name) return void(r.material = int64_t(k));
    }
    names.push_back(name);
    r.material = int64_t(names.size() - 1);
}

bool readStatement(Reading& r, std::string_view line) {
    std::string_view rest = line;
    std::string_view keyword = nextField(rest);
    if (keyword.empty() || keyword.front() == '#') return true;
    if (keyword == "v") {
        double p[3];
        if (!readNumbers(r, rest, p, 3)) return false;
        r.edited.vertices.push_back({p[0], p[1], p[2]});
        return true;
    }
    if (keyword == "vt") {
        double uv[2] = {0, 0};  // a lone u is allowed: v is then 0
        if (!readNumbers(r, rest, uv, 1)) return false;
        if (rest.find_first_not_of(" \t") != std::string_view::npos &&
            !readNumbers(r, rest, uv + 1, 1)) {
            return false;
        }
        r.edited.textures.insert(r.edited.textures.end(), uv, uv + 2);
        return true;
    }
    if (keyword == "f") return readFace(r, rest);
    if (keyword == "o" || keyword == "g") {
        r.inOverlay = restOfLine(rest).ends_with("_overlay");
        return true;
    }
    if (keyword == "usemtl") return useMaterial(r, rest), true;
    for (std::string_view known : IGNORED) {
        if (keyword == known) return true;
    }
    return fail(r, quoted(keyword.substr(0, 40)) +
                       " is no Wavefront statement: this is not a Wavefront OBJ file");
}

}  // namespace

std::string withoutBlenderSuffix(std::string name) {
    size_t n = name.size();
    bool suffixed = n > 4 && name[n - 4] == '.' && std::isdigit(uint8_t(name[n - 3])) &&
                    std::isdigit(uint8_t(name[n - 2])) && std::isdigit(uint8_t(name[n - 1]));
    if (suffixed) name.resize(n - 4);
    return name;
}

Status readEditedCut(const std::string& path, EditedCut& edited, const FaceTaker& takeFace) {
    LineReader reader;
    if (!openForReading(reader, path)) {
        return failedWith(Failure::readEdited, "cannot open " + path + ": " + systemErrorText());
    }
    Reading r{edited, takeFace};
    while (r.status.ok() && !atEnd(reader)) {
        std::string_view line = readLine(reader);
        ++r.line;
        if (line.find('\0') != std::string_view::npos) {
            fail(r, "it holds a NUL byte: this is not a Wavefront OBJ file");
        } else {
            readStatement(r, line);
        }
    }
    bool readFailed = reader.readFailed;
    closeReader(reader);
    if (r.status.failure == Failure::readEdited) r.status.reason = path + ", " + r.status.reason;
    if (!r.status.ok()) return r.status;
    if (readFailed) {
        return failedWith(Failure::readEdited, "reading " + path + " failed: " + reader.error);
    }
    if (r.faces == 0) {
        return failedWith(Failure::readEdited,
                          path + " has no face outside its overlay objects: nothing to put back");
    }
    return {};
}

Status takeEditedMesh(EditedMesh& mesh, EditedCut& edited, const FaceTaker& takeFace) {
    edited.vertices = std::move(mesh.cut.vertices);
    edited.textures = std::move(mesh.cut.textures);
    // names that are one without their suffixes are one material, as usemtl lines are read
    edited.materials.clear();
    std::vector<uint32_t> materialOf;
    for (const std::string& name : mesh.cut.materials) {
        std::string bare = withoutBlenderSuffix(name);
        auto known = std::find(edited.materials.begin(), edited.materials.end(), bare);
        materialOf.push_back(uint32_t(known - edited.materials.begin()));
        if (known == edited.materials.end()) edited.materials.push_back(std::move(bare));
    }
    if (mesh.faces.empty()) {
        return failedWith(Failure::readEdited, "the ground made has no face: nothing to put back");
    }
    for (const EditedMesh::Face& face : mesh.faces) {
        EditedFace taken{mesh.corners.data() + face.firstCorner, face.cornerCount,
                         materialOf[face.material], face.line};
        if (Status status = takeFace(taken); !status.ok()) return status;
    }
    return {};
}

}  // namespace mc
