#include "eval/network/network.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/large_pages.h"

namespace {

// Zero-filled, 64-byte aligned storage for n objects of T (the inference uses
// aligned vector loads). The feature-transformer columns (70 MB) are read at
// random, one per changed piece: a block of that size is placed on large
// pages, asked for before the fill touches it.
template <typename T>
T* allocateAligned(size_t n) {
    size_t bytes = (sizeof(T) * n + 63) / 64 * 64;
    size_t alignment = 64;
    if (bytes >= LARGE_PAGE_BYTES) {
        alignment = LARGE_PAGE_BYTES;
        bytes = (bytes + LARGE_PAGE_BYTES - 1) / LARGE_PAGE_BYTES * LARGE_PAGE_BYTES;
    }
    void* p = std::aligned_alloc(alignment, bytes);
    if (!p) throw std::bad_alloc();
    if (alignment == LARGE_PAGE_BYTES) adviseLargePages(p, bytes);
    std::memset(p, 0, bytes);
    return static_cast<T*>(p);
}

std::atomic<uint64_t> lastNetworkSerial{0};

}  // namespace

Network::Network()
    : transformer(allocateAligned<FeatureTransformer>(1)),
      stacks(allocateAligned<LayerStack>(NETWORK_LAYER_STACKS)),
      serial(++lastNetworkSerial) {}

Network::~Network() {
    std::free(transformer);
    std::free(stacks);
}

// One pass over the 70 MB of weights at load time: a sum is dead when its
// bias and its weight in every feature column are zero.
void measureDeadPairs(FeatureTransformer& ft) {
    constexpr int HALF = NETWORK_HIDDEN / 2;
    bool used[NETWORK_HIDDEN];
    for (int j = 0; j < NETWORK_HIDDEN; j++) used[j] = ft.biases[j] != 0;
    for (size_t f = 0; f < size_t(NETWORK_FEATURES); f++) {
        const int16_t* column = ft.weights + f * NETWORK_HIDDEN;
        for (int j = 0; j < NETWORK_HIDDEN; j++) used[j] |= column[j] != 0;
    }
    int live = 0;
    for (int j = 0; j < HALF; j++)
        if (used[j] && used[j + HALF]) live = j + 1;
    live = (live + DEAD_PAIR_STEP - 1) / DEAD_PAIR_STEP * DEAD_PAIR_STEP;
    ft.deadPairs = HALF - live;
}
