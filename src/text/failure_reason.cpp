#include "text/failure_reason.h"

namespace mc {

namespace {
std::string noted;  // the run's one reason
}  // namespace

void noteFailureReason(std::string reason) {
    if (noted.empty()) noted = std::move(reason);
}

const std::string& failureReason() {
    return noted;
}

void forgetFailureReason() {
    noted.clear();
}

std::string groupedNumber(uint64_t value) {
    std::string digits = std::to_string(value);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
    return digits;
}

}  // namespace mc
