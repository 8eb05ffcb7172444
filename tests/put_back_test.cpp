// End-to-end runs of mesh_carver put-back: edited cuts go back into their tile (every form), the
// untouched ones change no triangle, bad edits and bad inputs are refused with nothing written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "run_scenario.h"
#include "test_support.h"
#include "text/numbers.h"

namespace mc {
namespace {

const std::string DSF = SOURCE_DIR "/tests/data/dsf/";
const std::string EDITS = SOURCE_DIR "/tests/data/put_back/";
const std::string PACK = SOURCE_DIR "/tests/data/textured/";

// A window and the files of a put-back, as the ini names them.
struct PutBack {
    double window[4];  // lat_min, lat_max, long_min, long_max
    std::string input, wavefront, output = "out.dsf";
    std::string extra = {};  // more ini lines
};

std::string putBackIni(const PutBack& p) {
    std::ostringstream ini;
    ini.precision(17);
    ini << "[mesh_carver]\nlat_min=" << p.window[0] << "\nlat_max=" << p.window[1]
        << "\nlong_min=" << p.window[2] << "\nlong_max=" << p.window[3]
        << "\ninput_file=" << p.input << "\nwavefront_file=" << p.wavefront
        << "\noutput_tile=" << p.output << "\n"
        << p.extra;
    return ini.str();
}

test::ToolRun putBackIn(const test::TempDir& dir, const PutBack& p) {
    test::writeFile(dir / "mesh_carver.ini", putBackIni(p));
    return test::runTool(dir.path, "", "put-back");
}

size_t countMissing(const std::multiset<std::vector<std::string>>& from,
                    const std::multiset<std::vector<std::string>>& in) {
    std::vector<std::vector<std::string>> missing;
    std::set_difference(from.begin(), from.end(), in.begin(), in.end(),
                        std::back_inserter(missing));
    return missing.size();
}

// The whole tile's triangles, carved from every block it holds.
std::multiset<std::vector<std::string>> wholeTile(const std::string& path) {
    Carve carve = carveFile(path, -90, 90, -180, 180);
    EXPECT_EQ(carve.status, 0) << path << carve.console;
    return trianglesOf(carve.object);
}

const double SAMPLE_WINDOW[4] = {45.505, 45.545, 7.505, 7.545};

// The put-back samples (Blender's exports of one cut of tin_small) from each form of the tile:
// the untouched export leaves the tile as it was; the edited one gives back 59 of the cut's 119
// triangles as they were, which stay in their primitives, takes out the other 60 and puts in 84;
// binary and 7z give the same bytes, and the text form's tile carves as the binary's does.
TEST(PutBack, BlenderExportsGoBackIntoEveryForm) {
    const auto original = wholeTile(DSF + "tin_small.dsf");
    std::map<std::string, std::string> tiles;  // form and edit -> the tile written
    for (const char* edit : {"none", "edit"}) {
        for (const char* form : {"tin_small.dsf", "tin_small.7z.dsf", "tin_small.txt"}) {
            test::TempDir dir;
            test::ToolRun run = putBackIn(
                dir,
                {{45.505, 45.545, 7.505, 7.545}, DSF + form, EDITS + "edited_" + edit + ".obj"});
            std::string label = std::string(form) + " " + edit;
            ASSERT_EQ(run.status, 0) << label << run.console << run.errors;
            bool edited = std::string(edit) == "edit";
            EXPECT_TRUE(run.console.ends_with(
                edited ? "\r\nWriting output tile\r\n\r\nTile written: out.dsf\r\n60 "
                         "triangles out, 84 triangles in, 31 new points\r\n"
                       : "\r\nNothing changed: out.dsf is the tile as it was\r\n0 triangles "
                         "out, 0 triangles in, 0 new points\r\n"))
                << label << run.console;
            // untouched: the input's own bytes, a 7z tile still 7z
            if (!edited) {
                EXPECT_EQ(test::readFile(dir / "out.dsf"), test::readFile(DSF + form));
            }
            const auto written = wholeTile(dir / "out.dsf");
            // 59 of the cut's triangles stay as they were; 12 pokes turn 12 into 36
            EXPECT_EQ(countMissing(original, written), edited ? 60u : 0u) << label;
            EXPECT_EQ(countMissing(written, original), edited ? 84u : 0u) << label;
            tiles[label] = test::readFile(dir / "out.dsf");
            test::writeFile(dir / "carved.dsf", tiles[label]);
            tiles[label + " carved"] = carveFile(dir / "carved.dsf", 45, 46, 7, 8).object;
        }
        std::string e = std::string(" ") + edit;
        if (*edit == 'e') {
            EXPECT_EQ(tiles["tin_small.dsf" + e], tiles["tin_small.7z.dsf" + e]);
        }
        EXPECT_EQ(tiles["tin_small.dsf" + e + " carved"], tiles["tin_small.txt" + e + " carved"]);
    }
}

// A tile written over its input: an untouched cut leaves it as it was, with no original kept;
// an edit keeps the original once beside it, never overwritten by a later put-back, and the tile
// is replaced whole.
TEST(PutBack, ATileWrittenOverItsInputKeepsTheOriginalOnce) {
    for (const char* form : {"tin_small.dsf", "tin_small.txt"}) {
        test::TempDir dir;
        const std::string original = test::readFile(DSF + form);
        test::writeFile(dir / form, original);
        const std::string kept = dir / (std::string(form) + ".original");
        for (const char* edit : {"none", "edit", "none"}) {
            test::ToolRun run = putBackIn(
                dir,
                {{45.505, 45.545, 7.505, 7.545}, form, EDITS + "edited_" + edit + ".obj", form});
            ASSERT_EQ(run.status, 0) << form << run.console << run.errors;
            if (!test::fileExists(kept)) {
                EXPECT_EQ(test::readFile(dir / form), original) << form << " " << edit;
                continue;
            }
            EXPECT_EQ(test::readFile(kept), original) << form << " " << edit;
            if (*edit == 'e') {
                EXPECT_EQ(countMissing(wholeTile(dir / form), wholeTile(DSF + form)), 84u) << form;
            }
        }
        EXPECT_TRUE(test::fileExists(kept)) << form;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
            std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == form || name == std::string(form) + ".original" ||
                        name == std::string(form) + ".lock" || name == "mesh_carver.ini" ||
                        name == "mesh_carver.tmp")
                << form << ": " << name << " left over";
        }
    }
}

