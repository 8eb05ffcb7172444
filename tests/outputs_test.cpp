// End-to-end runs of the outputs beside the object: the Wavefront file in Blender, the preview in
// a browser, the progress line and console on a terminal, the installed files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <regex>
#include <sstream>

#include "run_scenario.h"
#include "test_support.h"
#include "text/numbers.h"

namespace mc {
namespace {

// The Wavefront file of a cut: welded vertices, upward faces, degenerate triangles left out.
TEST(Run, WavefrontWeldsAndTurnsFacesUp) {
    const Vertex P0 = {"0", "0", "10"}, P1 = {"0.5", "0", "10"}, P2 = {"0.5", "0.5", "10"},
                 P3 = {"0", "0.5", "10"};
    const struct {
        const char* name;
        std::string tile;
        int vertices;
        std::string faces;
    } cases[] = {
        {"fan and list share corners", block(2, {P0, P1, P2, P3}) + block(0, {P0, P2, P3}), 4,
         "f 1 2 3\r\nf 1 3 4\r\nf 1 3 4\r\n"},
        {"blocks share corners", block(0, {P0, P1, P2}) + block(0, {P2, P1, P0}), 3,
         "f 1 2 3\r\nf 3 1 2\r\n"},
        {"a clockwise triangle is turned", block(0, {P0, P3, P2}), 3, "f 1 3 2\r\n"},
        {"a triangle with two equal corners is left out", block(0, {P0, P0, P1, P0, P1, P2}), 3,
         "f 1 2 3\r\n"},
        {"an empty cut", block(0, {OUT, OUT, OUT}), 0, ""},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.extraIni = "wavefront_file=cut.obj\n";
        s.carve(c.tile);
        ASSERT_EQ(s.run.status, 0) << c.name;
        std::string obj = test::readFile(s.dir / "cut.obj");
        EXPECT_TRUE(obj.starts_with("# mesh_carver cut: metres")) << c.name;
        EXPECT_NE(obj.find("\r\no cut\r\n"), std::string::npos) << c.name;
        int vertices = 0;
        std::string faces;
        for (size_t at = 0; (at = obj.find("\r\n", at)) != std::string::npos; at += 2) {
            if (obj.compare(at + 2, 2, "v ") == 0) ++vertices;
            if (obj.compare(at + 2, 2, "f ") == 0) {
                faces += obj.substr(at + 2, obj.find("\r\n", at + 2) - at);
            }
        }
        EXPECT_EQ(vertices, c.vertices) << c.name;
        EXPECT_EQ(faces, c.faces) << c.name;
    }
    // a vertex in metres relative to the origin: 0.5 degree east at the equator is 55,560 m
    Scenario s;
    s.extraIni = "wavefront_file=cut.obj\n";
    s.carve(block(0, {P0, P1, {"0", "0.5", "20"}}));
    EXPECT_NE(test::readFile(s.dir / "cut.obj")
                  .find("v 4.2311 -10.0000 55560.0000\r\nv 55564.2311 -10.0000 55560.0000\r\n"
                        "v 0.0000 0.0000 0.0000\r\n"),
              std::string::npos);
}

// Without the key, or with it empty, nothing is written beside the object and the console is
// as before; an existing Wavefront file survives a failed run.
TEST(Run, WavefrontKeyAbsentOrEmptyChangesNothing) {
    const std::string tile = block(2, {IN, IN, IN});
    Scenario plain, empty;
    plain.carve(tile);
    empty.extraIni = "wavefront_file=\n";
    empty.carve(tile);
    EXPECT_EQ(empty.run.console, plain.run.console);
    EXPECT_EQ(empty.object(), plain.object());
    size_t files = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(empty.dir.path)) {
        ++files;
    }
    EXPECT_EQ(files, 4u);  // ini, tile, tmp, object
    Scenario failing;
    failing.extraIni = "wavefront_file=cut.obj\n";
    failing.maxVertex = "2";
    test::writeFile(failing.dir / "cut.obj", "the author's model");
    failing.carve(tile);
    EXPECT_EQ(failing.run.status, 255);
    EXPECT_EQ(test::readFile(failing.dir / "cut.obj"), "the author's model");
}

// The bundled sample carved with one more line in its ini.
void carveSample(Scenario& s, const std::string& extraLine) {
    std::filesystem::copy(SOURCE_DIR "/examples/sample_tile.txt", s.dir / "sample_tile.txt");
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::readFile(SOURCE_DIR "/examples/mesh_carver.ini") + extraLine);
    s.run = test::runTool(s.dir.path);
}

