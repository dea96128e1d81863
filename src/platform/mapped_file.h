// Read-only views of whole files, for data read at random and far larger than
// what a probe touches (the endgame tables): the system pages in only what is
// read, and every thread reads the same pages without copies or locks.
#pragma once

#include <cstddef>
#include <cstdint>

struct MappedFile {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

enum class MapStatus { Mapped, NotOpened, NotMapped };

// The size in bytes of the regular file at `path`, or -1 when it cannot be
// opened for reading (missing, a folder, no permission).
int64_t readableFileSize(const char* path);

// Maps the whole file at `path` read-only into `out`. NotOpened when the file
// cannot be opened, NotMapped when it opens but cannot be mapped (empty, or
// no address space left); `out` is left empty then.
MapStatus mapFileReadOnly(const char* path, MappedFile& out);

// Releases a view made by mapFileReadOnly and leaves `file` empty; does
// nothing for an empty one.
void unmapFile(MappedFile& file);

// Asks the system to drop its cached pages of the file at `path`, so that the
// next read comes from the disk (for measuring first-touch costs). Does
// nothing where the system has no such request.
void dropCachedPages(const char* path);