// The edited sample carved again from the new tile, its origin the same vertex as before (the
// edit stays below it): every vertex of the new cut is where Blender put one, within the new
// pools' steps (1.9e-6 degree across, 1/128 m up), and the other way round.
TEST(PutBack, TheEditedSurfaceCarvesAgainAsEdited) {
    Scenario s;
    ASSERT_EQ(putBackIn(s.dir, {{45.505, 45.545, 7.505, 7.545},
                                DSF + "tin_small.dsf",
                                EDITS + "edited_edit.obj"})
                  .status,
              0);
    test::writeFile(
        s.dir / "mesh_carver.ini",
        test::iniText(45.505, 45.545, 7.505, 7.545, "out.dsf", "again.obj", "99999", "99999") +
            "wavefront_file=again_cut.obj\n");
    s.run = test::runTool(s.dir.path);
    ASSERT_EQ(s.run.status, 0);
    const std::string origin = "PATCH_VERTEX 7.499448768 45.517246509 1541.000000000";
    ASSERT_NE(s.run.console.find(origin), std::string::npos) << s.run.console;
    auto edited = wavefrontVertices(EDITS + "edited_edit.obj");
    auto again = wavefrontVertices(s.dir / "again_cut.obj");
    EXPECT_EQ(again.size(), edited.size());
    auto nearest = [](const std::array<double, 3>& p,
                      const std::vector<std::array<double, 3>>& in) {
        std::array<double, 2> best{INFINITY, INFINITY};
        for (const auto& q : in) {
            double across = std::hypot(p[0] - q[0], p[2] - q[2]);
            if (across < best[0]) best = {across, std::fabs(p[1] - q[1])};
        }
        return best;
    };
    for (const auto& [from, to] : {std::pair{&edited, &again}, std::pair{&again, &edited}}) {
        for (const auto& p : *from) {
            auto [across, up] = nearest(p, *to);
            EXPECT_LT(across, 0.15) << p[0] << " " << p[1] << " " << p[2];
            EXPECT_LT(up, 0.01) << p[0] << " " << p[1] << " " << p[2];
        }
    }
    EXPECT_EQ(trianglesOf(test::readFile(s.dir / "again.obj")).size(), 143u);
}

