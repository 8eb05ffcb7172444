// Runs of the built tool on tiles written by the test: the scenario folder, primitive blocks.
#pragma once

#include <initializer_list>
#include <string>

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

}  // namespace mc
