// The tool's ini lookup against the system's GetPrivateProfileStringA, on generated files full
// of the cases that differ between readers: sections, brackets, blanks, CR and LF, NUL, quotes,
// comments, letter case, byte-order marks and UTF-16. Prints each difference; exits 1 on any.
//   ini_differential FILES [SEED]
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "app/config.h"

namespace {

const char* const SECTIONS[] = {"mesh_carver", "MESH_Carver", "other", " mesh_carver ",
                                "mesh_carver]x", "mesh", "mesh_carver\t", ""};
const char* const KEYS[] = {"lat_min", "LAT_MIN", "input_file", " lat_min", "k", "lat_min "};
const char* const VALUES[] = {"1.5", " 2 ", "\"quoted\"", "'single'", "\"half", "a=b",
                              "x ; y", "", "C:\\tiles\\+47+012.txt", "\"\"", "caf\xC3\xA9"};
const char* const BLANKS[] = {"", " ", "\t", "\v", "\f", "\x1A", "  \t"};
const char* const ENDS[] = {"\n", "\r\n", "\r", "\n\r", "\r\r\n"};

template <typename T, size_t N>
const T& pick(std::mt19937& random, const T (&items)[N]) {
    return items[random() % N];
}

// One line of the grammar: a section, a key and value, a comment, a lone name or noise.
std::string randomLine(std::mt19937& random) {
    std::string line = pick(random, BLANKS);
    switch (random() % 9) {
        case 0:
        case 1:
            line += std::string("[") + pick(random, SECTIONS) + (random() % 6 ? "]" : "") +
                    (random() % 4 ? "" : " trailing]");
            break;
        case 2:
            line += std::string(";") + pick(random, KEYS) + "=" + pick(random, VALUES);
            break;
        case 3:
            line += pick(random, KEYS);
            break;
        case 4: {
            std::string value = pick(random, VALUES);
            if (random() % 5 == 0) value.insert(value.size() / 2, 1, '\0');
            line += std::string(pick(random, KEYS)) + pick(random, BLANKS) + "=" +
                    pick(random, BLANKS) + value;
            break;
        }
        default:
            line += std::string(pick(random, KEYS)) + "=" + pick(random, VALUES);
    }
    return line + pick(random, BLANKS);
}

std::string randomFile(std::mt19937& random, bool& utf8Marked) {
    std::string text;
    for (int lines = 1 + int(random() % 12); lines > 0; --lines) {
        text += randomLine(random) + pick(random, ENDS);
    }
    utf8Marked = false;
    switch (random() % 6) {
        case 0:
            utf8Marked = true;
            return "\xEF\xBB\xBF" + text;
        case 1:
        case 2: {  // UTF-16, little- or big-endian, as Notepad saves "Unicode"
            bool little = random() % 2;
            std::string wide = little ? "\xFF\xFE" : "\xFE\xFF";
            int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
            std::wstring units(size_t(count), L'\0');
            MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), units.data(), count);
            for (wchar_t c : units) {
                char low = char(c & 0xFF), high = char(c >> 8);
                wide += little ? std::string{low, high} : std::string{high, low};
            }
            return wide;
        }
        default:
            return text;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? std::atoi(argv[1]) : 3000;
    std::mt19937 random(argc > 2 ? unsigned(std::atoi(argv[2])) : 12);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    int queries = 0, differences = 0;
    for (int n = 0; n < files; ++n) {
        bool utf8Marked;
        std::string bytes = randomFile(random, utf8Marked);
        // a new name for every file: the system caches what it has read
        std::string path = std::string(folder) + "mc_ini_" + std::to_string(GetCurrentProcessId()) +
                           "_" + std::to_string(n) + ".ini";
        FILE* out = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        for (const char* section : {"mesh_carver", "other", "mesh"}) {
            for (const char* key : {"lat_min", "input_file", "k"}) {
                char system[512];
                GetPrivateProfileStringA(section, key, "", system, sizeof system, path.c_str());
                std::string ours = mc::lookupProfileValue(bytes, section, key);
                ++queries;
                bool nonAscii = false;  // past the byte-order mark
                for (char c : bytes.substr(utf8Marked ? 3 : 0)) nonAscii = nonAscii || (c & 0x80);
                if (ours == system || (utf8Marked && nonAscii)) continue;
                ++differences;
                std::printf("file %d [%s] %s: system \"%s\", tool \"%s\"\n", n, section, key,
                            system, ours.c_str());
            }
        }
        DeleteFileA(path.c_str());
    }
    std::printf("%d files, %d queries, %d differences\n", files, queries, differences);
    return differences == 0 ? 0 : 1;
}