// New triangles chain into strips: a window whose inside was raised, put back and carved
// again, has hardly more vertex lines than it had (as lists it had 1.9 times as many).
TEST(PutBack, NewTrianglesGoInAsStrips) {
    Scenario s;
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(45.505, 45.545, 7.505, 7.545, DSF + "tin_small.dsf", "before.obj",
                                  "99999", "99999") +
                        "wavefront_file=cut.obj\n");
    ASSERT_EQ(test::runTool(s.dir.path).status, 0);
    test::writeFile(s.dir / "raised.obj", raisedInside(test::readFile(s.dir / "cut.obj"), -5));
    std::filesystem::copy(s.dir / "cut.mtl", s.dir / "raised.mtl");
    ASSERT_EQ(
        putBackIn(s.dir, {{45.505, 45.545, 7.505, 7.545}, DSF + "tin_small.dsf", "raised.obj"})
            .status,
        0);
    Carve again = carveFile(s.dir / "out.dsf", 45.505, 45.545, 7.505, 7.545);
    auto vertexLines = [](const std::string& object) {
        size_t count = 0;
        for (size_t at = 0; (at = object.find("\nVT ", at)) != std::string::npos; ++at) ++count;
        return count;
    };
    EXPECT_LE(double(vertexLines(again.object)),
              1.2 * double(vertexLines(test::readFile(s.dir / "before.obj"))));
}

// The tool's own Wavefront file put back as it was, for every sample tile and a window inside
// it (clipped along its edges or not) and one around it: the tile's triangles come back, value for
// value, wound as they were (the random mesh has triangles facing down). The textured pack's window
// holds an overlay.
TEST(PutBack, AnUntouchedCutChangesNoTriangleOfAnyTile) {
    const std::string rasterText = DSF + "raster_small.txt";
    const std::vector<std::string> tiles = {DSF + "tiny.dsf",
                                            DSF + "mesh_small.txt",
                                            DSF + "ranges.dsf",
                                            DSF + "raster_small.dsf",
                                            rasterText,
                                            DSF + "tin_small.7z.dsf",
                                            DSF + "overlay_only.dsf",
                                            PACK + "pack/Earth nav data/+40+000/+45+007.dsf"};
    for (const std::string& tile : tiles) {
        for (const auto& [window, clip] :
             {std::pair{std::array<double, 4>{45.3, 45.6, 7.2, 7.7}, ""},
              std::pair{std::array<double, 4>{45, 46, 7, 8}, ""},
              std::pair{std::array<double, 4>{45.3, 45.6, 7.2, 7.7}, "clip=1\n"}}) {
            Scenario s;
            std::string input = tile;
            if (tile == rasterText) {  // its side file beside it, and beside the new tile
                std::filesystem::copy(tile, s.dir / "raster.txt");
                std::filesystem::copy(tile + ".elevation.raw",
                                      s.dir / "raster_small.txt.elevation.raw");
                input = "raster.txt";
            }
            test::writeFile(s.dir / "mesh_carver.ini",
                            test::iniText(window[0], window[1], window[2], window[3], input,
                                          "out.obj", "999999", "999999") +
                                "wavefront_file=cut.obj\n" + clip);
            ASSERT_EQ(test::runTool(s.dir.path).status, 0) << tile;
            test::ToolRun run = putBackIn(
                s.dir,
                {{window[0], window[1], window[2], window[3]}, input, "cut.obj", "back.txt", clip});
            std::string label = tile + " " + std::to_string(window[0]) + " " + clip;
            if (tile.ends_with("overlay_only.dsf")) {  // no terrain: refused
                EXPECT_EQ(run.status, 255) << label;
                EXPECT_EQ(run.errors.find("mesh_carver: no terrain triangle"), 0u) << run.errors;
                continue;
            }
            ASSERT_EQ(run.status, 0) << label << run.console << run.errors;
            std::string original = input.starts_with("/") ? input : s.dir / input;
            EXPECT_EQ(wholeTile(s.dir / "back.txt"), wholeTile(original)) << label;
        }
    }
}

