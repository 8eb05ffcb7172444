#include "tile_builder.h"

namespace mc::test {

void put16(std::string& s, uint32_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

std::string atom(const char* id, const std::string& contents) {
    std::string s;
    put32(s, uint32_t(uint8_t(id[0])) << 24 | uint8_t(id[1]) << 16 | uint8_t(id[2]) << 8 |
                 uint8_t(id[3]));
    put32(s, uint32_t(contents.size() + 8));
    return s + contents;
}

// Runs of two or more equal values repeat; anything else goes out as literals.
std::string encodePlane(const PlaneFixture& plane) {
    std::string s(1, char(plane.encoding));
    std::vector<uint16_t> v = plane.values;
    if (plane.encoding == 1 || plane.encoding == 3) {
        for (size_t i = v.size(); i-- > 1;) v[i] = uint16_t(v[i] - v[i - 1]);
    }
    for (size_t i = 0; i < v.size();) {
        if (plane.encoding <= 1) {
            put16(s, v[i++]);
            continue;
        }
        size_t run = 1;
        while (i + run < v.size() && run < 127 && v[i + run] == v[i]) ++run;
        if (run >= 2) {
            s.push_back(char(0x80 | run));
            put16(s, v[i]);
        } else {
            run = 1;
            while (i + run < v.size() && run < 127 && v[i + run] != v[i + run - 1]) ++run;
            s.push_back(char(run));
            for (size_t k = 0; k < run; ++k) put16(s, v[i + k]);
        }
        i += run;
    }
    return s;
}

std::string tileBytes(const std::vector<PoolFixture>& pools, const std::string& commands) {
    std::string geometry, scales;
    for (const PoolFixture& pool : pools) {
        std::string p;
        put32(p, uint32_t(pool.empty() ? 0 : pool[0].values.size()));
        p.push_back(char(pool.size()));
        std::string sc;
        for (const PlaneFixture& plane : pool) {
            p += encodePlane(plane);
            float pair[2] = {1.0f, 0.0f};
            sc.append(reinterpret_cast<const char*>(pair), 8);
        }
        geometry += atom("POOL", p);
        scales += atom("SCAL", sc);
    }
    std::string file = "XPLNEDSF";
    put32(file, 1);
    file += atom("HEAD", atom("PROP", std::string("sim/west\0"
                                                  "7\0",
                                                  11)));
    file += atom("DEFN", atom("TERT", std::string("t\0", 2)) + atom("OBJT", "") + atom("POLY", "") +
                             atom("NETW", ""));
    file += atom("GEOD", geometry + scales) + atom("CMDS", commands);
    return file + std::string(16, '\0');
}

}  // namespace mc::test
