// Move generation: the generators against each other and against
// isPseudoLegal over many positions, plus the cases that are easy to get wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "board_test_util.h"

namespace {

std::multiset<Move> asSet(const MoveEntry* list, int n) {
    std::multiset<Move> moves;
    for (int i = 0; i < n; i++) moves.insert(list[i].move);
    return moves;
}

std::set<Move> legalSubset(const Position& pos, const std::multiset<Move>& moves) {
    std::set<Move> legal;
    Position child;
    for (Move m : moves)
        if (makeMove(pos, child, m)) legal.insert(m);
    return legal;
}

std::vector<std::string> texts(const MoveEntry* list, int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; i++) out.push_back(moveText(list[i].move));
    return out;
}

// Over positions from random games of every suite line: tactical + quiet moves
// are exactly the pseudo-legal moves, each once; generateAll gives the same
// legal moves; evasions give the same legal moves in check; and isPseudoLegal
// accepts exactly the generated moves among a wide set of candidates.
TEST(MoveGen, GeneratorsAgreeWithEachOtherAndWithIsPseudoLegal) {
    std::mt19937 rng(11);
    int inCheck = 0;
    for (const PerftCase& c : loadPerftSuite()) {
        chess960 = c.chess960;
        for (int game = 0; game < 4; game++) {
            randomWalk(c.fen, 80, rng, [&](const Position&, const Position& pos, Move) {
                MoveEntry list[MAX_MOVES];
                int nt = generateTactical(pos, list);
                int nq = generateQuiet(pos, list + nt);
                std::multiset<Move> split = asSet(list, nt + nq);
                for (Move m : split) ASSERT_EQ(split.count(m), 1u) << moveText(m);
                for (Move m : split) ASSERT_TRUE(isPseudoLegal(pos, m)) << moveText(m);

                int na = generateAll(pos, list);
                std::multiset<Move> all = asSet(list, na);
                for (Move m : all) ASSERT_EQ(all.count(m), 1u) << moveText(m);
                std::set<Move> legal = legalSubset(pos, split);
                ASSERT_EQ(legalSubset(pos, all), legal);

                if (pos.checkers) {
                    inCheck++;
                    int ne = generateEvasions(pos, list);
                    ASSERT_EQ(legalSubset(pos, asSet(list, ne)), legal);
                }
                // Candidates: every origin/destination pair with every kind.
                for (int i = 0; i < 200; i++) {
                    Move m = Move(rng() & 0xFFFF);
                    Move own = Move((m & 0xF03F) | (lsb(pos.pieces[pos.sideToMove()][0]) << 6));
                    for (Move cand : {m, own})
                        ASSERT_EQ(isPseudoLegal(pos, cand), split.count(cand) == 1)
                            << moveText(cand) << " kind " << moveKind(cand) << " in " << [&] {
                                   char f[128];
                                   writeFen(pos, f);
                                   return std::string(f);
                               }();
                }
            });
        }
    }
    chess960 = 0;
    EXPECT_GT(inCheck, 100);
}

TEST(MoveGen, StartPosition) {
    Position pos = fromFen("");
    MoveEntry list[MAX_MOVES];
    EXPECT_EQ(generateAll(pos, list), 20);
    EXPECT_EQ(generateTactical(pos, list), 0);
    EXPECT_EQ(generateQuiet(pos, list), 20);
}

TEST(MoveGen, DoubleCheckAllowsOnlyKingMoves) {
    // Knight on f6 and rook on e1 both check the king on e8.
    Position pos = fromFen("4k3/8/5N2/8/8/8/8/4R1K1 b - - 0 1");
    ASSERT_TRUE(moreThanOne(pos.checkers));
    MoveEntry list[MAX_MOVES];
    int n = generateEvasions(pos, list);
    ASSERT_GT(n, 0);
    for (int i = 0; i < n; i++) EXPECT_EQ(moveFrom(list[i].move), E8);
}

TEST(MoveGen, KingCannotRetreatAlongTheCheckingLine) {
    Position pos = fromFen("4k3/8/8/8/4K3/8/8/4r3 w - - 0 1");
    MoveEntry list[MAX_MOVES];
    std::vector<std::string> moves = texts(list, generateEvasions(pos, list));
    EXPECT_EQ(std::count(moves.begin(), moves.end(), "e4e5"), 0);
    EXPECT_EQ(std::count(moves.begin(), moves.end(), "e4d4"), 1);
}

TEST(MoveGen, PromotionsAreSplitBetweenTacticalAndQuiet) {
    // Knight promotions on b8 or a8 would not check the king on h1... but c6
    // is attacked from b8 and a8 by nothing, so no knight promotion checks.
    Position pos = fromFen("r6k/1P6/8/8/8/8/8/7K w - - 0 1");
    MoveEntry list[MAX_MOVES];
    EXPECT_EQ(texts(list, generateTactical(pos, list)), (std::vector<std::string>{"b7a8q", "b7b8q"}));
    std::vector<std::string> quiet = texts(list, generateQuiet(pos, list));
    for (const char* m : {"b7b8n", "b7b8r", "b7b8b", "b7a8n", "b7a8r", "b7a8b"})
        EXPECT_EQ(std::count(quiet.begin(), quiet.end(), m), 1) << m;

    // With the black king on c6, the knight promotion on b8 checks and becomes tactical.
    Position check = fromFen("r7/1P6/2k5/8/8/8/8/7K w - - 0 1");
    std::vector<std::string> tactical = texts(list, generateTactical(check, list));
    EXPECT_EQ(tactical, (std::vector<std::string>{"b7a8q", "b7b8q", "b7b8n"}));
}

TEST(MoveGen, IsPseudoLegalRejectsBadPawnAndCastlingMoves) {
    Position pos = fromFen("4k3/1P6/8/8/8/8/8/R3K2R w KQ - 0 1");
    EXPECT_FALSE(isPseudoLegal(pos, encodeMove(B7, B8, NORMAL)));
    EXPECT_TRUE(isPseudoLegal(pos, encodeMove(B7, B8, PROMO_QUEEN)));
    EXPECT_TRUE(isPseudoLegal(pos, encodeMove(E1, H1, CASTLING)));
    // A black rook on f8 attacks f1, which the king crosses.
    Position attacked = fromFen("4kr2/8/8/8/8/8/8/R3K2R w KQ - 0 1");
    EXPECT_FALSE(isPseudoLegal(attacked, encodeMove(E1, H1, CASTLING)));
    EXPECT_TRUE(isPseudoLegal(attacked, encodeMove(E1, A1, CASTLING)));
}

TEST(MoveGen, Chess960CastlingNeedsPathEmptyAndUnattacked) {
    chess960 = 1;
    // King g1, queen-side rook b1: c1..f1 must be empty and c1..g1 unattacked.
    Position clear = fromFen("1r4k1/8/8/8/8/8/8/1R4K1 w Bb - 0 1");
    EXPECT_TRUE(isPseudoLegal(clear, encodeMove(G1, B1, CASTLING)));
    Position blocked = fromFen("1r4k1/8/8/8/8/8/8/1R2N1K1 w Bb - 0 1");
    EXPECT_FALSE(isPseudoLegal(blocked, encodeMove(G1, B1, CASTLING)));
    Position attacked = fromFen("1r1r2k1/8/8/8/8/8/8/1R4K1 w Bb - 0 1");
    EXPECT_FALSE(isPseudoLegal(attacked, encodeMove(G1, B1, CASTLING)));
    chess960 = 0;
}

}  // namespace
