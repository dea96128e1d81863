// The built-in network: a compressed block linked into the program, so that
// the engine needs no file at run time.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t EmbeddedNetworkBlock[];
extern const size_t EmbeddedNetworkBlockSize;
