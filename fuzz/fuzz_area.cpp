// The area readers over arbitrary bytes (apt.dat, GeoJSON or KML, told from the first byte): each
// must refuse or read them without a crash or a hang; what is read is prepared, tested and clipped
// against as a cut would.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "area/area.h"
#include "scenery/area_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/fuzz_area_" + std::to_string(::getpid());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    mc::Area area;
    mc::CutArea prepared;
    if (mc::readArea(path, "", area).ok() && mc::prepareArea(area, "fuzz", prepared).ok()) {
        const double lons[] = {prepared.west, (prepared.west + prepared.east) / 2, 7.5};
        const double lats[] = {prepared.south, (prepared.south + prepared.north) / 2, 45.5};
        for (double lon : lons) {
            for (double lat : lats) (void)mc::isInsideArea(prepared, lon, lat);
        }
        mc::ClipRegion region = mc::clipRegionOf({45, 46, 7, 8}, &prepared);
        const mc::AreaPoint triangle[3] = {{7.4, 45.4}, {7.6, 45.4}, {7.5, 45.6}};
        std::vector<mc::AreaPolygon> parts;
        mc::clipTriangle(region, triangle, parts);
    }
    return 0;
}
