// The line reader over arbitrary bytes, against a plain model of its line rule, with the read
// block size taken from the input so that every boundary position gets tried.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/line_reader.h"

namespace {

// Data ends at 0x1A; a line ends at LF and loses up to two CRs before it; the last line, when no
// LF ends it, loses its trailing NULs and then one CR.
std::vector<std::string> modelLines(std::string data) {
    data = data.substr(0, data.find('\x1A'));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t lf = data.find('\n', start);
        std::string line =
            data.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (lf == std::string::npos) {
            while (!line.empty() && line.back() == '\0') line.pop_back();
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            break;
        }
        for (int i = 0; i < 2 && !line.empty() && line.back() == '\r'; ++i) line.pop_back();
        lines.push_back(line);
        start = lf + 1;
    }
    return lines;
}

std::string scratchPath() {
    static std::string path = [] {
        char pattern[] = "/tmp/fuzz_line_reader_XXXXXX";
        int fd = ::mkstemp(pattern);
        ::close(fd);
        return std::string(pattern);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t blockSize = 1 + data[0] % 16;
    size_t holdLimit = data[1] < 128 ? mc::WHOLE_LINE : 1 + data[1] % 32;
    std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    FILE* file = std::fopen(scratchPath().c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);

    std::vector<std::string> expected = modelLines(bytes);
    mc::LineReader reader;
    if (!mc::openForReading(reader, scratchPath(), blockSize)) std::abort();
    size_t index = 0;
    while (!mc::atEnd(reader)) {
        std::string_view line = mc::readLine(reader, holdLimit);
        if (index >= expected.size()) std::abort();
        if (reader.lineCut) {
            if (line.size() != holdLimit || expected[index].compare(0, holdLimit, line) != 0)
                std::abort();
            if (expected[index].size() <= holdLimit) std::abort();
            mc::skipLine(reader);
        } else if (line != expected[index]) {
            std::abort();
        }
        ++index;
    }
    // the model yields a final empty line for trailing NULs; the reader may too
    if (index != expected.size()) std::abort();
    mc::closeReader(reader);
    return 0;
}
