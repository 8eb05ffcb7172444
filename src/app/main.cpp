#include "app/run.h"
#include "platform/platform.h"

int main() {
    mc::prepareForInterruptions();
    mc::endRun(mc::runMeshCarver(mc::currentDirectory(), mc::console()));
}
