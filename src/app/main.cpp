#include <string_view>

#include "app/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // the only argument there is; without it a run is what it always was
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        mc::writeLine(mc::console(), "mesh_carver " MESH_CARVER_VERSION);
        mc::endRun(0);
    }
    mc::prepareForInterruptions();
    mc::endRun(mc::runMeshCarver(mc::currentDirectory(), mc::console()));
}
