// FEN set-up and writing, keys, and move text.
#include <gtest/gtest.h>

#include <cstring>

#include "board/zobrist.h"
#include "board_test_util.h"

namespace {

std::string fenOf(const Position& pos) {
    char text[128];
    writeFen(pos, text);
    return text;
}

// Keys computed from scratch by setting the position up again from its FEN.
void expectKeysFresh(const Position& pos) {
    Position fresh = fromFen(fenOf(pos).c_str());
    EXPECT_EQ(pos.key, fresh.key) << fenOf(pos);
    EXPECT_EQ(pos.pawnKey, fresh.pawnKey) << fenOf(pos);
    EXPECT_EQ(pos.materialKey, fresh.materialKey) << fenOf(pos);
    EXPECT_EQ(pos.materialCountKey, fresh.materialCountKey) << fenOf(pos);
    EXPECT_EQ(pos.epBitboard, fresh.epBitboard) << fenOf(pos);
    EXPECT_EQ(pos.pieceCount, fresh.pieceCount);
    EXPECT_EQ(0, std::memcmp(pos.board, fresh.board, 64));
}

TEST(Fen, EmptyTextIsTheStartPosition) {
    Position a = fromFen(""), b = fromFen(START_FEN);
    EXPECT_EQ(0, std::memcmp(&a, &b, POSITION_COPY_BYTES));
    EXPECT_EQ(fenOf(a), START_FEN);
    EXPECT_EQ(a.castleLost, 0);
    EXPECT_EQ(a.pieceCount, 32);
}

TEST(Fen, WritesBackWhatItReads) {
    for (const PerftCase& c : loadPerftSuite()) {
        if (c.chess960) continue;
        Position pos = fromFen(c.fen.c_str());
        // The move counters are not read: the fifty-move field comes back as 0
        // and the move number from the side to move alone.
        std::string expected = c.fen.substr(0, c.fen.rfind(' ', c.fen.rfind(' ') - 1));
        std::string written = fenOf(pos);
        std::string head = written.substr(0, written.rfind(' ', written.rfind(' ') - 1));
        if (!pos.epBitboard) expected = expected.substr(0, expected.rfind(' ')) + " -";
        EXPECT_EQ(head, expected);
    }
}

TEST(Fen, UnusableEnPassantSquareIsDropped) {
    Position with = fromFen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    Position without = fromFen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1");
    EXPECT_EQ(with.epBitboard, 0u);
    EXPECT_EQ(with.key, without.key);
    EXPECT_EQ(with.lastMove, encodeMove(E2, E4));
    EXPECT_EQ(without.lastMove, 0u);

    Position usable = fromFen("rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    EXPECT_EQ(usable.epBitboard, squareBB(E3));
    EXPECT_EQ(usable.key ^ ZobristEp[E3],
              fromFen("rnbqkbnr/ppp1pppp/8/8/3pP3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1").key);
}

TEST(Fen, InconsistentEnPassantSquareIsIgnored) {
    // No white pawn in front of e3: a capture there would take a pawn that is not there.
    Position pos = fromFen("4k3/8/8/8/3p4/8/8/4K3 b - e3 0 1");
    EXPECT_EQ(pos.epBitboard, 0u);
    EXPECT_EQ(pos.lastMove, 0u);
}

TEST(Fen, CastlingLettersAndChess960RookSquares) {
    Position kq = fromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    Position letters = fromFen("r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1");
    EXPECT_EQ(kq.key, letters.key);
    EXPECT_EQ(kq.castleLost, 0);

    Position b = fromFen("1r3k2/8/8/8/8/8/8/1R3K2 w Bb - 0 1");
    EXPECT_EQ(b.castleLost, 15 & ~(2 | 8));
    EXPECT_EQ(castleRookSquare[WHITE_OOO], B1);
    EXPECT_EQ(castleRookSquare[BLACK_OOO], B8);
    EXPECT_EQ(CastleMask[B1], 2);
    EXPECT_EQ(CastleMask[F1], 3);

    // A right without its rook is not granted.
    Position norook = fromFen("4k3/8/8/8/8/8/8/4K3 w KQ - 0 1");
    EXPECT_EQ(norook.castleLost, 15);
    EXPECT_EQ(fenOf(norook), "4k3/8/8/8/8/8/8/4K3 w - - 0 1");
}

TEST(Fen, MalformedPlacementIsReadSafely) {
    const char* cases[] = {
        "9999999999/pppppppppppppppppppp/8/8 w - - 0 1",
        "////////////////////////////////// b - -",
        "rnbqkbnrrnbqkbnrrnbqkbnr/8/8/8/8/8/8/8/8/8/8 w KQkqABCDEFGH z9",
        "xyz w",
        "8/8/8/8/8/8/8/8 w KQkq e3",
    };
    for (const char* fen : cases) {
        Position pos = fromFen(fen);
        EXPECT_EQ(pos.occupied, pos.pieces[WHITE][0] | pos.pieces[BLACK][0]) << fen;
        EXPECT_LE(pos.pieceCount, 64) << fen;
        EXPECT_NE(positionProblem(pos), nullptr) << fen;
    }
    EXPECT_EQ(positionProblem(fromFen("")), nullptr);
    // The side not to move in check, and a pawn on the back rank.
    EXPECT_NE(positionProblem(fromFen("4k3/8/8/8/8/8/8/4R1K1 w - - 0 1")), nullptr);
    EXPECT_NE(positionProblem(fromFen("P3k3/8/8/8/8/8/8/4K3 w - - 0 1")), nullptr);
}

TEST(FenDeathTest, BadSideToMoveExits) {
    initBoardTables();
    EXPECT_EXIT(
        {
            Position pos;
            setFromFen(pos, "8/8/8/8/8/8/8/K6k x - - 0 1");
        },
        testing::ExitedWithCode(1), "Error in ctm for fen");
}

TEST(Keys, IncrementalKeysMatchAFreshSetUp) {
    std::mt19937 rng(7);
    for (const PerftCase& c : loadPerftSuite()) {
        if (c.chess960) continue;
        for (int game = 0; game < 3; game++)
            randomWalk(c.fen, 60, rng,
                       [](const Position&, const Position& child, Move) { expectKeysFresh(child); });
    }
}

TEST(MoveText, CastlingNotationFollowsChess960Option) {
    Position pos = fromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1"), child;
    chess960 = 0;
    EXPECT_EQ(moveText(encodeMove(E1, H1, CASTLING)), "e1g1");
    EXPECT_TRUE(parseAndMakeMove(pos, child, "e1g1"));
    EXPECT_EQ(child.board[G1], makePiece(WHITE, KING));
    EXPECT_EQ(child.board[F1], makePiece(WHITE, ROOK));
    EXPECT_FALSE(parseAndMakeMove(pos, child, "e1h1"));

    chess960 = 1;
    EXPECT_EQ(moveText(encodeMove(E1, A1, CASTLING)), "e1a1");
    EXPECT_TRUE(parseAndMakeMove(pos, child, "e1a1"));
    EXPECT_EQ(child.board[C1], makePiece(WHITE, KING));
    EXPECT_EQ(child.board[D1], makePiece(WHITE, ROOK));
    chess960 = 0;
}

TEST(MoveText, ParsesCaseInsensitivelyAndRejectsNonsense) {
    Position pos = fromFen(""), child;
    EXPECT_TRUE(parseAndMakeMove(pos, child, "E2E4"));
    EXPECT_EQ(child.board[E4], makePiece(WHITE, PAWN));
    for (const char* bad : {"", "e2", "e2e5", "e7e5", "z9z9", "0000", "e1e2", "a1a1"})
        EXPECT_FALSE(parseAndMakeMove(pos, child, bad)) << bad;

    Position promo = fromFen("8/4P1k1/8/8/8/8/8/4K3 w - - 0 1");
    EXPECT_TRUE(parseAndMakeMove(promo, child, "e7e8n"));
    EXPECT_EQ(child.board[E8], makePiece(WHITE, KNIGHT));
    EXPECT_FALSE(parseAndMakeMove(promo, child, "e7e8"));
    EXPECT_EQ(moveText(encodeMove(E7, E8, PROMO_ROOK)), "e7e8r");
    EXPECT_EQ(moveText(MOVE_NONE), "0000");
}

}  // namespace
