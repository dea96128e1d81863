// The book seen through the real binary: a clock search answers from the
// book at once, an infinite search never uses it, a pondering search uses it
// but still waits for "ponderhit", and a weakened engine leaves the book early.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "../uci/engine_process.h"
#include "book/book_key.h"
#include "book_test_util.h"

namespace {

constexpr int SEARCH_TIMEOUT_MS = EngineProcess::SEARCH_TIMEOUT_MS;

class BookProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(engine.startWithNetwork());
        std::string book = std::string(SABLE_DATA_DIR) + "/book/cut.bin";
        engine.send("setoption name Book File value " + book);
        ASSERT_TRUE(engine.waitForLine("info string Book file is " + book));
    }

    // The lines after `commands` up to and including "bestmove".
    std::vector<std::string> search(const std::vector<std::string>& commands) {
        return engine.searchLines(commands);
    }

    static std::string bookMoveIn(const std::vector<std::string>& lines) {
        for (const std::string& l : lines)
            if (l.rfind("info book move is ", 0) == 0) return l.substr(18);
        return "";
    }

    EngineProcess engine;
};

TEST_F(BookProtocol, ClockSearchPlaysTheBookMoveAtOnce) {
    std::vector<std::string> lines = search({"position startpos", "go wtime 60000 btime 60000"});
    std::string move = bookMoveIn(lines);
    EXPECT_TRUE(move == "e2e4" || move == "d2d4") << move;
    EXPECT_EQ(lines.back(), "bestmove " + move);
    // No iteration ran: the answer follows the first progress line.
    for (const std::string& l : lines) EXPECT_EQ(l.find("info depth 2"), std::string::npos) << l;
}

TEST_F(BookProtocol, InfiniteSearchNeverUsesTheBook) {
    engine.send("position startpos");
    engine.send("go infinite");
    ASSERT_TRUE(engine.waitForPrefix("info depth 3", SEARCH_TIMEOUT_MS).has_value());
    search({"stop"});
    EXPECT_EQ(bookMoveIn(engine.linesRead()), "");
}

TEST_F(BookProtocol, PonderingSearchUsesTheBookAndWaitsForPonderhit) {
    engine.send("position startpos");
    engine.send("go ponder wtime 60000 btime 60000");
    std::optional<std::string> line = engine.waitForPrefix("info book move is ", SEARCH_TIMEOUT_MS);
    ASSERT_TRUE(line.has_value());
    EXPECT_FALSE(engine.waitForPrefix("bestmove ", 300).has_value());
    std::vector<std::string> lines = search({"ponderhit"});
    EXPECT_EQ(lines.back(), "bestmove " + line->substr(18));
}

// "UCI Elo" 1000 is level 10: two book moves with the network, so the book
// answers at game ply 3 and not at ply 4.
TEST_F(BookProtocol, WeakLevelLeavesTheBookEarly) {
    const std::string atPly3 = "e2e4 e7e5 g1f3", atPly4 = "e2e4 e7e5 g1f3 b8c6";
    uint64_t key3 = bookKey(afterMoves(atPly3)), key4 = bookKey(afterMoves(atPly4));
    TempBook book(key3 < key4
                      ? std::vector<RawEntry>{{key3, bookCode("b8c6"), 1}, {key4, bookCode("f1b5"), 1}}
                      : std::vector<RawEntry>{{key4, bookCode("f1b5"), 1}, {key3, bookCode("b8c6"), 1}});
    engine.send("setoption name Book File value " + book.path);
    engine.send("setoption name UCI LimitStrength value true");
    engine.send("setoption name UCI Elo value 1000");
    EXPECT_EQ(bookMoveIn(search({"position startpos moves " + atPly3, "go wtime 60000 btime 60000"})),
              "b8c6");
    EXPECT_EQ(bookMoveIn(search({"position startpos moves " + atPly4, "go movetime 100"})), "");
    engine.send("setoption name UCI LimitStrength value false");
    EXPECT_EQ(bookMoveIn(search({"position startpos moves " + atPly4, "go wtime 60000 btime 60000"})),
              "f1b5");
}

}  // namespace
