// How much memory the machine has, for refusing table sizes that could only
// be promised, never used.
#pragma once

#include <cstdint>

// Bytes of physical memory, or 0 when the system does not say.
uint64_t physicalMemoryBytes();
