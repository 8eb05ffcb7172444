// Runs of the built tool, through the shell.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "test_support.h"

namespace mc::test {

// Unpacked 7z tiles go to the build's folder, not the user's cache, however a test starts the
// tool (its children inherit the setting).
[[maybe_unused]] const bool CACHE_IN_BUILD =
    ::setenv("XDG_CACHE_HOME", BUILD_DIR "/test-cache", 1) == 0;

ToolRun runTool(const std::string& directory, const std::string& shellPrefix,
                const std::string& arguments) {
    std::string outPath =
        directory + "/../" + std::filesystem::path(directory).filename().string() + ".out";
    std::string errPath = outPath + ".err";
    // unpacked 7z tiles are kept in the build's folder, not the user's cache
    std::string command = "cd '" + directory +
                          "' && export XDG_CACHE_HOME='" BUILD_DIR "/test-cache'; " + shellPrefix +
                          " exec '" MESH_CARVER_EXE "' " + arguments + " >'" + outPath + "' 2>'" +
                          errPath + "' </dev/null";
    int raw = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    run.console = readFile(outPath);
    run.errors = readFile(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return run;
}

}  // namespace mc::test
