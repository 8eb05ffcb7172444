// Output files written whole or not at all: beside their name, then renamed over it.
#include "text/whole_file.h"

namespace mc {

Status openWholeFile(WholeFile& file, const std::string& path, const std::string& inputPath,
                     Failure failure) {
    file.failure = failure;
    // a path naming the tile itself would replace it with the object
    if (isSameFile(path, inputPath)) {
        return failedWith(failure, path + " is the input tile itself, which is never replaced");
    }
    if (!beginReplacement(file.pending, path)) {
        return failedWith(failure, "cannot create " + path + ": " + systemErrorText());
    }
    attachDescriptor(file.out, file.pending.handle);
    startWriteBehind(file.out);
    return {};
}

Status finishWholeFile(WholeFile& file) {
    stopWriteBehind(file.out);
    file.out.handle = NO_FILE;  // the pending file closes its own handle
    if (file.out.failed) {
        Status failed = failedWith(
            file.failure, "writing " + file.pending.finalPath + " failed: " + file.out.error);
        abandonReplacement(file.pending);
        return failed;
    }
    if (!commitReplacement(file.pending)) {
        return failedWith(file.failure, "cannot put " + file.pending.finalPath +
                                            " in place: " + systemErrorText());
    }
    return {};
}

void abandonWholeFile(WholeFile& file) {
    stopWriteBehind(file.out);
    file.out.handle = NO_FILE;
    abandonReplacement(file.pending);
}

}  // namespace mc
