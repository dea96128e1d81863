// Fuzz target: network loading from untrusted bytes.
//
// The input is tried twice: as a built-in-style compressed block, and as a
// weights file (a plain image or a scrambled container) read through a C
// stream. Either must refuse what it cannot use without reading outside the
// input or allocating more than one image's worth of memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "eval/network/network_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<Network> fromBlock = loadFromMemory(data, size);
    fromBlock.reset();

    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    std::unique_ptr<Network> fromFile = loadFromStream(file);
    std::fclose(file);
    return 0;
}
