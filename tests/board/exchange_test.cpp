// Static exchange tests.
#include <gtest/gtest.h>

#include "board_test_util.h"

namespace {

struct ExchangeCase {
    const char* fen;
    const char* move;
    bool bad;
};

// The pseudo-legal move with this text (a king may walk into a defended square here).
Move findMove(const Position& pos, const char* text) {
    MoveEntry list[MAX_MOVES];
    int n = generateTactical(pos, list);
    n += generateQuiet(pos, list + n);
    for (int i = 0; i < n; i++)
        if (moveText(list[i].move) == text) return list[i].move;
    return MOVE_NONE;
}

TEST(Exchange, SeeBadCases) {
    initBoardTables();
    const ExchangeCase cases[] = {
        // Queen takes a pawn defended by a pawn.
        {"4k3/8/3p4/4p3/8/8/4Q3/4K3 w - - 0 1", "e2e5", true},
        // Pawn takes a defended knight.
        {"4k3/8/3p4/4n3/3P4/8/8/4K3 w - - 0 1", "d4e5", false},
        // Rook takes a pawn defended by a rook, backed by a rook behind (x-ray): even.
        {"4r1k1/8/8/4p3/8/8/4R3/4RK2 w - - 0 1", "e2e5", false},
        // The same without the second white rook loses the exchange.
        {"4r1k1/8/8/4p3/8/8/4R3/5K2 w - - 0 1", "e2e5", true},
        // The only defender is pinned to its king: the capture is safe.
        {"4k3/4r3/3n4/8/4P3/8/8/4R1K1 w - - 0 1", "e4e5", false},
        {"6k1/8/8/3p4/8/8/8/3QK3 w - - 0 1", "d1d5", false},
        // King captures a defended pawn: bad. Castling is never bad.
        {"4k3/8/8/8/8/3p4/2p5/3K4 w - - 0 1", "d1d2", false},
        {"4k3/8/8/8/8/2p5/3p4/3K4 w - - 0 1", "d1d2", true},
        {"4k3/8/8/8/8/8/8/4K2R w K - 0 1", "e1g1", false},
    };
    for (const ExchangeCase& c : cases) {
        Position pos;
        setFromFen(pos, c.fen);
        Move m = findMove(pos, c.move);
        ASSERT_NE(m, MOVE_NONE) << c.fen << " " << c.move;
        EXPECT_EQ(seeBad(pos, m), c.bad) << c.fen << " " << c.move;
    }
}

TEST(Exchange, MarginsAndQuietSquares) {
    initBoardTables();
    Position pos;
    // Knight takes a pawn defended by a pawn: loses 370 - 100.
    setFromFen(pos, "4k3/8/3p4/4p3/8/5N2/8/4K3 w - - 0 1");
    Move m = findMove(pos, "f3e5");
    EXPECT_TRUE(seeBelow(pos, m, 0));
    // The margin is what the move may lose: 270 is more than 200, not more than 300.
    EXPECT_TRUE(seeBelow(pos, m, 200));
    EXPECT_FALSE(seeBelow(pos, m, 300));
    // A negative margin asks for a gain.
    EXPECT_TRUE(seeBelow(pos, findMove(pos, "f3h4"), -1));
    EXPECT_TRUE(seeBadFine(pos, m));

    // A quiet knight move onto a square a pawn covers is unsafe; onto a free one it is not.
    setFromFen(pos, "4k3/8/7p/8/8/5N2/8/4K3 w - - 0 1");
    Move unsafe = findMove(pos, "f3g5");
    Move safe = findMove(pos, "f3h4");
    EXPECT_TRUE(squareUnsafe(pos, unsafe));
    EXPECT_FALSE(squareUnsafe(pos, safe));
}

}  // namespace
