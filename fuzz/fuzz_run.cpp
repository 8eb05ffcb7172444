// A whole run over arbitrary tile and ini bytes in a scratch directory: it must end with status
// 0 or -1 and never crash or hang. Path separators in the ini are blanked, so that every file the
// run names stays inside the scratch directory.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run.h"
#include "platform/platform.h"

namespace {

const std::string& scratchDirectory() {
    static std::string path = [] {
        char pattern[] = "/tmp/fuzz_run_XXXXXX";
        std::string dir = ::mkdtemp(pattern);
        ::setenv("XDG_CACHE_HOME", dir.c_str(), 1);  // unpacked 7z tiles stay in the scratch
        return dir;
    }();
    return path;
}

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    // the ini comes first, up to a line "==", then the tile
    size_t split = bytes.find("\n==\n");
    std::string ini = bytes.substr(0, split);
    std::string tile = split == std::string::npos ? std::string() : bytes.substr(split + 4);
    for (char& c : ini) {
        if (c == '/' || c == '\\') c = '_';
    }
    const std::string& dir = scratchDirectory();
    writeFile(dir + "/mesh_carver.ini", ini);
    writeFile(dir + "/tile.txt", tile);
    mc::OutputFile target;
    mc::attachDescriptor(target, mc::createWriteHandle("/dev/null"));
    int status = mc::runMeshCarver(dir, target);
    mc::closeFile(target);
    if (status != 0 && status != -1) std::abort();
    return 0;
}
