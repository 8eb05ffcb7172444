#include <csignal>

#include "app/config.h"
#include "app/run.h"

int main() {
    // a closed console must not end the run: its text is simply lost
    std::signal(SIGPIPE, SIG_IGN);
    mc::endRun(mc::runMeshCarver(mc::currentDirectory(), mc::console()));
}
