// Big read-mostly blocks (the transposition table, the network weights) are
// read at random; backed by 2 MiB pages instead of 4 KiB ones, each TLB entry
// covers 512 times more of them and far fewer lookups walk the page tables.
#pragma once

#include <cstddef>

constexpr size_t LARGE_PAGE_BYTES = size_t(1) << 21;

// Asks the system to back [start, start + bytes) with large pages when it
// next faults them in. start should be LARGE_PAGE_BYTES-aligned; only whole
// large pages inside the range can be backed. Does nothing where the system
// has no such request.
void adviseLargePages(void* start, size_t bytes);
