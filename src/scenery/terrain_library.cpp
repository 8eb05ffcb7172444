// Terrain definitions resolved as the simulator resolves them: pack files, then libraries.
#include "scenery/terrain_library.h"

#include "platform/file_names.h"
#include "platform/platform.h"
#include "text/line_reader.h"
#include "text/numbers.h"

namespace mc {

namespace {

constexpr std::string_view EARTH_NAV_DATA = "Earth nav data";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The first word of a line and the rest, both without surrounding blanks: paths may hold spaces.
struct Words {
    std::string_view first, rest;
};
Words firstWord(std::string_view line) {
    line = trimmed(line);
    size_t end = 0;
    while (end < line.size() && !isBlank(line[end])) ++end;
    return {line.substr(0, end), trimmed(line.substr(end))};
}

// Calls `use` with every line of a small text file (the tool's own line rule); false when it
// cannot be read.
template <typename Use>
bool readLines(const std::string& path, Use use) {
    constexpr size_t SMALL_FILE_BLOCK = 64 << 10;
    LineReader reader;
    if (!openForReading(reader, path, SMALL_FILE_BLOCK)) return false;
    while (!atEnd(reader)) use(readLine(reader));
    bool read = !reader.readFailed;
    closeReader(reader);
    return read;
}

bool isReadableFile(const std::string& path) {
    char first;
    size_t got = 0;
    return readFileStart(path, &first, 1, got);
}

std::string joined(const std::string& folder, std::string_view relative) {
    std::string tidy = tidyPath(relative);
    if (isAbsolutePath(tidy) || folder.empty()) return tidy;
    return tidyPath(folder + "/" + tidy);
}

void readLibrary(const std::string& packFolder, std::vector<LibraryExport>& exports) {
    readLines(packFolder + "/library.txt", [&](std::string_view line) {
        Words command = firstWord(line);
        bool backup = command.first == "EXPORT_BACKUP";
        if (!backup && command.first != "EXPORT" && command.first != "EXPORT_EXTEND" &&
            command.first != "EXPORT_EXCLUDE") {
            return;
        }
        Words paths = firstWord(command.rest);
        if (paths.first.empty() || paths.rest.empty()) return;
        exports.push_back({tidyPath(paths.first), joined(packFolder, paths.rest), backup});
    });
}

// "SCENERY_PACK Custom Scenery/Name/" lines, in order; disabled packs are left out.
std::vector<std::string> listedPacks(const std::string& xplaneFolder, bool& listFound) {
    std::vector<std::string> packs;
    listFound =
        readLines(xplaneFolder + "/Custom Scenery/scenery_packs.ini", [&](std::string_view line) {
            Words entry = firstWord(line);
            if (entry.first != "SCENERY_PACK" || entry.rest.empty()) return;
            std::string folder = joined(xplaneFolder, entry.rest);
            while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
            packs.push_back(folder);
        });
    return packs;
}

// The .ter file's texture and projection, or the reason it gives none.
TerrainMaterial readTerrainFile(const std::string& path) {
    TerrainMaterial m;
    std::string texture;
    int line = 0;
    bool terrainFile = false;
    bool readable = readLines(path, [&](std::string_view text) {
        Words words = firstWord(text);
        if (++line == 3) terrainFile = words.first == "TERRAIN";
        if (words.first == "BASE_TEX" || words.first == "BASE_TEX_NOWRAP") {
            texture = std::string(words.rest);
            m.nowrap = words.first == "BASE_TEX_NOWRAP";
        } else if (words.first == "PROJECTED") {
            Words x = firstWord(words.rest);
            m.projectedX = parseNumber(x.first);
            m.projectedY = parseNumber(firstWord(x.rest).first);
        }
    });
    if (!readable) {
        m.problem = path + " cannot be read";
    } else if (!terrainFile) {
        m.problem = path + " is not a terrain (.ter) file";
    } else if (texture.empty()) {
        m.problem = path + " names no texture";
    } else if (m.texture = joined(folderOf(path), texture); !isReadableFile(m.texture)) {
        m.problem = "the texture " + m.texture + " of " + path + " is not there";
    } else {
        m.look = TerrainLook::textured;
        if (!(m.projectedX > 0 && m.projectedY > 0)) m.projectedX = m.projectedY = 0;
        return m;
    }
    return TerrainMaterial{TerrainLook::grey, {}, false, 0, 0, m.problem};
}

// The library file of the first export of the path, then of the first backup export.
const LibraryExport* findExport(const std::vector<LibraryExport>& exports, std::string_view path) {
    const LibraryExport* backup = nullptr;
    for (const LibraryExport& e : exports) {
        if (e.virtualPath != path) continue;
        if (!e.backup) return &e;
        if (!backup) backup = &e;
    }
    return backup;
}

}  // namespace

std::string tidyPath(std::string_view path) {
    std::string text(path);
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    // a root ("/", "C:/") stays; "." steps go; a ".." step takes the folder before it
    size_t rootLength = text.starts_with('/') ? 1 : 0;
    if (text.size() >= 3 && text[1] == ':' && text[2] == '/') rootLength = 3;
    std::vector<std::string_view> steps;
    std::string_view rest = std::string_view(text).substr(rootLength);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view step = rest.substr(0, slash);
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        if (step.empty() || step == ".") continue;
        if (step == ".." && !steps.empty() && steps.back() != "..") {
            steps.pop_back();
        } else if (step != ".." || rootLength == 0) {
            steps.push_back(step);
        }
    }
    std::string tidy = text.substr(0, rootLength);
    for (size_t k = 0; k < steps.size(); ++k) {
        if (k > 0) tidy += '/';
        tidy += steps[k];
    }
    return tidy.empty() ? std::string(".") : tidy;
}

