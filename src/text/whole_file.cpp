#include "text/whole_file.h"

namespace mc {

bool openWholeFile(WholeFile& file, const std::string& path, const std::string& inputPath,
                   std::string& why) {
    // a path naming the tile itself would replace it with the object
    if (isSameFile(path, inputPath)) {
        why = path + " is the input tile itself, which is never replaced";
        return false;
    }
    if (!beginReplacement(file.pending, path)) {
        why = "cannot create " + path + ": " + systemErrorText();
        return false;
    }
    attachDescriptor(file.out, file.pending.handle);
    startWriteBehind(file.out);
    return true;
}

bool finishWholeFile(WholeFile& file, std::string& why) {
    stopWriteBehind(file.out);
    file.out.handle = NO_FILE;  // the pending file closes its own handle
    if (file.out.failed) {
        why = "writing " + file.pending.finalPath + " failed: " + file.out.error;
        abandonReplacement(file.pending);
        return false;
    }
    if (!commitReplacement(file.pending)) {
        why = "cannot put " + file.pending.finalPath + " in place: " + systemErrorText();
        return false;
    }
    return true;
}

void abandonWholeFile(WholeFile& file) {
    stopWriteBehind(file.out);
    file.out.handle = NO_FILE;
    abandonReplacement(file.pending);
}

}  // namespace mc
