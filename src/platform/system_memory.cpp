#include "platform/system_memory.h"

#include <unistd.h>

uint64_t physicalMemoryBytes() {
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) return uint64_t(pages) * uint64_t(pageSize);
#endif
    return 0;
}
