// A put-back of arbitrary edited-file bytes into the TIN sample, in a scratch directory: it must
// end with status 0 or -1 and never crash or hang. The seeds are the put-back samples.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run.h"
#include "platform/platform.h"

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

const std::string& scratchDirectory() {
    static std::string path = [] {
        char pattern[] = "/tmp/fuzz_put_back_XXXXXX";
        std::string dir = ::mkdtemp(pattern);
        // paths from the root: the run's relative ones would start in the fuzzer's folder
        writeFile(dir + "/mesh_carver.ini",
                  "[mesh_carver]\nlat_min=45.505\nlat_max=45.545\nlong_min=7.505\n"
                  "long_max=7.545\ninput_file=" SOURCE_DIR
                  "/tests/data/dsf/tin_small.dsf\n"
                  "wavefront_file=" +
                      dir + "/edited.obj\noutput_tile=" + dir + "/out.dsf\n");
        return dir;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = scratchDirectory();
    writeFile(dir + "/edited.obj", std::string(reinterpret_cast<const char*>(data), size));
    mc::OutputFile target;
    mc::attachDescriptor(target, mc::createWriteHandle("/dev/null"));
    int status = mc::runMeshCarver(dir, target, mc::Direction::putBack);
    mc::closeFile(target);
    if (status != 0 && status != -1) std::abort();
    return 0;
}
