// Helpers of the book tests: positions reached from the start by move text,
// Polyglot move codes, hand-built books in temporary files, and the real book
// that Debian's gnuchess-book package installs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "board/position.h"

// The position after the moves (blank-separated UCI text) from `fen`.
inline Position afterMoves(const std::string& moves, const char* fen = START_FEN) {
    static Position chain[2];
    chain[0] = fromFen(fen);
    std::istringstream words(moves);
    std::string move;
    int at = 0;
    while (words >> move) {
        EXPECT_TRUE(parseAndMakeMove(chain[at], chain[at ^ 1], move.c_str())) << move;
        chain[at ^ 1].parent = nullptr;
        at ^= 1;
    }
    return chain[at];
}

// The book code of a move in text ("e2e4", "e7e8q"), with an explicit
// promotion code when given.
inline uint16_t bookCode(const std::string& move, int promotion = -1) {
    int fromFile = move[0] - 'a', fromRank = move[1] - '1', toFile = move[2] - 'a', toRank = move[3] - '1';
    if (promotion < 0) {
        promotion = 0;
        if (move.size() > 4) promotion = int(std::string(" nbrq").find(move[4]));
    }
    return uint16_t((promotion << 12) | (fromRank << 9) | (fromFile << 6) | (toRank << 3) | toFile);
}

struct RawEntry {
    uint64_t key;
    uint16_t move;
    uint16_t weight;
};

// A book file in the temporary folder, removed with the object.
class TempBook {
  public:
    explicit TempBook(const std::vector<RawEntry>& entries) {
        char name[] = "/tmp/sable-book-XXXXXX";
        int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        path = name;
        std::string bytes;
        for (const RawEntry& e : entries) {
            for (int i = 7; i >= 0; i--) bytes += char(e.key >> (8 * i));
            bytes += char(e.move >> 8);
            bytes += char(e.move);
            bytes += char(e.weight >> 8);
            bytes += char(e.weight);
            bytes += std::string(4, '\0');
        }
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        close(fd);
    }
    ~TempBook() { std::remove(path.c_str()); }
    TempBook(const TempBook&) = delete;
    TempBook& operator=(const TempBook&) = delete;

    std::string path;
};

// Debian's gnuchess-book, or the copy in the shared data folder beside the
// repository; empty when neither is there.
inline std::string realBookPath() {
    for (std::string path : {std::string("/usr/share/games/gnuchess/book.bin"),
                             std::string(SABLE_DATA_DIR) + "/../../../shared/data/gnuchess-book.bin"})
        if (access(path.c_str(), R_OK) == 0) return path;
    return "";
}