// Every way a put-back is refused: one line, its reason, status 255, and no tile written.
TEST(PutBack, BadEditsAndInputsAreRefusedAndNothingIsWritten) {
    const std::string cut = test::readFile(EDITS + "cut_blender.obj");
    const std::string none = test::readFile(EDITS + "edited_none.obj");
    // one interior vertex of the untouched export moved 3 km east: its faces fold over
    std::string folded = replaced(none, "\nv 2942.014160 ", "\nv 5942.014160 ");
    std::string withoutFace = none;
    withoutFace.erase(
        withoutFace.find("\nf ") + 1,
        withoutFace.find('\n', withoutFace.find("\nf ") + 1) - withoutFace.find("\nf "));
    const std::string reading = "Error reading Wavefront file edited.obj\r\n";
    const std::string fitting = "Error fitting Wavefront file edited.obj into the tile\r\n";
    const struct {
        const char* name;
        std::string edited;  // the file's bytes; empty: no file
        std::string line;    // the console's last line
        std::string reason;  // in part
        double latMin = 45.505;
        std::string output = "out.dsf";
        const char* leftOut = "";  // an ini key left out
    } cases[] = {
        {"no file", "", reading, "cannot open edited.obj: No such file or directory"},
        {"not a Wavefront file", "hello world\n", reading,
         "line 1: 'hello' is no Wavefront statement: this is not a Wavefront OBJ file"},
        {"a NUL byte", std::string("v 1 2 3\0\n", 9), reading, "line 1: it holds a NUL byte"},
        {"a face naming a missing vertex", cut + "f 1 2 99\n", reading,
         "a face names vertex 99, but the file has 75 before it"},
        {"a material the cut lacks", replaced(cut, "usemtl grass", "usemtl rock"), reading,
         "the material 'rock' is no terrain definition of the cut (it has grass)"},
        {"not a number", replaced(cut, "v 2055.6749 -116.0000", "v 2055.6749 nan"), reading,
         "line 6: 'nan' is not a number"},
        {"an infinite value", replaced(cut, "v 2055.6749 -116.0000", "v 2055.6749 1e999"), reading,
         "line 6: 1e999 is not a finite number"},
        {"no face", "v 1 2 3\n", reading, "has no face outside its overlay objects"},
        {"a face without a material", replaced(cut, "usemtl grass", "s 0"), reading,
         "a face has no material (no usemtl before it)"},
        {"a face of two corners", cut + "f 1 2\n", reading, "a face has fewer than three corners"},
        {"an edge vertex raised", test::readFile(EDITS + "edited_border.obj"), fitting,
         "the vertex at 7.525830 45.500698 on the cut's edge was moved 5.00 m up"},
        {"a face folded over", folded, fitting, "faces down: seen from above it turns clockwise"},
        {"a face taken out", withoutFace, fitting, "the faces leave a hole there"},
        {"no terrain in the window", none, "No terrain in the window to put back into\r\n",
         "nothing to put back into", 45.54},
        {"an output in no folder", none, "Error writing output tile no/dir/out.dsf\r\n",
         "cannot lock no/dir/out.dsf.lock: No such file or directory", 45.505, "no/dir/out.dsf"},
        {"no output_tile", none, "Error reading output_tile in ini file\r\n",
         "no value for output_tile", 45.505, "out.dsf", "output_tile"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        if (!c.edited.empty()) test::writeFile(dir / "edited.obj", c.edited);
        double window[4] = {c.latMin, c.latMin + 0.0001 + (c.latMin == 45.505 ? 0.04 : 0), 7.505,
                            7.545};
        if (c.latMin == 45.54) window[1] = 45.5401, window[2] = 7.6999, window[3] = 7.7;
        std::string ini = putBackIni({{window[0], window[1], window[2], window[3]},
                                      DSF + "tin_small.dsf",
                                      "edited.obj",
                                      c.output});
        if (*c.leftOut) ini = replaced(ini, std::string(c.leftOut) + "=" + c.output + "\n", "");
        test::writeFile(dir / "mesh_carver.ini", ini);
        test::ToolRun run = test::runTool(dir.path, "", "put-back");
        EXPECT_EQ(run.status, 255) << c.name;
        EXPECT_TRUE(run.console.ends_with(c.line)) << c.name << ": " << run.console;
        EXPECT_NE(run.errors.find(c.reason), std::string::npos) << c.name << ": " << run.errors;
        EXPECT_FALSE(test::fileExists(dir / "out.dsf")) << c.name;
    }
}

// The elevations of the overlay patches' vertices of a text tile, in order.
std::vector<double> overlayHeights(const std::string& tile) {
    std::vector<double> heights;
    std::istringstream in(tile);
    bool overlay = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("BEGIN_PATCH"))
            overlay = (std::stoi(line.substr(line.rfind(' ', line.rfind(' ') - 1))) & 2) != 0;
        if (!overlay || !line.starts_with("PATCH_VERTEX ")) continue;
        std::istringstream fields(line.substr(13));
        double lon, lat, elevation;
        fields >> lon >> lat >> elevation;
        heights.push_back(elevation);
    }
    return heights;
}

