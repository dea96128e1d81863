// Move ordering: every stage sequence of the picker over many random
// positions with scrambled histories (each move once, stages in order, keys
// in order), the single-move stages and the losing-capture deferral on small
// fixtures, the quiet-check generator, the continuation slices that making a
// move sets, and the history update rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "../board/board_test_util.h"
#include "search/history.h"
#include "search/move_picker.h"
#include "search/search_move.h"
#include "search/search_tables.h"
#include "search/search_thread.h"

namespace {

HistoryTable& mainHistoryTable() {
    return searchThreads[0]->history;
}

// Positions set up from text use thread 0's tables; every test leaves them
// at their starting values.
class MoveOrderingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        initBoardTables();
        initSearchTables();
        resetHistoryTable(mainHistoryTable());
    }
    void TearDown() override {
        resetHistoryTable(mainHistoryTable());
        chess960 = 0;
    }
};

struct Picked {
    Move move;
    uint8_t stage;
};

std::vector<Picked> pickAll(const Position& pos, int sequence, Move tableMove = 0, Move killer1 = 0,
                            Move killer2 = 0, Move counter = 0, bool defer = true) {
    MovePicker picker;
    startPicker(picker, pos, sequence, tableMove, killer1, killer2, counter);
    picker.deferLosingCaptures = defer;
    std::vector<Picked> out;
    while (Move m = nextMove(picker)) {
        out.push_back({m, picker.lastStage});
        if (out.size() > 2 * MAX_MOVES) break;  // a broken picker must not loop forever
    }
    return out;
}

std::vector<std::string> texts(const std::vector<Picked>& picked) {
    std::vector<std::string> out;
    for (const Picked& p : picked) out.push_back(moveText(p.move));
    return out;
}

std::vector<Move> generated(const Position& pos, int (*generate)(const Position&, MoveEntry*)) {
    MoveEntry list[MAX_MOVES];
    int n = generate(pos, list);
    std::vector<Move> moves;
    for (int i = 0; i < n; i++) moves.push_back(list[i].move);
    return moves;
}

bool isCaptureOnBoard(const Position& pos, Move m) {
    return moveKind(m) != CASTLING && pos.board[moveTo(m)] != NO_PIECE;
}

bool isQuietKillerCandidate(const Position& pos, Move m) {
    return m && isPseudoLegal(pos, m) && !isPromotion(m) && moveKind(m) != EN_PASSANT &&
           (moveKind(m) == CASTLING || pos.board[moveTo(m)] == NO_PIECE);
}

// The sequences as lists of stage codes, written out independently of the
// picker's own table.
const std::map<int, std::vector<uint8_t>> Sequences = {
    {PICK_MAIN, {1, 2, 3, 4, 5, 6, 10, 11}},
    {PICK_EVASIONS, {1, 7, 10, 11}},
    {PICK_QSEARCH, {1, 13, 11}},
    {PICK_QSEARCH_CHECKS, {1, 13, 12, 11}},
    {PICK_FUTILITY, {1, 2, 3, 5, 8, 9, 11}},
    {PICK_FUTILITY_DEEP, {1, 2, 3, 5, 8, 9, 10, 11}},
    {PICK_EVASIONS_NO_DEFER, {1, 7, 11}},
    {PICK_PROBCUT, {14, 13, 15, 11}},
};

// Fills the thread's histories with random values within their gravity
// bounds, so that sorting has something to do.
void scrambleHistory(HistoryTable& table, std::mt19937& rng) {
    for (auto& row : table.mainHistory)
        for (int32_t& h : row) h = int32_t(rng() % 32001);
    for (auto& byPiece : table.captureHistory)
        for (auto& bySquare : byPiece)
            for (int32_t& h : bySquare) h = 2662 + int32_t(rng() % (13338 - 2662 + 1));
    PieceToHistory* rows = &table.continuation[0][0][0][0];
    for (int r = 0; r < 2 * 2 * 15 * 64; r++)
        for (auto& byPiece : rows[r].entry)
            for (uint16_t& c : byPiece) c = uint16_t(rng() % 64001);
}

