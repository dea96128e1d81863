#!/bin/bash
# builds only the network loader test against the current library
set -e
cd /work/main
cmake --build build-netloader -j1 --target sable_core sable 2>&1 | grep -E "error" || true
g++ -std=c++20 -O2 -march=native -Wall -Wextra -Isrc -DSABLE_BINARY=\"/work/main/build-netloader/sable\" -DSABLE_DATA_DIR=\"/work/shared/data\" tests/eval/network/network_loader_test.cpp build-netloader/libsable_core.a -lgtest -lgtest_main -lz -lpthread -o /tmp/netfuzz/loader_test