// The textured pack's lake, its inside raised 20 m: the orthophoto overlay over it follows the
// new ground (each of its vertices on the raised part 20 m up, the others as they were), in the
// text form and the binary alike.
TEST(PutBack, OverlaysFollowTheNewGround) {
    Scenario s;
    const std::string text = PACK + "+45+007.txt";
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(45.54, 45.58, 7.44, 7.48, text, "out.obj", "99999", "99999") +
                        "wavefront_file=cut.obj\n");
    ASSERT_EQ(test::runTool(s.dir.path).status, 0);
    test::writeFile(s.dir / "raised.obj", raisedInside(test::readFile(s.dir / "cut.obj"), 20));
    std::string binary = PACK + "pack/Earth nav data/+40+000/+45+007.dsf";
    for (const auto& [input, output] : {std::pair{text, "raised.txt"}, {binary, "raised.dsf"}}) {
        test::ToolRun run =
            putBackIn(s.dir, {{45.54, 45.58, 7.44, 7.48}, input, "raised.obj", output});
        ASSERT_EQ(run.status, 0) << run.errors;
    }
    std::vector<double> before = overlayHeights(test::readFile(text));
    std::vector<double> after = overlayHeights(test::readFile(s.dir / "raised.txt"));
    ASSERT_EQ(after.size(), before.size());
    size_t followed = 0;
    for (size_t k = 0; k < before.size(); ++k) {
        double moved = after[k] - before[k];
        EXPECT_TRUE(moved == 0 || std::fabs(moved - 20) < 1.0 / 128) << k << ": " << moved;
        followed += moved != 0;
    }
    EXPECT_GT(followed, 200u);
    EXPECT_EQ(carveFile(s.dir / "raised.dsf", 45, 46, 7, 8).object,
              carveFile(s.dir / "raised.txt", 45, 46, 7, 8).object);
}

// The file with its faces replaced: every other line kept, the faces after them.
std::string withFaces(const std::string& obj, const std::vector<std::string>& faces) {
    std::istringstream in(obj);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("f ")) out += line + "\n";
    }
    for (const std::string& face : faces) out += face + "\n";
    return out;
}

