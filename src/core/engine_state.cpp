#include "core/engine_state.h"

#include <cstdlib>
#include <ctime>

uint64_t randomSeed = 0;
std::mt19937 searchRandom;
uint64_t PowersOf8[16];
uint64_t PowersOf10[16];
int32_t Rule50Scale[101];
bool benchMode = false;
std::atomic<int> quitRequested{0};

// rand() gives at most 31 bits; three draws shifted apart (0, 14 and 29 bits)
// spread over the whole 64-bit seed and overlap so no bit stays constant.
void buildRandomSeed() {
    std::srand(unsigned(std::time(nullptr)));
    uint64_t r1 = uint64_t(std::rand());
    uint64_t r2 = uint64_t(std::rand());
    uint64_t r3 = uint64_t(std::rand());
    randomSeed = r3 ^ (r2 << 14) ^ (r1 << 29);
}

void seedSearchRandom() {
    searchRandom.seed(uint32_t(std::time(nullptr)));
}

void fillPowerTables() {
    uint64_t eight = 1, ten = 1;
    for (int i = 0; i < 16; i++) {
        PowersOf8[i] = eight;
        PowersOf10[i] = ten;
        eight *= 8;
        ten *= 10;
    }
}

void fillRule50Scale() {
    for (int k = 0; k <= 100; k++) Rule50Scale[k] = 106 - (k + 40) * (k + 40) / 300;
}
