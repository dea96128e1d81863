// The opening book: Polyglot keys against the published check values, the
// real gnuchess book read back exactly, the weighted and best-line choices,
// the "Book Moves" limit, castling entries, and damaged books (cut, unsorted,
// illegal moves, zero weights, bad promotion codes, a file that fails while
// it is read).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "book/book_key.h"
#include "book/opening_book.h"
#include "book_test_util.h"
#include "core/options.h"

namespace {

std::string text(Move m) {
    char out[8];
    moveToText(m, out);
    return out;
}

// Opens `path` as the book with the default limits.
void useBook(const std::string& path) {
    bookFile = path;
    bookMoves = 1000;
    bookMovesLimit = 1000;
    ownBook = 1;
    bestBookLine = 0;
    reopenBook();
}

// The book's moves of a position as "move weight" texts, in file order.
std::vector<std::string> bookMovesOf(const Position& pos) {
    BookMove moves[MAX_BOOK_MOVES];
    int n = collectBookMoves(pos, moves);
    std::vector<std::string> out;
    for (int i = 0; i < n; i++) out.push_back(text(moves[i].move) + " " + std::to_string(moves[i].weight));
    return out;
}

// How often each move comes out of `probes` probes with a fixed seed.
std::map<std::string, int> probeCounts(const Position& pos, int probes) {
    std::srand(12345);
    std::map<std::string, int> counts;
    for (int i = 0; i < probes; i++) counts[text(probeBook(pos))]++;
    return counts;
}

class OpeningBook : public ::testing::Test {
  protected:
    // Back to the option defaults, with no book open.
    void TearDown() override {
        useBook("orrery.bin");
        bookMoves = 0;
        reopenBook();
        bookMoves = 1000;
        chess960 = 0;
    }
};

struct KeyCase {
    const char* moves;
    uint64_t key;
};

TEST(BookKey, MatchesThePublishedCheckValues) {
    const KeyCase cases[] = {
        {"", 0x463b96181691fc9cULL},
        {"e2e4", 0x823c9b50fd114196ULL},
        {"e2e4 d7d5", 0x0756b94461c50fb0ULL},
        {"e2e4 d7d5 e4e5", 0x662fafb965db29d4ULL},
        {"e2e4 d7d5 e4e5 f7f5", 0x22a48b5a8e47ff78ULL},
        {"e2e4 d7d5 e4e5 f7f5 e1e2", 0x652a607ca3f242c1ULL},
        {"e2e4 d7d5 e4e5 f7f5 e1e2 e8f7", 0x00fdd303c946bdd9ULL},
        {"a2a4 b7b5 h2h4 b5b4 c2c4", 0x3c8123ea7b067637ULL},
        {"a2a4 b7b5 h2h4 b5b4 c2c4 b4c3 a1a3", 0x5c3f9b829b279560ULL},
    };
    for (const KeyCase& c : cases)
        EXPECT_EQ(bookKey(afterMoves(c.moves)), c.key) << "after '" << c.moves << "'";
}

// The FEN's en-passant square counts only with a pawn beside the one that moved.
TEST(BookKey, EnPassantSquareWithoutACapturerIsNotKeyed) {
    Position viaFen = fromFen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    EXPECT_EQ(bookKey(viaFen), 0x823c9b50fd114196ULL);
}

// Read back against the listing of the real book (counted by other tools).
TEST_F(OpeningBook, RealBookGivesExactlyItsMovesAndWeights) {
    std::string path = realBookPath();
    if (path.empty()) GTEST_SKIP() << "no gnuchess book installed (package gnuchess-book)";
    useBook(path);
    ASSERT_TRUE(bookIsOpen());
    EXPECT_EQ(
        bookMovesOf(afterMoves("")),
        (std::vector<std::string>{"e2e4 12135", "d2d4 11257", "g1f3 3745", "c2c4 3294", "g2g3 243", "b2b3 38",
                                  "f2f4 35", "b1c3 16", "b2b4 16", "e2e3 7", "d2d3 5", "g2g4 4", "a2a3 2"}));
    EXPECT_EQ(bookMovesOf(afterMoves("e2e4")),
              (std::vector<std::string>{"c7c5 14550", "e7e5 10621", "e7e6 3913", "c7c6 2340", "d7d6 1135",
                                        "g7g6 922", "g8f6 860", "d7d5 303", "b8c6 167", "b7b6 48", "g7g5 12",
                                        "a7a6 8", "h7h6 5"}));
    EXPECT_EQ(bookMovesOf(afterMoves("e2e4 d7d5")), (std::vector<std::string>{"e4d5 821", "b1c3 4"}));
    // A position no game reaches.
    EXPECT_TRUE(bookMovesOf(afterMoves("a2a3 h7h6 a1a2 h8h7")).empty());
}

// Chi-square over 20000 probes of the start position (fixed seed); the light
// moves are pooled so that every cell expects at least a few dozen hits.
TEST_F(OpeningBook, ChoiceFrequenciesFollowTheWeights) {
    std::string path = realBookPath();
    if (path.empty()) GTEST_SKIP() << "no gnuchess book installed (package gnuchess-book)";
    useBook(path);
    const int probes = 20000;
    std::map<std::string, int> counts = probeCounts(afterMoves(""), probes);
    const std::map<std::string, double> weights = {{"e2e4", 12135}, {"d2d4", 11257}, {"g1f3", 3745},
                                                   {"c2c4", 3294},  {"g2g3", 243},   {"rest", 123}};
    double total = 0;
    for (const auto& [move, w] : weights) total += w;
    int pooled = probes;
    double chiSquare = 0;
    for (const auto& [move, w] : weights) {
        int seen = move == "rest" ? pooled : counts[move];
        pooled -= move == "rest" ? 0 : seen;
        double expected = probes * w / total;
        chiSquare += (seen - expected) * (seen - expected) / expected;
    }
    EXPECT_EQ(counts["0000"], 0);
    // 5 degrees of freedom: 20.5 is the 0.1 % point.
    EXPECT_LT(chiSquare, 20.5);
}

TEST_F(OpeningBook, BestBookLinePlaysOnlyTheHeaviestMoves) {
    uint64_t start = bookKey(afterMoves(""));
    TempBook book(
        {{start, bookCode("g1f3"), 10}, {start, bookCode("e2e4"), 50}, {start, bookCode("d2d4"), 50}});
    useBook(book.path);
    bestBookLine = 1;
    std::map<std::string, int> counts = probeCounts(afterMoves(""), 4000);
    EXPECT_EQ(counts["e2e4"] + counts["d2d4"], 4000);
    EXPECT_NEAR(counts["e2e4"], 2000, 200);

    BookMove unequal[] = {{encodeMove(D2, D4), 30}, {encodeMove(E2, E4), 60}};
    for (int r : {0, 16384, 32767}) EXPECT_EQ(chooseBookMove(unequal, 2, true, r), encodeMove(E2, E4));
}

// The threshold walk: each move owns a share of 0 ... 32767 by its weight,
// and the top of the range still lands on the last move.
TEST(BookChoice, RandomNumberPicksMovesByRunningWeight) {
    BookMove moves[] = {{encodeMove(E2, E4), 3}, {encodeMove(D2, D4), 1}};
    EXPECT_EQ(chooseBookMove(moves, 2, false, 0), encodeMove(E2, E4));
    EXPECT_EQ(chooseBookMove(moves, 2, false, 24575), encodeMove(E2, E4));
    EXPECT_EQ(chooseBookMove(moves, 2, false, 24576), encodeMove(D2, D4));
    EXPECT_EQ(chooseBookMove(moves, 2, false, 32767), encodeMove(D2, D4));
}

// "Book Moves" 10: consulted up to game ply 19, not from ply 20 on; "OwnBook"
// off or "Book Moves" 0 (no file opened) give nothing.
TEST_F(OpeningBook, BookMovesAndOwnBookLimitTheProbe) {
    useBook(std::string(SABLE_DATA_DIR) + "/book/cut.bin");
    Position start = afterMoves(""), afterE4 = afterMoves("e2e4");
    bookMovesLimit = 10;
    afterE4.gamePly = 19;
    EXPECT_EQ(text(probeBook(afterE4)), "e7e5");
    start.gamePly = 20;
    EXPECT_EQ(probeBook(start), MOVE_NONE);
    start.gamePly = 18;
    EXPECT_NE(probeBook(start), MOVE_NONE);
    ownBook = 0;
    EXPECT_EQ(probeBook(start), MOVE_NONE);
    ownBook = 1;
    bookMoves = 0;
    reopenBook();
    EXPECT_FALSE(bookIsOpen());
}

// Books write castling as the king taking its own rook; in Chess960 that is
// also the move's text.
TEST_F(OpeningBook, CastlingEntriesBecomeCastlingMoves) {
    const char* standard = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1";
    uint64_t key = bookKey(fromFen(standard));
    TempBook kingSide({{key, bookCode("e1h1"), 5}});
    useBook(kingSide.path);
    EXPECT_EQ(bookMovesOf(fromFen(standard)), std::vector<std::string>{"e1g1 5"});
    TempBook queenSide({{key, bookCode("e1a1"), 5}, {key, bookCode("e1g1"), 2}});
    useBook(queenSide.path);
    EXPECT_EQ(bookMovesOf(fromFen(standard)), (std::vector<std::string>{"e1c1 5", "e1g1 2"}));

    chess960 = 1;
    const char* shuffled = "rk5r/8/8/8/8/8/8/RK5R w KQkq - 0 1";
    uint64_t key960 = bookKey(fromFen(shuffled));
    TempBook chess960Book({{key960, bookCode("b1a1"), 4}, {key960, bookCode("b1h1"), 3}});
    useBook(chess960Book.path);
    EXPECT_EQ(bookMovesOf(fromFen(shuffled)), (std::vector<std::string>{"b1a1 4", "b1h1 3"}));
    BookMove moves[MAX_BOOK_MOVES];
    ASSERT_EQ(collectBookMoves(fromFen(shuffled), moves), 2);
    EXPECT_EQ(moveKind(moves[0].move), CASTLING);
    EXPECT_EQ(moveKind(moves[1].move), CASTLING);
}

struct DamagedBookCase {
    const char* file;
    const char* moves;                  // the probed position, from the start
    std::vector<std::string> expected;  // its book moves
};

// The hand-made books of tests/data/book (see make_fixtures.py there).
TEST_F(OpeningBook, DamagedBooksAreReadSafely) {
    const DamagedBookCase cases[] = {
        {"cut.bin", "", {"e2e4 10", "d2d4 5"}},
        {"cut.bin", "e2e4", {"e7e5 7"}},
        {"short.bin", "", {}},
        {"unsorted.bin", "", {"e2e4 10", "d2d4 5"}},
        {"unsorted.bin", "e2e4", {}},
        {"illegal.bin", "", {}},
        {"illegal.bin", "e2e4", {"e7e5 7"}},
        {"zero_weights.bin", "", {"d2d4 3"}},
        {"zero_weights.bin", "e2e4", {}},
        {"bad_promotion.bin", "", {}},
        {"bad_promotion.bin", "e2e4", {}},
    };
    for (const DamagedBookCase& c : cases) {
        useBook(std::string(SABLE_DATA_DIR) + "/book/" + c.file);
        ASSERT_TRUE(bookIsOpen()) << c.file;
        Position pos = afterMoves(c.moves);
        EXPECT_EQ(bookMovesOf(pos), c.expected) << c.file << " after '" << c.moves << "'";
        EXPECT_EQ(probeBook(pos) == MOVE_NONE, c.expected.empty()) << c.file;
    }
}

// A missing file is no book, silently; a file that cannot be read (here a
// folder) is reported once and dropped, and the engine plays on.
TEST_F(OpeningBook, UnreadableBookIsReportedOnceAndDropped) {
    useBook("/nonexistent/orrery.bin");
    EXPECT_FALSE(bookIsOpen());
    useBook(SABLE_DATA_DIR);
    if (!bookIsOpen()) GTEST_SKIP() << "folders cannot be opened as files here";
    testing::internal::CaptureStderr();
    EXPECT_EQ(probeBook(afterMoves("")), MOVE_NONE);
    EXPECT_EQ(probeBook(afterMoves("")), MOVE_NONE);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Error with f"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Error with f"), errors.rfind("Error with f")) << errors;
    EXPECT_FALSE(bookIsOpen());
}

// Cutting the file under a running engine: every probe reads the size afresh.
TEST_F(OpeningBook, FileCutWhileOpenIsReadWithinItsNewSize) {
    uint64_t start = bookKey(afterMoves(""));
    TempBook book({{1, bookCode("a2a3"), 1}, {start, bookCode("e2e4"), 1}, {start, bookCode("d2d4"), 1}});
    useBook(book.path);
    EXPECT_EQ(bookMovesOf(afterMoves("")).size(), 2u);
    ASSERT_EQ(truncate(book.path.c_str(), 40), 0);
    EXPECT_EQ(bookMovesOf(afterMoves("")), std::vector<std::string>{"e2e4 1"});
    ASSERT_EQ(truncate(book.path.c_str(), 0), 0);
    EXPECT_TRUE(bookMovesOf(afterMoves("")).empty());
    EXPECT_TRUE(bookIsOpen());
}

}  // namespace
