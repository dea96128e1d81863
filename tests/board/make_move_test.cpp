// Making moves (en passant, castling, legality, node counting) and the check
// test for a move.
#include <gtest/gtest.h>

#include "board_test_util.h"

namespace {

TEST(MakeMove, EnPassantSquareAppearsOnlyWhenUsable) {
    Position game[5];
    game[0] = fromFen("");
    const char* moves[] = {"e2e4", "d7d5", "e4e5", "f7f5"};
    for (int i = 0; i < 4; i++) ASSERT_TRUE(parseAndMakeMove(game[i], game[i + 1], moves[i]));
    EXPECT_EQ(game[1].epBitboard, 0u);
    EXPECT_EQ(game[1].key, fromFen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1").key);
    EXPECT_EQ(game[4].epBitboard, squareBB(F6));

    Position after;
    ASSERT_TRUE(parseAndMakeMove(game[4], after, "e5f6"));
    EXPECT_EQ(moveKind(Move(after.lastMove)), EN_PASSANT);
    EXPECT_EQ(after.board[F5], NO_PIECE);
    EXPECT_EQ(after.board[F6], makePiece(WHITE, PAWN));
    EXPECT_EQ(after.capturedType, PAWN);
    EXPECT_EQ(after.pieceCount, 31);
    EXPECT_EQ(after.rule50, 0);
}

TEST(MakeMove, IllegalMovesAreRefusedNullMoveNeverIs) {
    // The knight on e2 is pinned by the rook on e8.
    Position pos = fromFen("4r1k1/8/8/8/8/8/4N3/4K3 w - - 0 1"), child;
    EXPECT_FALSE(makeMove(pos, child, encodeMove(E2, C3)));
    EXPECT_TRUE(makeMove(pos, child, encodeMove(E1, D1)));
    EXPECT_TRUE(makeMove(pos, child, MOVE_NONE));
    EXPECT_EQ(child.sideToMove(), BLACK);
    EXPECT_EQ(child.dirtyPieces.count, 0);
    EXPECT_EQ(child.rule50, 1);
}

TEST(MakeMove, Chess960KingMayLandOnItsRooksSquare) {
    chess960 = 1;
    // King d1, rook c1: queen-side castling swaps them.
    Position pos = fromFen("4k3/8/8/8/8/8/8/2RK4 w C - 0 1"), child;
    ASSERT_TRUE(parseAndMakeMove(pos, child, "d1c1"));
    EXPECT_EQ(child.board[C1], makePiece(WHITE, KING));
    EXPECT_EQ(child.board[D1], makePiece(WHITE, ROOK));
    EXPECT_EQ(popcount(child.pieces[WHITE][0]), 2);
    EXPECT_EQ(child.kingSquare[WHITE], C1);
    EXPECT_EQ(child.castleLost & 3, 3);

    // The castling rook on b1 shields the king on c1 from the queen on a1:
    // castling queen side would leave the king in check.
    Position shield = fromFen("4k3/8/8/8/8/8/8/qRK5 w B - 0 1");
    EXPECT_FALSE(makeMove(shield, child, encodeMove(C1, B1, CASTLING)));
    chess960 = 0;
}

TEST(MakeMove, DirtyPiecesDescribeTheChange) {
    Position pos = fromFen("3r3k/4P3/8/8/8/8/8/K7 w - - 0 1"), child;
    ASSERT_TRUE(makeMove(pos, child, encodeMove(E7, D8, PROMO_QUEEN)));
    const DirtyPieces& d = child.dirtyPieces;
    ASSERT_EQ(d.count, 3);
    EXPECT_EQ(d.piece[0], makePiece(WHITE, PAWN));
    EXPECT_EQ(d.to[0], SQ_NONE);
    EXPECT_EQ(d.piece[1], makePiece(BLACK, ROOK));
    EXPECT_EQ(d.from[1], D8);
    EXPECT_EQ(d.to[1], SQ_NONE);
    EXPECT_EQ(d.piece[2], makePiece(WHITE, QUEEN));
    EXPECT_EQ(d.from[2], SQ_NONE);
    EXPECT_EQ(d.to[2], D8);
    EXPECT_EQ(child.phase, pos.phase - 8 + 18);
}

// givesCheck agrees with making the move and looking, for every move of many
// positions. Promotions are the exception by design: only the pawn's own
// attack counts there, not the new piece's.
TEST(GivesCheck, AgreesWithMakingTheMove) {
    std::mt19937 rng(5);
    int checks = 0;
    for (const PerftCase& c : loadPerftSuite()) {
        chess960 = c.chess960;
        for (int game = 0; game < 3; game++)
            randomWalk(c.fen, 80, rng, [&](const Position&, const Position& pos, Move) {
                Position child;
                for (Move m : legalMoves(pos)) {
                    if (isPromotion(m)) continue;
                    makeMove(pos, child, m);
                    bool check = computeCheckers(child) != 0;
                    checks += check;
                    ASSERT_EQ(givesCheck(pos, m), check) << moveText(m);
                }
            });
    }
    chess960 = 0;
    EXPECT_GT(checks, 500);
}

TEST(GivesCheck, NamedCases) {
    // Rook move uncovers the bishop on b1 aimed at h7.
    Position disc = fromFen("8/7k/8/8/8/8/2R5/1B4K1 w - - 0 1");
    EXPECT_TRUE(givesCheck(disc, encodeMove(C2, C8)));
    // Castling king side: the rook on f1 checks the king on f8 along the open file.
    Position castle = fromFen("5k2/8/8/8/8/8/8/4K2R w K - 0 1");
    EXPECT_TRUE(givesCheck(castle, encodeMove(E1, H1, CASTLING)));
    // A queen promotion that checks only through the new queen does not count.
    Position promo = fromFen("8/P7/8/8/8/8/k7/7K w - - 0 1");
    EXPECT_FALSE(givesCheck(promo, encodeMove(A7, A8, PROMO_QUEEN)));
}

TEST(HasLegalMove, MateAndStalemate) {
    EXPECT_TRUE(hasLegalMove(fromFen("")));
    EXPECT_FALSE(hasLegalMove(fromFen("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1")));  // stalemate
    EXPECT_FALSE(hasLegalMove(fromFen("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1")));  // mate
}

}  // namespace
