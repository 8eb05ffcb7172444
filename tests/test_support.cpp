#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace mc::test {

TempDir::TempDir() {
    std::random_device random;
    for (;;) {
        std::string name =
            "mesh_carver_test_" + std::to_string(random()) + std::to_string(random());
        path = (std::filesystem::temp_directory_path() / name).string();
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) return;
    }
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
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() !=
           std::filesystem::file_type::not_found;
}

bool openForWriting(OutputFile& file, const std::string& path) {
    FileHandle handle = createWriteHandle(path);
    if (handle == NO_FILE) return false;
    attachDescriptor(file, handle);
    return true;
}

std::string captured(void (*write)(OutputFile&)) {
    TempDir dir;
    OutputFile target;
    if (!openForWriting(target, dir / "captured")) return "(cannot write)";
    write(target);
    closeFile(target);
    return readFile(dir / "captured");
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
