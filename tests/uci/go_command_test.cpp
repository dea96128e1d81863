// Parsing the words of "go" into SearchLimits.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "uci/command_loop.h"

namespace {

// Parses the words of `text` as the words after "go".
SearchLimits parse(const std::string& text) {
    static std::vector<std::string> words;
    words.clear();
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    std::vector<char*> tokens;
    for (std::string& w : words) tokens.push_back(w.data());
    SearchLimits limits;
    parseGoTokens(tokens.data(), int(tokens.size()), limits);
    return limits;
}

TEST(GoCommand, ClockWordsAreMillisecondsReadAsSeconds) {
    SearchLimits l = parse("wtime 61000 btime 59500.5 winc 1000 binc 500 movestogo 40");
    EXPECT_DOUBLE_EQ(l.wtime, 61.0);
    EXPECT_DOUBLE_EQ(l.btime, 59.5005);
    EXPECT_DOUBLE_EQ(l.winc, 1.0);
    EXPECT_DOUBLE_EQ(l.binc, 0.5);
    EXPECT_EQ(l.movestogo, 40);
    EXPECT_EQ(l.depth, 0);
    EXPECT_EQ(l.nodes, -1);
    EXPECT_FALSE(l.infinite);
}

TEST(GoCommand, Cases) {
    struct Case {
        const char* words;
        double wtime, btime, moveTime;
        int depth;
        int64_t nodes;
        bool infinite, ponder;
        const char* searchMoves;
    };
    const Case cases[] = {
        {"", 0, 0, 0, 0, -1, false, false, ""},
        {"wtime 1000 foo btime 1000", 1, 0, 0, 0, -1, false, false, ""},  // an unknown word ends the parse
        {"searchmoves e2e4 d2d4 wtime 5000", 5, 0, 0, 0, -1, false, false, "e2e4 d2d4 "},
        {"wtime 5000 searchmoves e2e4", 5, 0, 0, 0, -1, false, false, "e2e4 "},
        {"depth 500", 0, 0, 0, 150, -1, false, false, ""},
        {"infinite depth 5", 0, 0, 0, 5, -1, true, false, ""},
        {"ponder wtime 2000 btime 3000", 2, 3, 0, 0, -1, false, true, ""},
        {"movetime 2500", 0, 0, 2.5, 0, -1, false, false, ""},
        {"nodes 12345678901", 0, 0, 0, 0, 12345678901, false, false, ""},
        {"mate 3 depth 4", 0, 0, 0, 0, -1, false, false, ""},  // "mate" is not supported
        {"depth", 0, 0, 0, 0, -1, false, false, ""},           // a missing number reads as 0
        {"wtime nan btime inf", 0, 0, 0, 0, -1, false, false, ""},
        {"depth 99999999999999999999", 0, 0, 0, 150, -1, false, false, ""},
    };
    for (const Case& c : cases) {
        SearchLimits l = parse(c.words);
        EXPECT_DOUBLE_EQ(l.wtime, c.wtime) << c.words;
        EXPECT_DOUBLE_EQ(l.btime, c.btime) << c.words;
        EXPECT_DOUBLE_EQ(l.movetime, c.moveTime) << c.words;
        EXPECT_EQ(l.depth, c.depth) << c.words;
        EXPECT_EQ(l.nodes, c.nodes) << c.words;
        EXPECT_EQ(l.infinite, c.infinite) << c.words;
        EXPECT_EQ(l.pondering, c.ponder) << c.words;
        EXPECT_STREQ(l.searchMovesText, c.searchMoves) << c.words;
    }
}

// The longest line holds about 1,600 move texts; they must all fit.
TEST(GoCommand, SearchMovesFromAFullLineFit) {
    std::string words = "searchmoves";
    while (words.size() + 5 < MAX_LINE_LENGTH) words += " e2e4";
    SearchLimits l = parse(words);
    EXPECT_EQ(std::strlen(l.searchMovesText), words.size() - std::strlen("searchmoves"));
}

}  // namespace