std::string packFolderOfTile(const std::string& tilePath, const std::string& configured) {
    if (!configured.empty()) return tidyPath(configured);
    std::string tile = tidyPath(tilePath);
    for (size_t at = tile.rfind('/'); at != std::string::npos && at > 0;
         at = tile.rfind('/', at - 1)) {
        size_t start = tile.rfind('/', at - 1);
        start = start == std::string::npos ? 0 : start + 1;
        if (std::string_view(tile).substr(start, at - start) == EARTH_NAV_DATA) {
            return start == 0 ? std::string(".") : tile.substr(0, start - 1);
        }
    }
    return {};
}

std::vector<LibraryExport> readLibraries(const std::string& xplaneFolder) {
    std::vector<LibraryExport> exports;
    bool listFound = false;
    std::vector<std::string> packs = listedPacks(xplaneFolder, listFound);
    if (!listFound) {
        const std::string custom = xplaneFolder + "/Custom Scenery";
        for (const std::string& name : subfolderNames(custom)) packs.push_back(custom + "/" + name);
    }
    const std::string defaults = xplaneFolder + "/Resources/default scenery";
    for (const std::string& name : subfolderNames(defaults)) packs.push_back(defaults + "/" + name);
    for (const std::string& pack : packs) readLibrary(pack, exports);
    return exports;
}

TerrainMaterial lookUpTerrain(TerrainLibrary& library, std::string_view definition) {
    if (definition == WATER_TERRAIN) {
        TerrainMaterial water;
        water.look = TerrainLook::water;
        return water;
    }
    const std::string path = tidyPath(definition);
    const SceneryFolders& folders = library.folders;
    if (!folders.pack.empty()) {
        std::string inPack = joined(folders.pack, path);
        if (isReadableFile(inPack)) return readTerrainFile(inPack);
    }
    if (!folders.xplane.empty()) {
        if (!library.librariesRead) {
            library.exports = readLibraries(folders.xplane);
            library.librariesRead = true;
        }
        if (const LibraryExport* e = findExport(library.exports, path)) {
            return readTerrainFile(e->file);
        }
    }
    TerrainMaterial grey;
    grey.problem = std::string(definition) + " is neither in the scenery pack" +
                   (folders.pack.empty() ? " (none known: set scenery_folder)" : "") +
                   " nor exported by a library" +
                   (folders.xplane.empty() ? " (set xplane_folder)" : "");
    return grey;
}

}  // namespace mc
