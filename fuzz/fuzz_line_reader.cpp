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
struct ModelLine {
    std::string text;
    std::string raw;  // the line's bytes in the file, without the LF
};

std::vector<ModelLine> modelLines(std::string data) {
    data = data.substr(0, data.find('\x1A'));
    std::vector<ModelLine> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t lf = data.find('\n', start);
        std::string raw =
            data.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        std::string line = raw;
        if (lf == std::string::npos) {
            while (!line.empty() && line.back() == '\0') line.pop_back();
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back({line, raw});
            break;
        }
        for (int i = 0; i < 2 && !line.empty() && line.back() == '\r'; ++i) line.pop_back();
        lines.push_back({line, raw});
        start = lf + 1;
    }
    return lines;
}

std::string scratchPath() {
    static std::string path = [] {
        char pattern[] = "/tmp/fuzz_line_reader_XXXXXX";
        int handle = ::mkstemp(pattern);
        ::close(handle);
        return std::string(pattern);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t blockSize = 1 + data[0] % 16;
    size_t holdLimit = data[1] >= 128 ? mc::WHOLE_LINE : 1 + data[1] % 32;
    std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    FILE* file = std::fopen(scratchPath().c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);

    std::vector<ModelLine> expected = modelLines(bytes);
    mc::LineReader reader;
    if (!mc::openForReading(reader, scratchPath(), blockSize)) std::abort();
    size_t index = 0;
    while (!mc::atEnd(reader)) {
        std::string_view line = mc::readLine(reader, holdLimit);
        if (index >= expected.size()) std::abort();
        const ModelLine& model = expected[index];
        if ((model.raw.size() > holdLimit) != reader.lineCut) std::abort();
        if (reader.lineCut) {
            if (line != std::string_view(model.raw).substr(0, holdLimit)) std::abort();
            mc::skipLine(reader);
        } else if (line != model.text) {
            std::abort();
        }
        ++index;
    }
    if (index != expected.size()) std::abort();
    mc::closeReader(reader);
    return 0;
}