// Checks the order inside one sorted stage: keys never rise, and equal keys
// keep the generator's order.
void expectSortedRun(const std::vector<Picked>& picked, uint8_t stage,
                     const std::vector<Move>& generationOrder, int16_t (*key)(const Position&, Move),
                     const Position& pos) {
    const Picked* previous = nullptr;
    for (const Picked& p : picked) {
        if (p.stage != stage) continue;
        if (previous) {
            int16_t a = key(pos, previous->move), b = key(pos, p.move);
            ASSERT_GE(a, b) << moveText(previous->move) << " before " << moveText(p.move);
            if (a == b) {
                auto ia = std::find(generationOrder.begin(), generationOrder.end(), previous->move);
                auto ib = std::find(generationOrder.begin(), generationOrder.end(), p.move);
                ASSERT_LT(ia, ib) << moveText(previous->move) << " before " << moveText(p.move);
            }
        }
        previous = &p;
    }
}

int16_t quietKey(const Position& pos, Move m) {
    return quietOrderKey(combinedQuietHistory(pos, m));
}

// Evasion classes in the order they must come: promotions, captures, killer
// 1, killer 2, the other quiet evasions.
int evasionClass(const Position& pos, Move m, Move killer1, Move killer2) {
    if (isPromotion(m)) return 0;
    if (moveKind(m) == EN_PASSANT || pos.board[moveTo(m)] != NO_PIECE) return 1;
    if (m == killer1) return 2;
    if (m == killer2) return 3;
    return 4;
}

// The moves each sequence must yield, as a set, given the candidates.
std::set<Move> expectedMoves(const Position& pos, int sequence, Move tableMove, Move killer1, Move counter) {
    std::set<Move> expected;
    std::vector<Move> tactical = generated(pos, generateTactical), quiet = generated(pos, generateQuiet);
    auto addAll = [&](const std::vector<Move>& moves) { expected.insert(moves.begin(), moves.end()); };
    switch (sequence) {
        case PICK_MAIN:
            addAll(tactical);
            addAll(quiet);
            break;
        case PICK_EVASIONS:
        case PICK_EVASIONS_NO_DEFER:
            addAll(generated(pos, generateEvasions));
            break;
        case PICK_QSEARCH:
        case PICK_PROBCUT:
            addAll(tactical);
            break;
        case PICK_QSEARCH_CHECKS:
            addAll(tactical);
            addAll(generated(pos, generateQuietChecks));
            break;
        case PICK_FUTILITY:
        case PICK_FUTILITY_DEEP:
            for (Move m : tactical)
                if (sequence == PICK_FUTILITY_DEEP || !isCaptureOnBoard(pos, m) || !seeBad(pos, m))
                    expected.insert(m);
            addAll(generated(pos, generateQuietChecks));
            for (Move m : quiet)
                if (typeOf(pos.board[moveFrom(m)]) == PAWN && moveKind(m) == NORMAL &&
                    relativeRank(pos.sideToMove(), moveTo(m)) == 6)
                    expected.insert(m);
            for (Move m : {killer1, counter})
                if (isQuietKillerCandidate(pos, m)) expected.insert(m);
            break;
    }
    if (tableMove && isPseudoLegal(pos, tableMove)) expected.insert(tableMove);
    return expected;
}

// A random candidate for the table move, a killer or the counter move: a
// generated quiet or tactical move, a random 16-bit value, or none.
Move randomCandidate(const Position& pos, std::mt19937& rng) {
    std::vector<Move> quiet = generated(pos, generateQuiet), tactical = generated(pos, generateTactical);
    switch (rng() % 5) {
        case 0:
            return quiet.empty() ? Move(0) : quiet[rng() % quiet.size()];
        case 1:
            return tactical.empty() ? Move(0) : tactical[rng() % tactical.size()];
        case 2:
            return Move(rng() & 0xFFFF);
        case 3:
            return quiet.empty() ? Move(0) : quiet[0];
        default:
            return 0;
    }
}

