// Reading network weights: the plain image format, the compressed block that
// the program carries built in, and weights files (a plain image, or a
// scrambled container around a compressed block).
//
// Every length in these formats comes from outside the program. Each one is
// checked against the bytes really present, and sizes against the one image
// size that can be right, before anything is allocated, copied or inflated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "eval/network/network.h"

// The largest image we agree to inflate: the one valid size plus some slack.
// A plain image may carry bytes after its last layer stack, but nothing near
// the sizes a 32-bit length field can announce.
constexpr size_t MAX_PLAIN_IMAGE_BYTES = PLAIN_IMAGE_FIXED_BYTES + sizeof(NETWORK_DESCRIPTION) - 1 + 65536;

// A source of bytes for readPlainNetwork: an open file or a memory buffer.
// A read delivers every byte asked for or puts the stream into the failed
// state, and a failed stream fails every later read.
class NetworkStream {
  public:
    // Reads on from the file's current position.
    explicit NetworkStream(FILE* file);
    NetworkStream(const uint8_t* data, size_t size);

    // Copies the next n bytes to out; a short read fails the stream.
    bool read(void* out, size_t n);
    // Reads a little-endian 32-bit word.
    bool readU32(uint32_t& value);
    // Marks the stream failed: its content did not pass a check.
    void fail() { failed = true; }
    bool hasFailed() const { return failed; }
    // How many bytes are left, or SIZE_MAX when the source cannot tell.
    size_t remaining() const;

  private:
    FILE* file = nullptr;
    const uint8_t* data = nullptr;
    size_t size = SIZE_MAX;  // bytes in the buffer or the file; SIZE_MAX when unknown
    size_t position = 0;
    bool failed = false;
};

// Reads a plain network image from the stream. None when the description is
// not ours, or the stream fails before the eighth layer stack is complete.
// Bytes after the eighth stack are not looked at.
std::unique_ptr<Network> readPlainNetwork(NetworkStream& in);

// Reads a compressed block (u32 image size, u32 compressed length, zlib
// stream), as the program carries its built-in network. None when the header
// lies about the block or the inflated image is not a network.
std::unique_ptr<Network> loadFromMemory(const uint8_t* block, size_t size);

// Reads a weights file opened in binary mode and positioned at its start: a
// scrambled container when its first two words are both container marks, a
// plain image otherwise. None when it is neither.
std::unique_ptr<Network> loadFromStream(FILE* file);
