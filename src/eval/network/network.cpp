#include "eval/network/network.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Zero-filled, 64-byte aligned storage for n objects of T (the inference uses
// aligned vector loads).
template <typename T>
T* allocateAligned(size_t n) {
    size_t bytes = (sizeof(T) * n + 63) / 64 * 64;
    void* p = std::aligned_alloc(64, bytes);
    if (!p) throw std::bad_alloc();
    std::memset(p, 0, bytes);
    return static_cast<T*>(p);
}

}  // namespace

Network::Network()
    : transformer(allocateAligned<FeatureTransformer>(1)), stacks(allocateAligned<LayerStack>(NETWORK_LAYER_STACKS)) {}

Network::~Network() {
    std::free(transformer);
    std::free(stacks);
}