// Edits Blender and other modellers make without changing the ground: quads (two of the cut's
// triangles joined), numbered material names, CR LF line ends, indices counted from the end, an
// overlay object of any faces, faces from another corner in another order. Each goes back with
// every vertex an original point, and but for the quad changes nothing: the tile's own bytes.
TEST(PutBack, ModellersWaysOfWritingTheSameGroundAreTakenAsIt) {
    const std::string none = test::readFile(EDITS + "edited_none.obj");
    auto faces = facesOf(none);
    std::vector<std::string> quads, fromTheEnd, turned;
    int vertices = int(wavefrontVertices(EDITS + "edited_none.obj").size());
    // every face from its second corner, the faces in the reverse order
    for (auto face = faces.rbegin(); face != faces.rend(); ++face) {
        turned.push_back("f " + std::to_string((*face)[1]) + " " + std::to_string((*face)[2]) +
                         " " + std::to_string((*face)[0]));
    }
    for (const auto& face : faces) {
        fromTheEnd.push_back("f " + std::to_string(face[0] - vertices - 1) + " " +
                             std::to_string(face[1] - vertices - 1) + " " +
                             std::to_string(face[2] - vertices - 1));
    }
    // the faces, with the first two that share an edge (p q in one, q p in the other) joined
    std::vector<bool> joined(faces.size(), false);
    for (size_t a = 0; a < faces.size(); ++a) {
        for (size_t b = a + 1; b < faces.size() && !joined[a]; ++b) {
            for (int k = 0; k < 3 && !joined[a] && quads.empty(); ++k) {
                int p = faces[a][k], q = faces[a][(k + 1) % 3], r = faces[a][(k + 2) % 3];
                for (int j = 0; j < 3; ++j) {
                    if (faces[b][j] != q || faces[b][(j + 1) % 3] != p) continue;
                    int d = faces[b][(j + 2) % 3];
                    quads.push_back("f " + std::to_string(p) + " " + std::to_string(d) + " " +
                                    std::to_string(q) + " " + std::to_string(r));
                    joined[a] = joined[b] = true;
                }
            }
        }
        if (!joined[a]) {
            quads.push_back("f " + std::to_string(faces[a][0]) + " " + std::to_string(faces[a][1]) +
                            " " + std::to_string(faces[a][2]));
        }
    }
    std::string crlf = none;
    for (size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2) {
        crlf.insert(at, "\r");
    }
    const struct {
        const char* name;
        std::string edited;
    } cases[] = {
        {"a quad", withFaces(none, quads)},
        {"a numbered material", replaced(none, "usemtl grass", "usemtl grass.001")},
        {"CR LF line ends", crlf},
        {"indices from the end", withFaces(none, fromTheEnd)},
        {"an overlay object of any faces", none + "o cut_blender_overlay\nf 1 2 3\n"},
        {"faces from another corner, in another order", withFaces(none, turned)},
    };
    ASSERT_EQ(quads.size(), faces.size() - 1);
    for (const auto& c : cases) {
        test::TempDir dir;
        test::writeFile(dir / "edited.obj", c.edited);
        test::ToolRun run =
            putBackIn(dir, {{45.505, 45.545, 7.505, 7.545}, DSF + "tin_small.dsf", "edited.obj"});
        EXPECT_EQ(run.status, 0) << c.name << ": " << run.errors;
        EXPECT_NE(run.console.find(" 0 new points"), std::string::npos)
            << c.name << ": " << run.console;
        // the same ground: nothing changed (a quad may be cut along its other diagonal)
        if (std::string(c.name) == "a quad") continue;
        EXPECT_NE(run.console.find("Nothing changed: out.dsf"), std::string::npos) << c.name;
        EXPECT_EQ(test::readFile(dir / "out.dsf"), test::readFile(DSF + "tin_small.dsf")) << c.name;
    }
}

// The round trip through the real Blender: the tool's cut imported, its inside raised 10 m with
// bmesh, exported by Blender's own exporter, put back, and carved again: every vertex of the new
// cut is one of the old cut's, where it was or 10 m higher.
TEST(PutBack, BlenderEditsGoBackAndCarveAgain) {
    if (std::system("command -v blender > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "Blender is not installed";
    }
    Scenario s;
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(45.505, 45.545, 7.505, 7.545, DSF + "tin_small.dsf", "out.obj",
                                  "99999", "99999") +
                        "wavefront_file=cut.obj\n");
    ASSERT_EQ(test::runTool(s.dir.path).status, 0);
    std::string command = "cd '" + s.dir.path +
                          "' && blender -b --factory-startup -noaudio --python-exit-code 3 "
                          "--python '" SOURCE_DIR
                          "/tests/blender_edit_check.py' -- cut.obj edited.obj 10 > blender.log "
                          "2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << test::readFile(s.dir / "blender.log");
    test::ToolRun run =
        putBackIn(s.dir, {{45.505, 45.545, 7.505, 7.545}, DSF + "tin_small.dsf", "edited.obj"});
    ASSERT_EQ(run.status, 0) << run.errors;
    test::writeFile(
        s.dir / "mesh_carver.ini",
        test::iniText(45.505, 45.545, 7.505, 7.545, "out.dsf", "out.obj", "99999", "99999") +
            "wavefront_file=again.obj\n");
    ASSERT_EQ(test::runTool(s.dir.path).status, 0);
    auto before = wavefrontVertices(s.dir / "cut.obj");
    auto after = wavefrontVertices(s.dir / "again.obj");
    ASSERT_EQ(after.size(), before.size());
    size_t raised = 0;
    for (const auto& p : after) {
        double best = INFINITY, lift = 0;
        for (const auto& q : before) {
            double across = std::hypot(p[0] - q[0], p[2] - q[2]);
            if (across < best) best = across, lift = p[1] - q[1];
        }
        EXPECT_LT(best, 0.15);
        EXPECT_TRUE(std::fabs(lift) < 0.01 || std::fabs(lift - 10) < 0.01) << lift;
        raised += std::fabs(lift - 10) < 0.01;
    }
    EXPECT_EQ(raised, 46u);
}

}  // namespace
}  // namespace mc