// The sample's Wavefront file opened by Blender's own importer with its default axes.
TEST(Run, WavefrontImportsIntoBlender) {
    if (std::system("command -v blender > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "Blender is not installed";
    }
    Scenario s;
    carveSample(s, "wavefront_file=sample_cut_blender.obj\n");
    ASSERT_EQ(s.run.status, 0);
    // counts and extent as the file states them, on Blender's axes: -Z forward, Y up
    std::string obj = test::readFile(s.dir / "sample_cut_blender.obj");
    int vertices = 0, faces = 0;
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    std::istringstream lines(obj);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("f ")) ++faces;
        if (!line.starts_with("v ")) continue;
        ++vertices;
        std::istringstream v(line.substr(2));
        double x, y, z;
        v >> x >> y >> z;
        double blender[3] = {x, -z, y};
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], blender[k]), high[k] = std::max(high[k], blender[k]);
        }
    }
    ASSERT_GT(faces, 10);
    std::ostringstream command;
    command << std::setprecision(17) << "cd '" << s.dir.path
            << "' && blender -b --factory-startup -noaudio "
            << "--python-exit-code 3 --python '" SOURCE_DIR "/tests/blender_import_check.py' -- "
            << "sample_cut_blender.obj " << vertices << " " << faces;
    for (int k = 0; k < 3; ++k) command << " " << low[k] << " " << high[k];
    command << " > blender.log 2>&1";
    int status = std::system(command.str().c_str());
    EXPECT_EQ(status, 0) << test::readFile(s.dir / "blender.log");
}

// The previews of the sample and of the TIN sample's first window (the README's picture),
// rendered by a real browser and checked against their own SVG.
TEST(Run, PreviewRendersInChromium) {
    const std::string tin = SOURCE_DIR "/tests/data/dsf/";
    for (const char* name : {"sample_preview", "tin_preview"}) {
        Scenario s;
        const std::string key = std::string("preview_file=") + name + ".svg\n";
        if (std::string(name) == "sample_preview") {
            carveSample(s, key);
            EXPECT_EQ(s.run.console, test::readFile(SOURCE_DIR "/examples/expected_console.txt"));
        } else {
            if (!test::fileExists(tin + "tin_small.dsf")) continue;
            std::string ini = test::readFile(tin + "expected/tin_small_a/mesh_carver.ini");
            test::writeFile(s.dir / "mesh_carver.ini",
                            replaced(ini, "../../tin_small.txt", tin + "tin_small.dsf") + key);
            s.run = test::runTool(s.dir.path);
        }
        ASSERT_EQ(s.run.status, 0) << name;
        std::string svg = test::readFile(s.dir / (std::string(name) + ".svg"));
        ASSERT_TRUE(svg.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\""));
        // the same bytes on each run
        EXPECT_EQ(svg, test::readFile(SOURCE_DIR "/docs/" + std::string(name) + ".svg")) << name;
        if (std::system("command -v chromium > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "Chromium is not installed";
        }
        std::smatch size;
        ASSERT_TRUE(std::regex_search(svg, size, std::regex("width=\"(\\d+)\" height=\"(\\d+)\"")));
        std::string command =
            "cd '" + s.dir.path + "' && chromium --headless --no-sandbox --disable-gpu " +
            "--disable-quic --no-first-run --disable-background-networking " +
            "--disable-component-update --disable-sync --hide-scrollbars --user-data-dir=profile " +
            "--window-size=" + size[1].str() + "," + size[2].str() +
            " --screenshot=preview.png file://" + s.dir.path + "/" + name + ".svg > chromium.log " +
            "2>&1 && python3 '" SOURCE_DIR "/tests/preview_check.py' " + name +
            ".svg preview.png " + (std::string(name) == "tin_preview" ? "covered" : "") +
            " > check.log 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << name << test::readFile(s.dir / "check.log")
                                                   << test::readFile(s.dir / "chromium.log");
    }
}

