// The binary tile reader over arbitrary bytes: the selection pass must refuse or read them
// without a crash, a read outside the bytes or a hang, for a window around everything and a
// small one.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "cut/selection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // an exact-size copy, so that AddressSanitizer sees a read one byte past the end
    auto bytes = std::make_unique<uint8_t[]>(size ? size : 1);
    if (size) std::memcpy(bytes.get(), data, size);
    const mc::SelectionWindow windows[] = {{-90, 90, -180, 180}, {45.5, 45.6, 7.5, 7.6}};
    for (const mc::SelectionWindow& window : windows) {
        mc::OutputFile consoleTarget, tempTarget;
        mc::attachDescriptor(consoleTarget, mc::createWriteHandle("/dev/null"));
        mc::attachDescriptor(tempTarget, mc::createWriteHandle("/dev/null"));
        mc::Selection found;
        found.window = window;
        mc::ProgressMeter meter;
        mc::selectFromTile(bytes.get(), size, tempTarget, consoleTarget, found, meter);
        mc::closeFile(consoleTarget);
        mc::closeFile(tempTarget);
    }
    return 0;
}