void checkSequence(const Position& pos, int start, bool withTableMove, Move tableMove, Move killer1,
                   Move killer2, Move counter) {
    const std::vector<uint8_t>& stages = Sequences.at(start);
    int sequence = withTableMove ? start : start + 1;
    Move table = withTableMove ? tableMove : Move(0);
    std::vector<Picked> picked = pickAll(pos, sequence, table, killer1, killer2, counter);

    // Each move once, all pseudo-legal, exactly the expected set.
    std::set<Move> seen;
    for (const Picked& p : picked) {
        ASSERT_TRUE(seen.insert(p.move).second) << "twice: " << moveText(p.move) << " sequence " << start;
        ASSERT_TRUE(isPseudoLegal(pos, p.move)) << moveText(p.move);
    }
    ASSERT_EQ(seen, expectedMoves(pos, start, table, killer1, counter)) << "sequence " << start;

    // Stages in sequence order; the table-move stage only with a table move.
    size_t at = withTableMove ? 0 : 1;
    for (const Picked& p : picked) {
        while (at < stages.size() && stages[at] != p.stage) at++;
        ASSERT_LT(at, stages.size()) << "stage " << int(p.stage) << " out of order in sequence " << start;
    }

    std::vector<Move> tactical = generated(pos, generateTactical), quiet = generated(pos, generateQuiet);
    for (const Picked& p : picked) {
        switch (p.stage) {
            case STAGE_TABLE_MOVE:
            case STAGE_PROBCUT_TABLE_MOVE:
                ASSERT_EQ(p.move, table);
                ASSERT_EQ(&p, &picked.front());
                break;
            case STAGE_CAPTURES:  // losing captures go to the deferred stage
                ASSERT_FALSE(isCaptureOnBoard(pos, p.move) && seeBad(pos, p.move)) << moveText(p.move);
                break;
            case STAGE_DEFERRED_CAPTURES:
                ASSERT_TRUE(isCaptureOnBoard(pos, p.move) && seeBad(pos, p.move)) << moveText(p.move);
                break;
            case STAGE_KILLER_1:
                ASSERT_EQ(p.move, killer1);
                break;
            case STAGE_KILLER_2:
                ASSERT_EQ(p.move, killer2);
                break;
            case STAGE_COUNTER_MOVE:
                ASSERT_EQ(p.move, counter);
                break;
            default:
                break;
        }
    }
    // A valid killer or counter move that is new comes from its own stage.
    bool hasKillerStages = std::count(stages.begin(), stages.end(), STAGE_KILLER_1) > 0;
    if (hasKillerStages && isQuietKillerCandidate(pos, killer1) && killer1 != table) {
        ASSERT_TRUE(std::any_of(picked.begin(), picked.end(), [&](const Picked& p) {
            return p.move == killer1 && p.stage == STAGE_KILLER_1;
        }));
    }

    expectSortedRun(picked, STAGE_CAPTURES, tactical, captureOrderKey, pos);
    expectSortedRun(picked, STAGE_DEFERRED_CAPTURES, tactical, captureOrderKey, pos);
    expectSortedRun(picked, STAGE_ALL_CAPTURES, tactical, captureOrderKey, pos);
    expectSortedRun(picked, STAGE_QUIETS, quiet, quietKey, pos);

    int previousClass = 0;
    for (const Picked& p : picked) {
        if (p.stage != STAGE_EVASIONS) continue;
        int c = evasionClass(pos, p.move, killer1, killer2);
        ASSERT_GE(c, previousClass) << moveText(p.move);
        previousClass = c;
    }
}

TEST_F(MoveOrderingTest, EverySequenceYieldsEachMoveOnceInStageOrder) {
    std::mt19937 rng(2024);
    scrambleHistory(mainHistoryTable(), rng);
    int positions = 0, inCheck = 0, deferred = 0;
    for (const PerftCase& c : loadPerftSuite()) {
        chess960 = c.chess960;
        for (int game = 0; game < 2; game++) {
            randomWalk(c.fen, 50, rng, [&](const Position&, const Position& pos, Move) {
                Move table = randomCandidate(pos, rng), killer1 = randomCandidate(pos, rng);
                Move killer2 = rng() % 4 == 0 ? killer1 : randomCandidate(pos, rng);
                Move counter = rng() % 4 == 0 ? table : randomCandidate(pos, rng);
                std::vector<int> starts = {PICK_EVASIONS, PICK_EVASIONS_NO_DEFER};
                if (!pos.checkers)
                    starts = {PICK_MAIN,     PICK_QSEARCH,       PICK_QSEARCH_CHECKS,
                              PICK_FUTILITY, PICK_FUTILITY_DEEP, PICK_PROBCUT};
                for (int start : starts)
                    for (bool withTable : {true, false}) {
                        checkSequence(pos, start, withTable, table, killer1, killer2, counter);
                        if (HasFatalFailure()) return;
                    }
                positions++;
                inCheck += pos.checkers != 0;
                for (const Picked& p : pickAll(pos, PICK_MAIN + 1))
                    deferred += p.stage == STAGE_DEFERRED_CAPTURES;
            });
            if (HasFatalFailure()) return;
        }
    }
    // The walk must have exercised the interesting stages.
    EXPECT_GT(positions, 3000);
    EXPECT_GT(inCheck, 100);
    EXPECT_GT(deferred, 500);
}

