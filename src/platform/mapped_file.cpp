#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t readableFileSize(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info;
    int64_t size = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? int64_t(info.st_size) : -1;
    close(fd);
    return size;
}

MapStatus mapFileReadOnly(const char* path, MappedFile& out) {
    out = {};
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return MapStatus::NotOpened;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return MapStatus::NotOpened;
    }
    size_t size = size_t(info.st_size);
    void* view = size > 0 ? mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    // The mapping keeps its own reference to the file.
    close(fd);
    if (view == MAP_FAILED) return MapStatus::NotMapped;
    // Probes jump about the file; read-ahead would only fetch pages nobody reads.
    madvise(view, size, MADV_RANDOM);
    out.data = static_cast<const uint8_t*>(view);
    out.size = size;
    return MapStatus::Mapped;
}

void unmapFile(MappedFile& file) {
    if (file.data) munmap(const_cast<uint8_t*>(file.data), file.size);
    file = {};
}

void dropCachedPages(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
}
