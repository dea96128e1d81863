#include "platform/large_pages.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

// Transparent huge pages in "madvise" mode (the usual default) only serve
// ranges that asked for them.
void adviseLargePages(void* start, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(start, bytes, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}
