#include "eval/network/network_manager.h"

#include <cstdio>
#include <memory>
#include <string>

#include "core/options.h"
#include "core/output.h"
#include "eval/network/embedded_network.h"
#include "eval/network/network_loader.h"

namespace {

// The "WeightsFile" value of the last load attempt (empty for the built-in
// network), and what that attempt left us.
std::string currentName;
std::unique_ptr<Network> network;

// Closes the weights file whatever way the load ends.
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

// The old network goes before the new one is read, also when the read fails:
// a failed load leaves no network, and two 70 MB networks never live at once.
void loadNetwork() {
    // Front-ends echo the listed default "<empty>" back; it means no file.
    const std::string name = weightsFile == "<empty>" ? std::string() : weightsFile;
    if (network && currentName == name) return;
    currentName = name;

    if (currentName.empty()) {
        network.reset();
        network = loadFromMemory(EmbeddedNetworkBlock, EmbeddedNetworkBlockSize);
        if (network)
            printOut("info string embedded NN is loaded\n");
        else
            printTo(stderr,
                    "info string error: failed to load embedded NN, use WeightsFile option to set an "
                    "external one\n");
        return;
    }

    std::unique_ptr<FILE, FileCloser> file(std::fopen(currentName.c_str(), "rb"));
    if (!file) {
        printTo(stderr, "info string error: : file \"%s\" not found\n", currentName.c_str());
        return;
    }
    network.reset();
    network = loadFromStream(file.get());
    if (network)
        printOut("info string %s is loaded\n", currentName.c_str());
    else
        printTo(stderr, "info string error: %s has wrong format\n", currentName.c_str());
}

const Network* currentNetwork() {
    return network.get();
}

void releaseNetwork() {
    network.reset();
    currentName.clear();
}