// Perft's use of the picker: with deferral off and no candidates, the whole
// pseudo-legal list comes out, captures first.
TEST_F(MoveOrderingTest, WithoutDeferralCapturesComeFirstAndAllMovesOnce) {
    Position pos = fromFen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
    std::vector<Picked> picked = pickAll(pos, PICK_MAIN + 1, 0, 0, 0, 0, false);
    std::vector<Move> tactical = generated(pos, generateTactical);
    ASSERT_EQ(picked.size(), tactical.size() + generated(pos, generateQuiet).size());
    for (size_t i = 0; i < picked.size(); i++)
        EXPECT_EQ(picked[i].stage, i < tactical.size() ? STAGE_CAPTURES : STAGE_QUIETS) << i;
}

TEST_F(MoveOrderingTest, TableMoveMustBePseudoLegal) {
    Position pos = fromFen("");
    for (Move bad : {encodeMove(E2, E5), encodeMove(E7, E5), encodeMove(E1, H1, CASTLING), Move(0xFFFF)})
        for (int start : {PICK_MAIN, PICK_QSEARCH_CHECKS, PICK_FUTILITY, PICK_PROBCUT}) {
            std::vector<Picked> picked = pickAll(pos, start, bad);
            for (const Picked& p : picked) ASSERT_NE(p.move, bad) << start;
        }
    std::vector<Picked> picked = pickAll(pos, PICK_MAIN, encodeMove(G1, F3));
    ASSERT_EQ(picked.size(), 20u);
    EXPECT_EQ(moveText(picked[0].move), "g1f3");
}

TEST_F(MoveOrderingTest, KillersAndCounterMoveAreQuietNewAndPseudoLegal) {
    // White: Nf3 can take e5; quiet moves aplenty.
    Position pos = fromFen("4k3/8/8/4p3/8/5N2/8/4K3 w - - 0 1");
    Move capture = encodeMove(F3, E5), knightQuiet = encodeMove(F3, G5), kingQuiet = encodeMove(E1, D2);
    Move illegal = encodeMove(F3, F5);
    struct Case {
        Move table, killer1, killer2, counter;
        std::vector<std::string> expectedFront;
    };
    const Case cases[] = {
        {0, knightQuiet, kingQuiet, 0, {"f3e5", "f3g5", "e1d2"}},
        {knightQuiet, knightQuiet, kingQuiet, 0, {"f3g5", "f3e5", "e1d2"}},  // killer = table move
        {0, knightQuiet, knightQuiet, knightQuiet, {"f3e5", "f3g5"}},        // duplicates
        {0, capture, illegal, kingQuiet, {"f3e5", "e1d2"}},                  // capture, not pseudo-legal
    };
    for (const Case& c : cases) {
        std::vector<Picked> picked =
            pickAll(pos, c.table ? PICK_MAIN : PICK_MAIN + 1, c.table, c.killer1, c.killer2, c.counter);
        std::vector<std::string> all = texts(picked);
        ASSERT_GE(all.size(), c.expectedFront.size());
        EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + c.expectedFront.size()),
                  c.expectedFront);
        std::set<std::string> unique(all.begin(), all.end());
        EXPECT_EQ(unique.size(), all.size());
        EXPECT_EQ(all.size(), 1 + 6 + 5u);  // Nxe5, six quiet knight moves and five king moves
        ASSERT_EQ(picked[c.expectedFront.size()].stage, STAGE_QUIETS);
    }
}

