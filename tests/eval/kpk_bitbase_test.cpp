// The king-and-pawn-versus-king bitbase against the Syzygy KPvK tables,
// probed through the fathom library: every legal position, both sides to move.
#include <gtest/gtest.h>
#include <tbprobe.h>

#include <string>

#include "../board/board_test_util.h"
#include "board/bitboard.h"
#include "board/position.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/material.h"
#include "eval/special_material.h"

namespace {

// Syzygy's verdict for the pawn side (White), or -1 when the probe fails.
// Cursed wins (won, but not within fifty moves) still count as wins.
int syzygyPawnSideWins(Square whiteKing, Square pawn, Square blackKing, Color toMove) {
    unsigned wdl = tb_probe_wdl(squareBB(whiteKing) | squareBB(pawn), squareBB(blackKing),
                                squareBB(whiteKing) | squareBB(blackKing), 0, 0, 0, 0, squareBB(pawn), 0, 0,
                                0, toMove == WHITE);
    if (wdl == TB_RESULT_FAILED) return -1;
    return toMove == WHITE ? wdl >= TB_CURSED_WIN : wdl <= TB_BLESSED_LOSS;
}

// Legal with the pawn on ranks 2-7: distinct squares, kings apart, and the
// side not to move not in check.
bool legal(Square whiteKing, Square pawn, Square blackKing, Color toMove) {
    if (whiteKing == pawn || blackKing == pawn || whiteKing == blackKing) return false;
    if (KingAttacks[whiteKing] & squareBB(blackKing)) return false;
    return toMove == BLACK || !(PawnAttacks[WHITE][pawn] & squareBB(blackKing));
}

// FEN of a KPK position; with `blackPawn` the colours are exchanged (board
// mirrored top to bottom), so that Black is the pawn side.
std::string kpkFen(Square whiteKing, Square pawn, Square blackKing, Color toMove, bool blackPawn) {
    char board[64];
    for (char& c : board) c = 0;
    int flip = blackPawn ? 56 : 0;
    board[whiteKing ^ flip] = blackPawn ? 'k' : 'K';
    board[pawn ^ flip] = blackPawn ? 'p' : 'P';
    board[blackKing ^ flip] = blackPawn ? 'K' : 'k';
    std::string fen;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            char c = board[makeSquare(file, rank)];
            if (!c) {
                empty++;
                continue;
            }
            if (empty) fen += char('0' + empty);
            empty = 0;
            fen += c;
        }
        if (empty) fen += char('0' + empty);
        if (rank) fen += '/';
    }
    bool whiteToMove = (toMove == WHITE) != blackPawn;
    return fen + (whiteToMove ? " w - - 0 1" : " b - - 0 1");
}

class KpkBitbaseTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        initMaterialWeights();
        buildSpecialMaterialTable();
        buildKpkBitbase();
        ASSERT_TRUE(tb_init(SABLE_DATA_DIR "/syzygy"));
        ASSERT_GE(TB_LARGEST, 3u);
    }
};

TEST_F(KpkBitbaseTest, AgreesWithSyzygyOnEveryPosition) {
    int positions = 0, wins = 0, mismatches = 0;
    for (Square pawn = A2; pawn <= H7; pawn++)
        for (Square whiteKing = 0; whiteKing < 64; whiteKing++)
            for (Square blackKing = 0; blackKing < 64; blackKing++)
                for (Color toMove : {WHITE, BLACK}) {
                    if (!legal(whiteKing, pawn, blackKing, toMove)) continue;
                    int expected = syzygyPawnSideWins(whiteKing, pawn, blackKing, toMove);
                    ASSERT_NE(expected, -1) << kpkFen(whiteKing, pawn, blackKing, toMove, false);
                    bool win = kpkWhiteWins(whiteKing, pawn, blackKing, toMove);
                    positions++;
                    wins += expected;
                    if (win != bool(expected) && ++mismatches <= 10)
                        ADD_FAILURE() << kpkFen(whiteKing, pawn, blackKing, toMove, false)
                                      << ": bitbase says " << (win ? "win" : "draw");
                }
    EXPECT_EQ(mismatches, 0);
    // Both outcomes occur in numbers, so the comparison was not one-sided.
    EXPECT_GT(wins, positions / 2);
    EXPECT_LT(wins, positions);
}

// The KPK evaluator through the material evaluation, for either pawn colour:
// a win scores 6500 + 160 per rank of progress, a draw 30, scale 0.0.
TEST_F(KpkBitbaseTest, EvaluatorFollowsSyzygyForBothColours) {
    Position pos;
    int sampled = 0;
    for (int n = 0; n < 64 * 64 * 48 * 2; n += 37) {
        Square blackKing = n % 64, whiteKing = (n / 64) % 64, pawn = A2 + (n / 4096) % 48;
        Color toMove = Color(n / (4096 * 48));
        if (!legal(whiteKing, pawn, blackKing, toMove)) continue;
        bool win = syzygyPawnSideWins(whiteKing, pawn, blackKing, toMove) == 1;
        int32_t expected = 96 * (win ? 6500 + 160 * rankOf(pawn) : 30);
        for (bool blackPawn : {false, true}) {
            std::string fen = kpkFen(whiteKing, pawn, blackKing, toMove, blackPawn);
            setFromFen(pos, fen.c_str());
            float scale = 1.0f;
            ASSERT_EQ(evaluateMaterial(pos, &scale), blackPawn ? -expected : expected) << fen;
            ASSERT_EQ(scale, 0.0f) << fen;
        }
        sampled++;
    }
    EXPECT_GT(sampled, 5000);
}

}  // namespace
