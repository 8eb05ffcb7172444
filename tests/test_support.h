// Temporary directories, whole-file reads and writes, and runs of the built tool.
#pragma once

#include <string>
#include <string_view>

#include "text/output_file.h"

namespace mc::test {

/// A fresh directory under the system's temporary folder, removed with its content at the end.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(std::string_view name) const { return path + "/" + std::string(name); }
};

void writeFile(const std::string& path, std::string_view bytes);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

struct ToolRun {
    int status = -1;      // exit status, 0 to 255
    std::string console;  // everything written on standard output
    std::string errors;   // everything written on standard error
};

/// Runs the built mesh_carver in `directory`; `shellPrefix` may set limits (e.g. "ulimit -f 1;"),
/// `arguments` follow the program's name as the shell reads them.
ToolRun runTool(const std::string& directory, const std::string& shellPrefix = {},
                const std::string& arguments = {});

/// Creates or empties a file and attaches it to `file`, as the tool's own files are attached.
bool openForWriting(OutputFile& file, const std::string& path);

/// What `write` puts into a file, read back.
std::string captured(void (*write)(OutputFile&));

/// The ini text for a run, keys in their usual order.
std::string iniText(double latMin, double latMax, double longMin, double longMax,
                    const std::string& input, const std::string& output,
                    const std::string& maxVertex, const std::string& maxTris);

}  // namespace mc::test