// Beyond 100,000 triangles the preview is a grid of cells: small whatever the cut.
TEST(Run, PreviewOfALargeCutStaysSmall) {
    Scenario s;
    std::string make = "'" MAKE_TILE_EXE "' 25000000 8 12 47 0.1 > '" + (s.dir / "tile.txt") + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(46, 48, 11, 13, "tile.txt", "out.obj", "9999999", "9999999") +
                        "preview_file=preview.svg\n");
    s.run = test::runTool(s.dir.path);
    ASSERT_EQ(s.run.status, 0);
    std::smatch counts;
    std::string object = s.object();
    ASSERT_TRUE(std::regex_search(object, counts, std::regex("POINT_COUNTS \\d+ 0 0 (\\d+)")));
    EXPECT_GT(std::stoul(counts[1]) / 3, 100000u);
    std::string svg = test::readFile(s.dir / "preview.svg");
    EXPECT_LT(svg.size(), 3000000u);
    EXPECT_NE(svg.find("h"), std::string::npos);
    EXPECT_EQ(svg.find("L"), std::string::npos);  // cells, not triangles
}

// The progress line goes to standard error only when it is a terminal, and is cleared at the
// end; standard output stays byte for byte the same.
TEST(Run, ProgressShowsOnATerminalOnly) {
    Scenario s;
    std::string make = "'" MAKE_TILE_EXE "' 60000000 3 12 47 0.2 > '" + (s.dir / "tile.txt") + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    test::writeFile(s.dir / "mesh_carver.ini", test::iniText(47.05, 47.06, 12.05, 12.06, "tile.txt",
                                                             "out.obj", "9999", "9999"));
    test::ToolRun plain = test::runTool(s.dir.path);
    EXPECT_EQ(plain.errors, "");
    std::string command = "cd '" + s.dir.path +
                          "' && script -qec \"'" MESH_CARVER_EXE
                          "' > console.txt\" /dev/null > terminal.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(test::readFile(s.dir / "console.txt"), plain.console);
    std::string terminal = test::readFile(s.dir / "terminal.txt");
    EXPECT_NE(terminal.find("\rReading "), std::string::npos) << terminal;
    EXPECT_TRUE(std::regex_search(terminal, std::regex(" of 5\\d\\.\\d MB  "))) << terminal;
    EXPECT_NE(terminal.find(" MB/s"), std::string::npos) << terminal;
    // the last thing on the terminal is the line blanked out
    EXPECT_TRUE(std::regex_search(terminal, std::regex("\r +\r$"))) << terminal;

    // standard output buffered on a terminal, in a pipe, and beside the progress line on one
    // terminal: the same bytes, and no line broken into by the progress line
    command = "cd '" + s.dir.path +
              "' && script -qec \"stty -onlcr; '" MESH_CARVER_EXE
              "' 2>/dev/null\" /dev/null > stdout_terminal.txt && script -qec \"stty -onlcr; "
              "'" MESH_CARVER_EXE "'\" /dev/null > both_terminal.txt && '" MESH_CARVER_EXE
              "' | cat > piped.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(test::readFile(s.dir / "stdout_terminal.txt"), plain.console);
    EXPECT_EQ(test::readFile(s.dir / "piped.txt"), plain.console);
    std::string both = std::regex_replace(test::readFile(s.dir / "both_terminal.txt"),
                                          std::regex("\rReading [^\r]*|\r +\r"), "");
    EXPECT_EQ(both, plain.console);
}

