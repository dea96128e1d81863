#include <cstdio>
#include "eval/network/embedded_network.h"
#include "eval/network/network_loader.h"
int main(){ printf("%zu %d\n", EmbeddedNetworkBlockSize, loadFromMemory(EmbeddedNetworkBlock, EmbeddedNetworkBlockSize)!=nullptr); }
