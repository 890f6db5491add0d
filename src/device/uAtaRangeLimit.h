// The size limit of one ATA DATA SET MANAGEMENT range entry, shared by the payload builder and
// the planner that cuts ranges to fit it.
#pragma once

#include <cstdint>

// The most sectors one range entry can carry (its count is 16 bits wide).
constexpr uint64_t kMaxDsmEntrySectors = 65535;
