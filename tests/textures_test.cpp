// The Wavefront file's materials: faces grouped by terrain definition, overlays apart, texture
// coordinates from the vertices or projected, and the textured sample pack in the real Blender.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_scenario.h"
#include "test_support.h"

namespace mc {
namespace {

// Lines of the file that start with one of the prefixes, joined with "|".
std::string linesStarting(const std::string& text, std::initializer_list<std::string> prefixes) {
    std::string found;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        std::string line = text.substr(at, end - at);
        for (const std::string& prefix : prefixes) {
            if (line.starts_with(prefix)) found += (found.empty() ? "" : "|") + line;
        }
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return found;
}

TEST(Textures, FacesGroupByTerrainWithTheirCoordinates) {
    const std::string head =
        "PROPERTY sim/west -1\nPROPERTY sim/south -1\nTERRAIN_DEF terrain_Water\n"
        "TERRAIN_DEF a/x.ter\nTERRAIN_DEF b\\x.ter\nTERRAIN_DEF terrain/ground.ter\n";
    const std::string three =
        "PATCH_VERTEX 0 0 1 0 0 0.25 0.75\nPATCH_VERTEX 0.5 0 1 0 0 1 0\n"
        "PATCH_VERTEX 0 0.5 1 0 0 0 1\n";
    auto patch = [&](const char* fields, int type = 2) {
        return "BEGIN_PATCH " + std::string(fields) + "\nBEGIN_PRIMITIVE " + std::to_string(type) +
               "\n" + three + "END_PRIMITIVE\nEND_PATCH\n";
    };
    const struct {
        const char* name;
        std::string tile;
        const char* ter;  // terrain/ground.ter's lines
        std::string objLines, mtlLines;
    } cases[] = {
        {"water, names shared, an overlay, a definition the tile lacks",
         head + patch("0 0 -1 1 5") + patch("1 0 -1 1 5") + patch("2 0 -1 2 5") +
             patch("7 0 -1 1 5") + patch("0 0 -1 1 5"),
         "",
         "mtllib cut.mtl|o cut|usemtl terrain_Water|f 1 2 3|f 1 2 3|usemtl x_1|f 1 2 3|"
         "usemtl definition_7|f 1 2 3|o cut_overlay|usemtl x_2|f 1 2 3",
         "newmtl terrain_Water|newmtl x_1|# grey: a/x.ter is neither in the scenery pack nor "
         "exported by a library (set xplane_folder)|newmtl x_2|# grey: b\\x.ter is neither in the "
         "scenery pack nor exported by a library (set xplane_folder)|newmtl definition_7|"
         "# grey: the tile names no terrain definition 7"},
        {"the vertices' own s and t, depth 7 with BASE_TEX_NOWRAP", head + patch("3 0 -1 1 7", 0),
         "BASE_TEX_NOWRAP ground.png\n",
         "mtllib cut.mtl|o cut|vt 0.250000 0.750000|vt 1.000000 0.000000|vt 0.000000 1.000000|"
         "usemtl ground|f 1/1 2/2 3/3",
         "newmtl ground|map_Kd pack/terrain/ground.png"},
        {"depth 5 has no s and t", head + patch("3 0 -1 1 5"), "BASE_TEX_NOWRAP ground.png\n",
         "mtllib cut.mtl|o cut|usemtl ground|f 1 2 3",
         "newmtl ground|map_Kd pack/terrain/ground.png"},
        {"projected: the tool's metres from the tile's south-west corner",
         head + patch("3 0 -1 1 7", 1), "BASE_TEX ground.png\nPROJECTED 1000 500\n",
         "mtllib cut.mtl|o cut|vt 111.1200 222.2400|vt 166.6800 222.2400|"
         "vt 111.1158 333.3600|usemtl ground|f 1/1 2/2 3/3",
         "newmtl ground|map_Kd pack/terrain/ground.png"},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::filesystem::create_directories(s.dir / "pack/terrain");
        test::writeFile(s.dir / "pack/terrain/ground.ter",
                        std::string("A\n800\nTERRAIN\n\n") + c.ter);
        test::writeFile(s.dir / "pack/terrain/ground.png", "PNG");
        s.extraIni = "wavefront_file=cut.obj\nscenery_folder=pack\n";
        s.carve(c.tile);
        ASSERT_EQ(s.run.status, 0) << c.name;
        EXPECT_EQ(linesStarting(test::readFile(s.dir / "cut.obj"),
                                {"mtllib", "o ", "usemtl", "f ", "vt "}),
                  c.objLines)
            << c.name;
        EXPECT_EQ(linesStarting(test::readFile(s.dir / "cut.mtl"), {"newmtl", "# grey", "map_Kd"}),
                  c.mtlLines)
            << c.name;
    }
}

// The textured sample pack carved from its binary, 7z and text forms, imported by the real
// Blender: its materials, images and UVs, and a top-down render whose colours match the textures.
TEST(Textures, SharedPackLooksRightInBlender) {
    const std::string pack = SOURCE_DIR "/tests/data/textured";
    if (std::system("command -v blender > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "Blender is not installed";
    }
    const std::string tile = "Earth nav data/+40+000/+45+007.dsf";
    for (const char* form : {"binary", "7z", "text"}) {
        Scenario s;
        std::string input = pack + "/pack/" + tile, scenery;
        if (std::string(form) == "7z") {
            std::filesystem::copy(pack + "/pack", s.dir / "pack",
                                  std::filesystem::copy_options::recursive);
            std::string packing = "cd '" + pack + "/pack/Earth nav data/+40+000' && bsdtar -c " +
                                  "--format 7zip -f '" + (s.dir / "packed.7z") + "' +45+007.dsf";
            ASSERT_EQ(std::system(packing.c_str()), 0);
            std::filesystem::copy_file(s.dir / "packed.7z", s.dir / ("pack/" + tile),
                                       std::filesystem::copy_options::overwrite_existing);
            input = s.dir / ("pack/" + tile);
        } else if (std::string(form) == "text") {
            input = pack + "/+45+007.txt";
            scenery = "scenery_folder=" + pack + "/pack\n";
        }
        test::writeFile(
            s.dir / "mesh_carver.ini",
            test::iniText(45.41, 45.59, 7.41, 7.59, input, "out.obj", "999999", "999999") +
                "wavefront_file=cut.obj\nxplane_folder=" + pack + "/xplane\n" + scenery);
        s.run = test::runTool(s.dir.path);
        ASSERT_EQ(s.run.status, 0) << form << s.run.console;
        std::string command = "cd '" + s.dir.path +
                              "' && blender -b --factory-startup -noaudio --python-exit-code 3 "
                              "--python '" SOURCE_DIR
                              "/tests/blender_texture_check.py' -- cut.obj '" +
                              s.dir.path + "' > blender.log 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0)
            << form << ": " << test::readFile(s.dir / "blender.log");
    }
}

// The Blender add-on, installed from its zip into a fresh user folder: one import carves the
// textured sample pack and brings it in textured; failures report and import nothing. Lowered in
// part, the terrain goes back into a new tile through the export, and comes in from it again;
// the export's refusals write nothing.
TEST(Textures, BlenderAddonImportsAWindowInOneStep) {
    const std::string pack = SOURCE_DIR "/tests/data/textured";
    if (std::system("command -v blender > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "Blender is not installed";
    }
    const std::string tile = pack + "/pack/Earth nav data/+40+000/+45+007.dsf";
    Scenario s;  // the console's origin line, from a run of the tool itself
    test::writeFile(s.dir / "mesh_carver.ini",
                    test::iniText(45.41, 45.59, 7.41, 7.59, tile, "out.obj", "99999", "99999"));
    s.run = test::runTool(s.dir.path);
    ASSERT_EQ(s.run.status, 0);
    std::string console = s.run.console.substr(0, s.run.console.size() - 2);
    std::string originLine = console.substr(console.rfind("\r\n") + 2);
    test::writeFile(s.dir / "old_tool", "#!/bin/sh\necho 'mesh_carver 1.1.0'\n");
    std::filesystem::permissions(s.dir / "old_tool", std::filesystem::perms::owner_all);
    std::string command =
        "cd '" + s.dir.path + "' && BLENDER_USER_SCRIPTS='" + s.dir.path +
        "/scripts' BLENDER_USER_CONFIG='" + s.dir.path +
        "/config' blender -b --factory-startup -noaudio --python-exit-code 3 --python '" SOURCE_DIR
        "/tests/blender_addon_check.py' -- '" BUILD_DIR "/mesh_carver-" MESH_CARVER_VERSION
        "-blender-addon.zip' '" MESH_CARVER_EXE "' '" +
        tile + "' '" + pack + "/xplane' '" + originLine + "' '" + s.dir.path + "/old_tool' '" +
        s.dir.path + "/new.dsf' > blender.log 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << test::readFile(s.dir / "blender.log");
}

}  // namespace
}  // namespace mc