TEST_F(MoveOrderingTest, LosingCapturesComeLastAndQuietsCanBeSwitchedOff) {
    // Qxd5 loses the queen to exd5; Nxe5 takes a pawn nothing defends.
    Position pos = fromFen("4k3/8/4p3/3pp3/8/5N2/8/3QK3 w - - 0 1");
    std::vector<Picked> picked = pickAll(pos, PICK_MAIN + 1);
    EXPECT_EQ(moveText(picked.front().move), "f3e5");
    EXPECT_EQ(moveText(picked.back().move), "d1d5");
    EXPECT_EQ(picked.back().stage, STAGE_DEFERRED_CAPTURES);

    // Futility mode without the deferred stage drops it altogether.
    for (const Picked& p : pickAll(pos, PICK_FUTILITY + 1)) EXPECT_NE(moveText(p.move), "d1d5");

    // Switching quiet moves off in the middle of the quiet stage: the losing
    // capture still comes, nothing else does.
    MovePicker picker;
    startPicker(picker, pos, PICK_MAIN + 1, 0, 0, 0, 0);
    EXPECT_EQ(moveText(nextMove(picker)), "f3e5");
    EXPECT_EQ(picker.lastStage, STAGE_CAPTURES);
    EXPECT_TRUE(isWinningCaptureStage(picker));
    nextMove(picker);
    EXPECT_EQ(picker.lastStage, STAGE_QUIETS);
    picker.quietsOff = true;
    EXPECT_EQ(moveText(nextMove(picker)), "d1d5");
    EXPECT_FALSE(isWinningCaptureStage(picker));
    EXPECT_EQ(nextMove(picker), MOVE_NONE);
    EXPECT_EQ(nextMove(picker), MOVE_NONE);
}

TEST_F(MoveOrderingTest, CapturesByValueThenCaptureHistory) {
    // Pawn takes queen, knight takes rook, bishop takes knight, queen takes pawn.
    Position pos = fromFen("4k3/8/2q5/pP3r2/3n4/6N1/1B6/Q3K3 w - - 0 1");
    auto order = [&] {
        std::vector<std::string> out;
        for (const Picked& p : pickAll(pos, PICK_QSEARCH + 1)) out.push_back(moveText(p.move));
        return out;
    };
    EXPECT_EQ(order(), (std::vector<std::string>{"b5c6", "g3f5", "b2d4", "a1a5"}));
    // Capture history moves captures past each other.
    mainHistoryTable().captureHistory[makePiece(WHITE, BISHOP)][D4][makePiece(BLACK, KNIGHT)] = 13338;
    mainHistoryTable().captureHistory[makePiece(WHITE, KNIGHT)][F5][makePiece(BLACK, ROOK)] = 2662;
    EXPECT_EQ(order(), (std::vector<std::string>{"b5c6", "b2d4", "a1a5", "g3f5"}));
}

TEST_F(MoveOrderingTest, PromotionKeys) {
    // b7 can take a8 or push to b8; only the knight on b8 checks the king on c6.
    Position pos = fromFen("r7/1P6/2k5/8/8/8/8/7K w - - 0 1");
    struct Case {
        Move move;
        int16_t key;
    };
    for (Case c :
         {Case{encodeMove(B7, A8, PROMO_QUEEN), 32000}, Case{encodeMove(B7, B8, PROMO_QUEEN), 7515 + 8000},
          Case{encodeMove(B7, B8, PROMO_KNIGHT), 2148}, Case{encodeMove(B7, A8, PROMO_KNIGHT), 2148 + 3871}})
        EXPECT_EQ(captureOrderKey(pos, c.move), c.key) << moveText(c.move);
    std::vector<std::string> order = texts(pickAll(pos, PICK_QSEARCH + 1));
    EXPECT_EQ(order, (std::vector<std::string>{"b7a8q", "b7b8q", "b7b8n"}));
}

TEST_F(MoveOrderingTest, QuietOrderFollowsHistoryAndKeepsGenerationOrderOnTies) {
    Position start = fromFen("");
    std::vector<Picked> picked = pickAll(start, PICK_MAIN + 1);
    std::vector<Move> quiet = generated(start, generateQuiet);
    ASSERT_EQ(picked.size(), quiet.size());
    for (size_t i = 0; i < quiet.size(); i++) EXPECT_EQ(picked[i].move, quiet[i]) << i;

    // After 1. Nf3 Nf6 the three continuation slices are different rows. Main
    // history and the one-ply continuation count twice, the others once.
    Position p[3];
    setFromFen(p[0], "");
    ASSERT_TRUE(makeSearchMove(p[0], p[1], encodeMove(G1, F3)));
    ASSERT_TRUE(makeSearchMove(p[1], p[2], encodeMove(G8, F6)));
    Position& pos = p[2];
    mainHistoryTable().mainHistory[makePiece(WHITE, KNIGHT)][B1 * 64 + C3] = 17000;
    pos.contHist[2]->entry[makePiece(WHITE, PAWN)][D4] = 17500;
    pos.contHist[1]->entry[makePiece(WHITE, PAWN)][E4] = 17999;
    std::vector<std::string> order = texts(pickAll(pos, PICK_MAIN + 1));
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 3),
              (std::vector<std::string>{"b1c3", "e2e4", "d2d4"}));
}

