// Runs of the built tool on tiles written by the test: the scenario folder, primitive blocks.
#pragma once

#include <algorithm>
#include <array>
#include <initializer_list>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace mc {

struct Vertex {
    const char* lon;
    const char* lat;
    const char* elev;
};

inline std::string block(int type, std::initializer_list<Vertex> vertices) {
    std::string text = "BEGIN_PRIMITIVE " + std::to_string(type) + "\n";
    for (const Vertex& v : vertices) {
        text += std::string("PATCH_VERTEX ") + v.lon + " " + v.lat + " " + v.elev + " 0.5 0.5\n";
    }
    return text + "END_PRIMITIVE\n";
}

// Window -1 < lat < 1, -1 < lon < 1: at latitude 0 the projection is plain arithmetic.
struct Scenario {
    test::TempDir dir;
    std::string maxVertex = "1000";
    std::string maxTris = "1000";
    std::string input = "tile.txt";
    std::string output = "out.obj";
    std::string extraIni;  // lines after the eight keys
    test::ToolRun run;

    test::ToolRun& carve(const std::string& tile) {
        test::writeFile(dir / "tile.txt", tile);
        test::writeFile(dir / "mesh_carver.ini",
                        test::iniText(-1, 1, -1, 1, input, output, maxVertex, maxTris) + extraIni);
        run = test::runTool(dir.path);
        return run;
    }
    std::string temp() const { return test::readFile(dir / "mesh_carver.tmp"); }
    std::string object() const { return test::readFile(dir / "out.obj"); }
};

inline std::string crlf(std::string text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

/// The text with the first `from` replaced by `to`.
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

inline const Vertex IN = {"0.5", "0.5", "10"};
inline const Vertex OUT = {"5", "5", "1"};

// One carve of `input` (a path from the root) through the built tool.
struct Carve {
    int status = 0;
    std::string console, temp, object;
};
inline Carve carveFile(const std::string& input, double latMin, double latMax, double longMin,
                       double longMax) {
    Scenario s;
    test::writeFile(
        s.dir / "mesh_carver.ini",
        test::iniText(latMin, latMax, longMin, longMax, input, "out.obj", "9999999", "9999999"));
    s.run = test::runTool(s.dir.path);
    return {s.run.status, s.run.console, s.temp(), s.object()};
}

// The triangles of an object, each as its three scenery lines from its first in order; with
// `oriented` false, as a set of three.
inline std::multiset<std::vector<std::string>> trianglesOf(const std::string& object,
                                                           bool oriented = true) {
    std::vector<std::string> lines, vertices;
    std::vector<size_t> indices;
    std::istringstream in(object);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with("VT ")) vertices.push_back(line.substr(line.find(" # ") + 3));
        if (line.starts_with("IDX ")) indices.push_back(std::stoul(line.substr(4)));
    }
    std::multiset<std::vector<std::string>> triangles;
    for (size_t i = 0; i + 3 <= indices.size(); i += 3) {
        std::vector<std::string> t{vertices[indices[i]], vertices[indices[i + 1]],
                                   vertices[indices[i + 2]]};
        if (oriented) {
            std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        } else {
            std::sort(t.begin(), t.end());
        }
        triangles.insert(t);
    }
    return triangles;
}

// The base object's faces of a Wavefront file, as vertex numbers from 1.
inline std::vector<std::vector<int>> facesOf(const std::string& obj) {
    std::vector<std::vector<int>> faces;
    std::istringstream in(obj);
    bool overlay = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with("o ")) overlay = line.ends_with("_overlay");
        if (!line.starts_with("f ") || overlay) continue;
        std::istringstream corners(line.substr(2));
        std::vector<int> face;
        for (std::string corner; corners >> corner;) face.push_back(std::stoi(corner));
        faces.push_back(face);
    }
    return faces;
}

// The file with every vertex of its base faces that is not on their outline raised.
inline std::string raisedInside(const std::string& obj, double metres) {
    std::map<std::pair<int, int>, int> edges;
    for (const auto& face : facesOf(obj)) {
        for (size_t k = 0; k < face.size(); ++k) {
            int a = face[k], b = face[(k + 1) % face.size()];
            ++edges[{std::min(a, b), std::max(a, b)}];
        }
    }
    std::set<int> outline;
    for (const auto& [edge, count] : edges) {
        if (count == 1) outline.insert({edge.first, edge.second});
    }
    std::istringstream in(obj);
    std::ostringstream out;
    out.precision(10);
    int vertex = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("v ") && !outline.count(++vertex)) {
            double x, y, z;
            std::istringstream(line.substr(2)) >> x >> y >> z;
            out << "v " << x << " " << y + metres << " " << z << "\n";
        } else {
            out << line << "\n";
        }
    }
    return out.str();
}

// The vertices of a Wavefront file's text, in order.
inline std::vector<std::array<double, 3>> verticesOfWavefront(const std::string& text) {
    std::vector<std::array<double, 3>> vertices;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("v ")) continue;
        std::array<double, 3> v;
        std::istringstream(line.substr(2)) >> v[0] >> v[1] >> v[2];
        vertices.push_back(v);
    }
    return vertices;
}
inline std::vector<std::array<double, 3>> wavefrontVertices(const std::string& path) {
    return verticesOfWavefront(test::readFile(path));
}

}  // namespace mc
