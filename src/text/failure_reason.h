// Why a run failed, in plain words for standard error. The first reason noted is kept: it is
// the one found nearest to the fault, before the failure travelled up to the driver.
#pragma once

#include <cstdint>
#include <string>

namespace mc {

void noteFailureReason(std::string reason);
const std::string& failureReason();
void forgetFailureReason();

/// "1,234,567": a count as people read it.
std::string groupedNumber(uint64_t value);

}  // namespace mc
