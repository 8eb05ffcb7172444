#include "tile_builder.h"

namespace mc::test {

std::string tileBytes(const std::vector<PoolFixture>& pools, const std::string& commands) {
    std::string geometry, scales;
    for (const PoolFixture& pool : pools) {
        std::string contents;
        put32(contents, uint32_t(pool.empty() ? 0 : pool[0].values.size()));
        dsf::put8(contents, uint32_t(pool.size()));
        std::string scale;
        for (const PlaneFixture& plane : pool) {
            dsf::appendPlane(contents, plane.values.data(), plane.values.size(),
                             dsf::PlaneEncoding(plane.encoding));
            dsf::putFloat(scale, 1.0f), dsf::putFloat(scale, 0.0f);
        }
        geometry += dsf::atom("POOL", contents);
        scales += dsf::atom("SCAL", scale);
    }
    std::string file = dsf::tileHeader();
    file += dsf::atom("HEAD", dsf::atom("PROP", dsf::stringTable({"sim/west", "7"})));
    file += dsf::atom("DEFN", dsf::atom("TERT", dsf::stringTable({"t"})) + dsf::atom("OBJT", "") +
                                  dsf::atom("POLY", "") + dsf::atom("NETW", ""));
    file += dsf::atom("GEOD", geometry + scales) + dsf::atom("CMDS", commands);
    dsf::appendFooter(file);
    return file;
}

}  // namespace mc::test