// A 7z tile shows its unpacking as it goes: the line moves about ten times a second (here
// 1 GiB of zeros, which then turns out to be no tile).
TEST(Run, UnpackingShowsOnATerminalAsItGoes) {
    Scenario s;
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(1, 2, 1, 2, SOURCE_DIR "/tests/data/archives/zeros_1gib.7z.dsf",
                                  "out.obj", "9", "9"));
    auto start = std::chrono::steady_clock::now();
    std::string command = "cd '" + s.dir.path +
                          "' && script -qec \"'" MESH_CARVER_EXE
                          "' > console.txt\" /dev/null > terminal.txt";
    std::system(command.c_str());
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string terminal = test::readFile(s.dir / "terminal.txt");
    size_t draws = 0;
    for (size_t at = 0; (at = terminal.find("\rUnpacking ", at)) != std::string::npos; ++at)
        ++draws;
    EXPECT_GE(double(draws), 5 * seconds - 3) << seconds << " s: " << terminal;
    EXPECT_GE(draws, 3u) << terminal;
    EXPECT_EQ(test::readFile(s.dir / "console.txt"),
              "Error reading input file " SOURCE_DIR "/tests/data/archives/zeros_1gib.7z.dsf\r\n");
}

// A 7z tile read from the cache says so on a terminal, instead of showing the unpacking.
TEST(Run, ACachedTileSaysSoOnATerminal) {
    Scenario s;
    std::string make =
        "cd '" + s.dir.path +
        "' && '" MAKE_TILE_EXE "' 16000000 42 > tile.txt && '" MAKE_DSF_EXE
        "' tile.txt tile.dsf tile_dsf.txt && bsdtar --format 7zip -cf tile.7z.dsf tile.dsf";
    ASSERT_EQ(std::system(make.c_str()), 0);
    test::writeFile(
        s.dir / "mesh_carver.ini",
        test::iniText(47.01, 47.03, 12.015, 12.04, "tile.7z.dsf", "out.obj", "999999", "999999") +
            "cache_folder=cache\n");
    std::string terminals[2];
    for (std::string& terminal : terminals) {
        std::string command = "cd '" + s.dir.path +
                              "' && script -qec \"'" MESH_CARVER_EXE
                              "' > console.txt\" /dev/null > terminal.txt";
        ASSERT_EQ(std::system(command.c_str()), 0);
        terminal = test::readFile(s.dir / "terminal.txt");
    }
    EXPECT_EQ(terminals[0].find("Reading the unpacked copy"), std::string::npos) << terminals[0];
    EXPECT_NE(terminals[1].find("\rReading the unpacked copy "), std::string::npos) << terminals[1];
    EXPECT_EQ(terminals[1].find("Unpacking"), std::string::npos) << terminals[1];
}

// What cmake --install (and so the release archive) carries: the program, and beside it the
// project's licence and the licence texts of the libraries inside.
TEST(Run, InstallCarriesTheLicences) {
    test::TempDir dir;
    std::string command = "cmake --install '" BUILD_DIR "' --prefix '" + dir.path + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(test::fileExists(dir / "bin/mesh_carver"));
    EXPECT_NE(test::readFile(dir / "share/doc/mesh_carver/LICENSE").find("MIT License"),
              std::string::npos);
    std::string notices = test::readFile(dir / "share/doc/mesh_carver/THIRD-PARTY-NOTICES");
    EXPECT_NE(notices.find("The libarchive distribution as a whole is Copyright by Tim Kientzle"),
              std::string::npos);
    EXPECT_NE(notices.find("liblzma is in the public domain"), std::string::npos);
}

}  // namespace
}  // namespace mc
