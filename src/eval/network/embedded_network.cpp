// The built-in network block, linked into the program from
// src/eval/network/default.nnz at build time: the assembler includes the file
// byte for byte, so replacing the network means replacing that one file.
// CMake passes its path as SABLE_NETWORK_FILE and rebuilds this object when
// the file changes.
#include "eval/network/embedded_network.h"

#ifndef SABLE_NETWORK_FILE
#error "SABLE_NETWORK_FILE must name the built-in network block"
#endif

// Global-namespace variables keep their plain names in the object file, so the
// symbols defined here are the ones the header declares. The size is computed
// by the assembler, which makes it a link-time constant.
// clang-format off
asm(".pushsection .rodata.sable_network, \"a\", @progbits\n"
    ".balign 64\n"
    ".globl EmbeddedNetworkBlock\n"
    ".type EmbeddedNetworkBlock, @object\n"
    "EmbeddedNetworkBlock:\n"
    ".incbin \"" SABLE_NETWORK_FILE "\"\n"
    ".LSableNetworkEnd:\n"
    ".size EmbeddedNetworkBlock, .LSableNetworkEnd - EmbeddedNetworkBlock\n"
    ".balign 8\n"
    ".globl EmbeddedNetworkBlockSize\n"
    ".type EmbeddedNetworkBlockSize, @object\n"
    "EmbeddedNetworkBlockSize:\n"
    ".quad .LSableNetworkEnd - EmbeddedNetworkBlock\n"
    ".size EmbeddedNetworkBlockSize, 8\n"
    ".popsection\n");
// clang-format on