TEST_F(MoveOrderingTest, EvasionOrder) {
    // The rook on h8 checks along the eighth rank. Answers: four promotions
    // that block on c8, two captures of the rook (knight before bishop), the
    // killers, then the other king move.
    Position pos = fromFen("K6r/2P5/6N1/4B3/8/8/8/7k w - - 0 1");
    ASSERT_TRUE(pos.checkers);
    std::vector<std::string> order =
        texts(pickAll(pos, PICK_EVASIONS + 1, 0, encodeMove(A8, B7), encodeMove(G6, F8)));
    EXPECT_EQ(order, (std::vector<std::string>{"c7c8q", "c7c8n", "c7c8r", "c7c8b", "g6h8", "e5h8", "a8b7",
                                               "g6f8", "a8a7"}));
}

// Quiet checks: exactly the quiet, non-promoting moves that give check
// (compared on legal moves; illegal king moves next to the enemy king are
// left out), including discovered checks and castling.
TEST_F(MoveOrderingTest, QuietChecksAreExactlyTheCheckingQuietMoves) {
    std::mt19937 rng(7);
    int total = 0;
    size_t generatedChecks = 0;
    auto check = [&](const Position& pos) {
        generatedChecks = 0;
        if (pos.checkers) return;
        std::set<Move> expected;
        Position child;
        for (Move m : generated(pos, generateQuiet))
            if (!isPromotion(m) && givesCheck(pos, m) && makeSearchMove(pos, child, m)) expected.insert(m);
        std::set<Move> actual;
        for (Move m : generated(pos, generateQuietChecks)) {
            ASSERT_TRUE(isPseudoLegal(pos, m) && !isPromotion(m) && givesCheck(pos, m)) << moveText(m);
            ASSERT_EQ(pos.board[moveTo(m)] == NO_PIECE, moveKind(m) != CASTLING) << moveText(m);
            ASSERT_TRUE(actual.insert(m).second) << moveText(m);
        }
        std::set<Move> actualLegal;
        for (Move m : actual)
            if (makeSearchMove(pos, child, m)) actualLegal.insert(m);
        ASSERT_EQ(actualLegal, expected);
        total += int(expected.size());
        generatedChecks = actual.size();
    };
    // Discovered checks by a pawn, a knight and the king; castling and two rook moves.
    struct Fixture {
        const char* fen;
        size_t checks;
    };
    for (Fixture f :
         {Fixture{"7k/8/8/8/8/2P5/8/B3K3 w - - 0 1", 1}, Fixture{"7k/8/8/8/3N4/8/1B6/K7 w - - 0 1", 8},
          Fixture{"4k3/8/8/8/8/8/4K3/4R3 w - - 0 1", 6}, Fixture{"5k2/8/8/8/8/8/8/4K2R w K - 0 1", 3}}) {
        check(fromFen(f.fen));
        EXPECT_EQ(generatedChecks, f.checks) << f.fen;
    }
    for (const PerftCase& c : loadPerftSuite()) {
        chess960 = c.chess960;
        randomWalk(c.fen, 60, rng, [&](const Position&, const Position& pos, Move) { check(pos); });
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(total, 500);
}

// What making a move in the search sets as continuation slices: the move's own row, then
// the rows one and three moves earlier, with the "no move" row for a null
// move and where the game is too short.
TEST_F(MoveOrderingTest, MakeMoveChainsContinuationSlices) {
    HistoryTable& t = mainHistoryTable();
    Position p[5];
    setFromFen(p[0], "");
    for (PieceToHistory* slice : p[0].contHist) EXPECT_EQ(slice, noMoveSlice(t, WHITE));
    ASSERT_TRUE(makeSearchMove(p[0], p[1], encodeMove(E2, E4, DOUBLE_PUSH)));
    ASSERT_TRUE(makeSearchMove(p[1], p[2], encodeMove(D7, D5, DOUBLE_PUSH)));
    ASSERT_TRUE(makeSearchMove(p[2], p[3], encodeMove(E4, D5)));
    ASSERT_TRUE(makeSearchMove(p[3], p[4], 0));

    PieceToHistory* e4 = &t.continuation[0][0][makePiece(WHITE, PAWN)][E4];
    PieceToHistory* d5 = &t.continuation[0][0][makePiece(BLACK, PAWN)][D5];
    PieceToHistory* exd5 = &t.continuation[0][1][makePiece(WHITE, PAWN)][D5];
    EXPECT_EQ(p[1].contHist[0], e4);
    EXPECT_EQ(p[1].contHist[1], noMoveSlice(t, WHITE));
    EXPECT_EQ(p[1].contHist[2], noMoveSlice(t, BLACK));
    EXPECT_EQ(p[2].contHist[0], d5);
    EXPECT_EQ(p[2].contHist[1], e4);
    EXPECT_EQ(p[3].contHist[0], exd5);
    EXPECT_EQ(p[3].contHist[2], noMoveSlice(t, WHITE));  // the move before e2e4
    EXPECT_EQ(p[4].contHist[0], noMoveSlice(t, WHITE));  // null move, White to move again
    EXPECT_EQ(p[4].contHist[1], exd5);
    EXPECT_EQ(p[4].contHist[2], e4);

    // The search's choice adds the check state: Qh5 after f6 checks.
    Position q[3];
    setFromFen(q[0], "rnbqkbnr/ppppp1pp/5p2/8/8/4P3/PPPP1PPP/RNBQKBNR w KQkq - 0 1");
    ASSERT_TRUE(makeSearchMove(q[0], q[1], encodeMove(D1, H5)));
    q[1].checkers = computeCheckers(q[1]);
    setContinuationSlice(q[1]);
    EXPECT_EQ(q[1].contHist[0], &t.continuation[1][0][makePiece(WHITE, QUEEN)][H5]);
    // Castling uses the king and the rook's square.
    Position c[2];
    setFromFen(c[0], "4k3/8/8/8/8/8/8/4K2R w K - 0 1");
    ASSERT_TRUE(makeSearchMove(c[0], c[1], encodeMove(E1, H1, CASTLING)));
    EXPECT_EQ(c[1].contHist[0], &t.continuation[0][0][makePiece(WHITE, KING)][H1]);
}

// The gravity rules as a table: starting values, bounds and the truncation.
TEST(History, GravityRules) {
    struct Case {
        int32_t before, delta, after;
    };
    for (Case c :
         {Case{16000, 7560, 23560}, Case{16000, -7560, 8440}, Case{32000, 7560, 32000}, Case{0, -7560, 0},
          Case{24000, 20, 24010}, Case{16000, 2000, 18000}, Case{20000, -2000, 17500}})
        EXPECT_EQ(mainHistoryAfter(c.before, c.delta), c.after) << c.before << " " << c.delta;
    for (Case c : {Case{8000, 3457, 11457}, Case{8000, -3457, 4543}, Case{13338, 3457, 13338},
                   Case{2662, -3457, 2662}, Case{10000, 25, 10016}})
        EXPECT_EQ(captureHistoryAfter(c.before, c.delta), c.after) << c.before << " " << c.delta;
    for (Case c : {Case{16000, 7560, 27340}, Case{64000, 7560, 64000}, Case{0, 20, 40}})
        EXPECT_EQ(continuationAfterBonus(c.before, c.delta), c.after) << c.before << " " << c.delta;
    for (Case c : {Case{16000, 7560, 9280}, Case{0, 7560, 0}, Case{64000, 20, 63929}})
        EXPECT_EQ(continuationAfterMalus(c.before, c.delta), c.after) << c.before << " " << c.delta;
}

// Whatever sequence of bonuses and maluses at whatever depth, the entries
// stay inside their bounds (and so inside their storage types).
TEST(History, RepeatedUpdatesSaturate) {
    initSearchTables();
    std::mt19937 rng(5);
    int32_t main = MAIN_HISTORY_START, capture = CAPTURE_HISTORY_START, cont = CONTINUATION_START;
    for (int i = 0; i < 20000; i++) {
        int d = int(rng() % HISTORY_BONUS_DEPTHS);
        bool up = (i / 500) % 2 == 0;  // long runs in each direction reach the bounds
        main = mainHistoryAfter(main, up ? quietHistoryBonus[d] : -quietHistoryBonus[d]);
        capture = captureHistoryAfter(capture, up ? captureHistoryBonus[d] : -captureHistoryBonus[d]);
        cont = up ? continuationAfterBonus(cont, continuationBonus[d])
                  : continuationAfterMalus(cont, continuationBonus[d]);
        ASSERT_TRUE(main >= 0 && main <= 32000) << main;
        ASSERT_TRUE(capture >= 2662 && capture <= 13338) << capture;
        ASSERT_TRUE(cont >= 0 && cont <= 64000) << cont;
    }
    // The largest combined history still gives the largest quiet key.
    EXPECT_EQ(quietOrderKey(2 * (32000 + 64000) + 64000 + 64000), INT16_MAX);
}

TEST_F(MoveOrderingTest, UpdatesAfterANode) {
    HistoryTable& t = mainHistoryTable();
    Position root, pos;
    setFromFen(root, "");
    ASSERT_TRUE(makeSearchMove(root, pos, encodeMove(E2, E4, DOUBLE_PUSH)));
    const Piece bp = makePiece(BLACK, PAWN), bn = makePiece(BLACK, KNIGHT), wp = makePiece(WHITE, PAWN);
    Move best = encodeMove(E7, E5, DOUBLE_PUSH), other = encodeMove(G8, F6);

    // Cut-off: counter move of e2e4 and first killer; a repeat keeps the killers distinct.
    updateQuietCutoff(pos, 3, best);
    updateQuietCutoff(pos, 3, other);
    updateQuietCutoff(pos, 3, other);
    EXPECT_EQ(t.counterMoves[wp][E2 * 64 + E4], other);
    EXPECT_EQ(t.killerMoves[3][0], other);
    EXPECT_EQ(t.killerMoves[3][1], best);

    // Depth 9 (half plies): B = C = 2050.
    const Move quiets[2] = {other, best};
    updateQuietStats(pos, best, quiets, 2, 9);
    EXPECT_EQ(t.mainHistory[bp][E7 * 64 + E5], 18050);
    EXPECT_EQ(t.mainHistory[bn][G8 * 64 + F6], 13950);
    EXPECT_EQ(pos.contHist[0]->entry[bp][E5], continuationAfterBonus(16000, 2050));
    EXPECT_EQ(pos.contHist[1]->entry[bn][F6], continuationAfterMalus(16000, 2050));
    EXPECT_EQ(pos.contHist[2]->entry[bn][F6], continuationAfterMalus(16000, 2050));

    rewardQuietMove(pos, other, 0);  // depth 0 uses the depth-2 bonus of 20
    EXPECT_EQ(t.mainHistory[bn][G8 * 64 + F6], mainHistoryAfter(13950, 20));
    punishContinuation(pos, best, 40);  // beyond depth 28 the bonus stays 7560
    EXPECT_EQ(pos.contHist[0]->entry[bp][E5],
              continuationAfterMalus(continuationAfterBonus(16000, 2050), 7560));

    // Captures: the best gains, the others lose; en passant counts as taking a pawn.
    Position capturePos = fromFen("4k3/8/8/3pP3/8/2n5/1B6/4K3 w - d6 0 1");
    Move ep = encodeMove(E5, D6, EN_PASSANT), bxc3 = encodeMove(B2, C3);
    const Move captures[2] = {bxc3, ep};
    updateCaptureStats(capturePos, ep, captures, 2, 3);
    EXPECT_EQ(t.captureHistory[wp][D6][bp], 8082);
    EXPECT_EQ(t.captureHistory[makePiece(WHITE, BISHOP)][C3][bn], 7918);

    // Evaluation feedback moves the last move's entry by at most 2000.
    addLastMoveFeedback(pos, 100000);
    EXPECT_EQ(t.mainHistory[wp][E2 * 64 + E4], 18000);
    addLastMoveFeedback(pos, -500);
    EXPECT_EQ(t.mainHistory[wp][E2 * 64 + E4], mainHistoryAfter(18000, -500));
}

}  // namespace
