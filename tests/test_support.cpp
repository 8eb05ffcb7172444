#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mc::test {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "mesh_carver_test_XXXXXX").string();
    path = ::mkdtemp(pattern.data());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

ToolRun runTool(const std::string& directory, const std::string& shellPrefix) {
    std::string outPath =
        directory + "/../" + std::filesystem::path(directory).filename().string() + ".out";
    std::string errPath = outPath + ".err";
    std::string command = "cd '" + directory + "' && " + shellPrefix +
                          " exec '" MESH_CARVER_EXE "' >'" + outPath + "' 2>'" + errPath +
                          "' </dev/null";
    int raw = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    run.console = readFile(outPath);
    run.errors = readFile(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

std::string iniText(double latMin, double latMax, double longMin, double longMax,
                    const std::string& input, const std::string& output,
                    const std::string& maxVertex, const std::string& maxTris) {
    char numbers[256];
    std::snprintf(numbers, sizeof numbers,
                  "lat_min=%.17g\nlat_max=%.17g\nlong_min=%.17g\nlong_max=%.17g\n", latMin, latMax,
                  longMin, longMax);
    return "[mesh_carver]\n" + std::string(numbers) + "input_file=" + input +
           "\noutput_file=" + output + "\nnb_max_vertex=" + maxVertex + "\nnb_max_tris=" + maxTris +
           "\n";
}

}  // namespace mc::test
