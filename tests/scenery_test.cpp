// Terrain definitions resolved from a scenery pack and the simulator's libraries.
#include <gtest/gtest.h>

#include <filesystem>

#include "scenery/terrain_library.h"
#include "test_support.h"

namespace mc {
namespace {

void put(const test::TempDir& dir, const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(dir / path).parent_path());
    test::writeFile(dir / path, text);
}

std::string terrainFile(const std::string& lines) {
    return "A\r\n800\r\nTERRAIN\r\n\r\n" + lines;
}

TEST(TerrainLibrary, DefinitionsResolveAsTheSimulatorResolvesThem) {
    test::TempDir dir;
    put(dir, "pack/terrain/ortho.ter", terrainFile("BASE_TEX_NOWRAP ..\\textures\\ortho.dds\n"));
    put(dir, "pack/textures/ortho.dds", "DDS ");
    put(dir, "pack/terrain/plain.ter", terrainFile("NO_ALPHA\n"));
    put(dir, "pack/terrain/lost.ter", terrainFile("BASE_TEX ../textures/lost.png\n"));
    put(dir, "pack/terrain/object.ter", "A\n800\nOBJ\n\nBASE_TEX ../textures/ortho.dds\n");
    // Custom Scenery in scenery_packs.ini's order (Zeta before Alpha, Off disabled), then
    // default scenery by name
    put(dir, "xp/Custom Scenery/scenery_packs.ini",
        "I\n1000 Version\nSCENERY\n\nSCENERY_PACK Custom Scenery/Zeta/\n"
        "SCENERY_PACK_DISABLED Custom Scenery/Off/\nSCENERY_PACK Custom Scenery/Alpha/\n");
    put(dir, "xp/Custom Scenery/Off/library.txt", "EXPORT lib/rock.ter off/rock.ter\n");
    put(dir, "xp/Custom Scenery/Alpha/library.txt",
        "A\n800\nLIBRARY\n\nEXPORT lib/rock.ter alpha/rock.ter\n");
    put(dir, "xp/Custom Scenery/Alpha/alpha/rock.ter", terrainFile("BASE_TEX rock.png\n"));
    put(dir, "xp/Custom Scenery/Alpha/alpha/rock.png", "PNG");
    put(dir, "xp/Custom Scenery/Zeta/library.txt",
        "EXPORT_BACKUP lib/rock.ter zeta/rock.ter\nEXPORT_BACKUP lib/sand.ter zeta/sand.ter\n"
        "EXPORT_EXTEND lib/grass.ter  terrain with spaces/grass.ter \n");
    put(dir, "xp/Custom Scenery/Zeta/zeta/sand.ter", terrainFile("BASE_TEX sand.png\n"));
    put(dir, "xp/Custom Scenery/Zeta/zeta/sand.png", "PNG");
    put(dir, "xp/Custom Scenery/Zeta/terrain with spaces/grass.ter",
        terrainFile("BASE_TEX ../tex/grass.png\nPROJECTED 500 250\n"));
    put(dir, "xp/Custom Scenery/Zeta/tex/grass.png", "PNG");
    put(dir, "xp/Resources/default scenery/b/library.txt", "EXPORT lib/snow.ter snow.ter\n");
    put(dir, "xp/Resources/default scenery/b/snow.ter", terrainFile("BASE_TEX snow.png\n"));
    put(dir, "xp/Resources/default scenery/b/snow.png", "PNG");
    put(dir, "xp/Resources/default scenery/a/library.txt", "EXPORT lib/snow.ter gone.ter\n");

    const std::string pack = tidyPath(dir / "pack"), xp = tidyPath(dir / "xp");
    const struct {
        const char* name;
        const char* definition;
        TerrainLook look;
        std::string texture;  // for a textured look
        bool nowrap;
        double projectedX, projectedY;
        const char* problem;  // a part of the grey look's reason
    } cases[] = {
        {"water", "terrain_Water", TerrainLook::water, "", false, 0, 0, ""},
        {"pack-relative, backslashes", "terrain\\ortho.ter", TerrainLook::textured,
         pack + "/textures/ortho.dds", true, 0, 0, ""},
        {"a .ter without texture", "terrain/plain.ter", TerrainLook::grey, "", false, 0, 0,
         "names no texture"},
        {"a missing texture", "terrain/lost.ter", TerrainLook::grey, "", false, 0, 0,
         "lost.png of "},
        {"not a terrain file", "terrain/object.ter", TerrainLook::grey, "", false, 0, 0,
         "is not a terrain"},
        {"a missing .ter", "terrain/missing.ter", TerrainLook::grey, "", false, 0, 0,
         "neither in the scenery pack"},
        {"the first export, past an earlier backup", "lib/rock.ter", TerrainLook::textured,
         xp + "/Custom Scenery/Alpha/alpha/rock.png", false, 0, 0, ""},
        {"a backup when nothing else exports it", "lib/sand.ter", TerrainLook::textured,
         xp + "/Custom Scenery/Zeta/zeta/sand.png", false, 0, 0, ""},
        {"EXPORT_EXTEND, paths with spaces, projected", "lib/grass.ter", TerrainLook::textured,
         xp + "/Custom Scenery/Zeta/tex/grass.png", false, 500, 250, ""},
        {"default scenery by name: the first export's file is missing", "lib/snow.ter",
         TerrainLook::grey, "", false, 0, 0, "gone.ter cannot be read"},
    };
    for (const auto& c : cases) {
        TerrainLibrary library;
        library.folders = {pack, xp};
        TerrainMaterial m = lookUpTerrain(library, c.definition);
        EXPECT_EQ(m.look, c.look) << c.name << ": " << m.problem;
        EXPECT_EQ(m.texture, c.texture) << c.name;
        EXPECT_EQ(m.nowrap, c.nowrap) << c.name;
        EXPECT_EQ(m.projectedX, c.projectedX) << c.name;
        EXPECT_EQ(m.projectedY, c.projectedY) << c.name;
        EXPECT_NE(m.problem.find(c.problem), std::string::npos) << c.name << ": " << m.problem;
    }
}

TEST(TerrainLibrary, PackFolderIsTheOneAboveEarthNavData) {
    EXPECT_EQ(packFolderOfTile("/x/My Pack/Earth nav data/+40+000/+45+007.dsf", ""), "/x/My Pack");
    EXPECT_EQ(packFolderOfTile("Earth nav data\\+40+000\\+45+007.dsf", ""), ".");
    EXPECT_EQ(packFolderOfTile("pack/Earth nav data/+45+007.dsf", ""), "pack");
    EXPECT_EQ(packFolderOfTile("/x/tiles/+45+007.dsf", ""), "");
    EXPECT_EQ(packFolderOfTile("/x/Earth nav data/+45+007.dsf", "C:\\packs\\mine\\"),
              "C:/packs/mine");
    EXPECT_EQ(tidyPath("a/./b/../../../c//d/"), "../c/d");
    EXPECT_EQ(tidyPath("/a/../../b"), "/b");
}

}  // namespace
}  // namespace mc
