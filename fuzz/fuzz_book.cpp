// Fuzz target: the opening book reader on untrusted book files.
//
// The input is the book file. Random keys would almost never name a probed
// position, so the entries are steered: an entry whose key has its top bit
// clear gets the key of one of the probed positions instead (chosen by the
// key's low bits), and the first input byte decides whether the entries are
// sorted by key first, as a sound book's are. Every probed position is read
// with and without "Best Book Line", in standard chess and in Chess960.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board/bitboard.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "book/book_key.h"
#include "book/opening_book.h"
#include "core/options.h"

namespace {

// Start, after e2e4 (an en-passant file is not keyed), castling both ways,
// Chess960 castling, promotions with captures.
const char* const Fens[] = {
    START_FEN,
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
    "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1",
    "rk5r/8/8/8/8/8/8/RK5R w KQkq - 0 1",
    "1n2k3/P1P5/8/8/8/8/8/4K3 w - - 0 1",
};
constexpr int FEN_COUNT = sizeof Fens / sizeof Fens[0];

Position positions[FEN_COUNT];
uint64_t keys[FEN_COUNT];
std::string path;

void setUp() {
    initSlidingAttacks();
    initRayTables();
    for (int i = 0; i < FEN_COUNT; i++) {
        chess960 = i == 3;
        setFromFen(positions[i], Fens[i]);
        keys[i] = bookKey(positions[i]);
    }
    chess960 = 0;
    path = "/tmp/sable-fuzz-book-" + std::to_string(getpid()) + ".bin";
    std::atexit([] { std::remove(path.c_str()); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        setUp();
        ready = true;
    }
    // Whole entries are steered; any tail bytes stay as they are.
    std::vector<uint8_t> book(data, data + size);
    size_t entries = size / 16;
    std::vector<std::vector<uint8_t>> records;
    for (size_t i = 0; i < entries; i++) {
        uint8_t* e = &book[16 * i];
        if (!(e[0] & 0x80)) {
            uint64_t key = keys[e[7] % FEN_COUNT];
            for (int b = 0; b < 8; b++) e[b] = uint8_t(key >> (56 - 8 * b));
        }
        records.emplace_back(e, e + 16);
    }
    if (size > 0 && !(data[0] & 1)) {
        std::sort(records.begin(), records.end());
        for (size_t i = 0; i < entries; i++) std::copy(records[i].begin(), records[i].end(), &book[16 * i]);
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return 0;
    std::fwrite(book.data(), 1, book.size(), out);
    std::fclose(out);

    bookFile = path;
    bookMoves = 1000;
    bookMovesLimit = 1000;
    ownBook = 1;
    reopenBook();
    for (int i = 0; i < FEN_COUNT; i++) {
        chess960 = i == 3;
        for (int best = 0; best < 2; best++) {
            bestBookLine = best;
            probeBook(positions[i]);
        }
    }
    chess960 = 0;
    return 0;
}
