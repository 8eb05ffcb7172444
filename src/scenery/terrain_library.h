// Terrain definitions resolved as the simulator resolves them: a path is first a file of the
// tile's own scenery pack, then an export of the libraries in the simulator's folder; its .ter
// file names the texture and how it lies on the ground.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mc {

constexpr std::string_view WATER_TERRAIN = "terrain_Water";

/// Where definitions are looked up, as platform paths; empty when not known.
struct SceneryFolders {
    std::string pack;    // the tile's scenery pack
    std::string xplane;  // the simulator's folder
};

/// The scenery pack a tile belongs to: `configured` when the ini names one, else the folder
/// above the "Earth nav data" folder the tile sits in, else none.
std::string packFolderOfTile(const std::string& tilePath, const std::string& configured);

enum class TerrainLook { water, textured, grey };

/// How a terrain definition looks in a modelling program.
struct TerrainMaterial {
    TerrainLook look = TerrainLook::grey;
    std::string texture;    // the image, a platform path with "/" (textured looks)
    bool nowrap = false;    // BASE_TEX_NOWRAP: the mesh brings its own s and t
    double projectedX = 0;  // PROJECTED: the metres east one repeat covers; 0 when not
    double projectedY = 0;  // and north
    std::string problem;    // a grey look's reason: which file and why
};

/// One EXPORT line of a library: a virtual path and the file it stands for.
struct LibraryExport {
    std::string virtualPath;
    std::string file;  // platform path with "/"
    bool backup;       // EXPORT_BACKUP: used only when nothing else exports the path
};

/// The libraries' exports, read from the simulator's folder when first needed.
struct TerrainLibrary {
    SceneryFolders folders;
    bool librariesRead = false;
    std::vector<LibraryExport> exports;
};

/// Resolves one definition; never fails: what does not resolve gets a grey look and the reason.
TerrainMaterial lookUpTerrain(TerrainLibrary& library, std::string_view definition);

/// The libraries of the simulator's folder, in the order it reads them: Custom Scenery's packs
/// (in scenery_packs.ini's order when that file exists, else by name), then default scenery's.
std::vector<LibraryExport> readLibraries(const std::string& xplaneFolder);

/// A path with "/" only, "." and "folder/.." steps taken out.
std::string tidyPath(std::string_view path);

}  // namespace mc
