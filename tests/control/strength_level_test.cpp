// Strength levels and styles: the level of a search, the limits at a level,
// the Auto Skill steps, the style piece values, and through the engine the
// node cap, the "Skill Time" wait and a style searching with the regular
// evaluation.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "../uci/engine_process.h"
#include "control/strength_level.h"
#include "core/options.h"
#include "eval/eval_styles.h"
#include "eval/eval_weights.h"

namespace {

// "UCI Elo" 2250 rounds up to level 23 for about half of the (key, position)
// pairs; whole hundreds and 3500 never round; without LimitStrength the level
// is 35; Auto Skill plays its own level.
TEST(StrengthLevel, LevelOfASearch) {
    std::map<int, int> seen;
    for (uint64_t k = 0; k < 2000; k++)
        seen[levelForSearch(false, true, 2250, 35, k * 0x9E3779B97F4A7C15ULL, 77)]++;
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_NEAR(seen[22], 1000, 100);
    EXPECT_NEAR(seen[23], 1000, 100);
    for (uint64_t k = 0; k < 200; k++) {
        EXPECT_EQ(levelForSearch(false, true, 2200, 35, k, 5), 22);
        EXPECT_EQ(levelForSearch(false, true, 3500, 35, k, 5), 35);
        EXPECT_EQ(levelForSearch(false, false, 1000, 35, k, 5), 35);
        EXPECT_EQ(levelForSearch(true, true, 1000, 17, k, 5), 17);
    }
}

TEST(StrengthLevel, LimitsAtALevel) {
    struct Case {
        int level;
        bool regular;
        int32_t elo, variety;
        StrengthLimits expected;
    };
    const Case cases[] = {
        // Full strength: no cap, no noise unless "Variety", the book as set.
        {35, false, 3500, 0, {0, 0, 16, -12}},
        {35, false, 3500, 7, {7, 0, 16, -12}},
        {35, true, 3500, 0, {0, 0, 16, -12}},
        // Level 10 on the network: 66 nodes, two book moves, a shallow
        // quiescence search.
        {10, false, 1000, 0, {875, 66, 2, 0}},
        {10, true, 1000, 0, {515, 100, 3, 0}},
        {0, false, 1, 0, {3995, 30, 0, 1}},
        {22, false, 2250, 0, {27, 330, 8, -12}},
        // "UCI Elo" below 3500 caps nodes even at full strength.
        {35, false, 3400, 0, {0, 1000000, 16, -12}},
    };
    for (const Case& c : cases) {
        StrengthLimits s = limitsAtLevel(c.level, c.regular, c.elo, c.variety, 16);
        EXPECT_EQ(s.noiseAmplitude, c.expected.noiseAmplitude) << c.level << " " << c.regular;
        EXPECT_EQ(s.nodeCap, c.expected.nodeCap) << c.level << " " << c.regular;
        EXPECT_EQ(s.bookMoves, c.expected.bookMoves) << c.level << " " << c.regular;
        EXPECT_EQ(s.qsearchDepthLimit, c.expected.qsearchDepthLimit) << c.level << " " << c.regular;
    }
}

TEST(StrengthLevel, AutoSkillFollowsTheResultWithinItsBounds) {
    struct Case {
        int level, base, score, expected;
    };
    const Case cases[] = {
        {20, 20, 80, 19},   {20, 20, -200, 21}, {20, 20, 0, 20}, {20, 20, 75, 20},   {20, 20, -150, 20},
        {23, 20, -200, 23}, {15, 20, 80, 15},   {1, 3, 80, 1},   {35, 35, -200, 35}, {10, 20, 0, 15},
    };
    for (const Case& c : cases)
        EXPECT_EQ(adjustAutoSkill(c.level, c.base, c.score), c.expected)
            << c.level << " " << c.base << " " << c.score;
}

// Styles change the piece values; an unknown style is Default.
TEST(EvaluationStyles, PieceValuesByStyle) {
    std::string saved = personality;
    struct Case {
        const char* style;
        int32_t pawn, knight, bishop, rook, queen;
    };
    const Case cases[] = {
        {"Default", 1141, 4296, 4603, 7743, 15030},
        {"Beginner", 1711, 5370, 5523, 10065, 22545},
        {"No Such Style", 1141, 4296, 4603, 7743, 15030},
    };
    for (const Case& c : cases) {
        personality = c.style;
        applyEvaluationSettings();
        EXPECT_EQ(PieceValue[1], c.pawn) << c.style;
        EXPECT_EQ(PieceValue[2], c.knight) << c.style;
        EXPECT_EQ(PieceValue[3], c.bishop) << c.style;
        EXPECT_EQ(PieceValue[4], c.rook) << c.style;
        EXPECT_EQ(PieceValue[5], c.queen) << c.style;
        EXPECT_EQ(HalfPieceValue[0][5], c.queen / 2) << c.style;
    }
    personality = saved;
    applyEvaluationSettings();
}

class ProtocolStrength : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(engine.startWithNetwork()); }
    EngineProcess engine;

    // The last "info depth ... score cp N" of a search.
    static int lastScore(const std::vector<std::string>& lines) {
        int score = 0;
        for (const std::string& l : lines) {
            size_t at = l.find(" score cp ");
            if (l.rfind("info depth", 0) == 0 && at != std::string::npos &&
                l.find("bound") == std::string::npos)
                score = std::stoi(l.substr(at + 10));
        }
        return score;
    }
};

// Level 10 ("UCI Elo" 1000) stops after the first iteration beyond 66 nodes.
TEST_F(ProtocolStrength, WeakLevelStopsOnItsNodeCap) {
    engine.send("setoption name UCI LimitStrength value true");
    engine.send("setoption name UCI Elo value 1000");
    engine.send("setoption name Skill Time value 0");
    std::vector<std::string> lines = engine.searchLines({"position startpos moves d2d4 d7d5", "go depth 30"});
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("bestmove ", 0), 0u);
    int deepest = 0;
    for (const std::string& l : lines)
        if (l.rfind("info depth ", 0) == 0) deepest = std::max(deepest, std::stoi(l.substr(11)));
    EXPECT_LT(deepest, 10);
}

// "Skill Time" holds back a move found early, still answering "isready" at
// once and "stop" by playing the move.
TEST_F(ProtocolStrength, SkillTimeWaitsButAnswers) {
    using Clock = std::chrono::steady_clock;
    engine.send("setoption name UCI LimitStrength value true");
    engine.send("setoption name UCI Elo value 1000");
    engine.send("setoption name Skill Time value 3");
    engine.send("position startpos");
    Clock::time_point start = Clock::now();
    engine.send("go wtime 600000 btime 600000");
    ASSERT_TRUE(engine.waitForPrefix("info depth 1", 10000).has_value());
    engine.send("isready");
    ASSERT_TRUE(engine.waitForLine("readyok", 2000));
    EXPECT_FALSE(engine.waitForPrefix("bestmove ", 1500).has_value());
    ASSERT_TRUE(engine.waitForPrefix("bestmove ", 10000).has_value());
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(seconds, 2.5);

    engine.send("go wtime 600000 btime 600000");
    ASSERT_TRUE(engine.waitForPrefix("info depth 1", 10000).has_value());
    engine.send("stop");
    EXPECT_TRUE(engine.waitForPrefix("bestmove ", 1000).has_value());
}

// A style other than Default searches with the regular evaluation, and the
// option keeps its own value. Each comparison is between the first searches
// of fresh processes (or depth 1 on an empty table), where nothing learnt in
// an earlier search can make the results differ.
TEST_F(ProtocolStrength, StyleSearchesWithTheRegularEvaluation) {
    const std::string position = "position startpos moves e2e4 c7c5 g1f3";
    engine.send("setoption name Personality value Aggressive");
    int styled = lastScore(engine.searchLines({position, "go depth 5"}));

    EngineProcess regular;
    ASSERT_TRUE(regular.startWithNetwork());
    regular.send("setoption name Use Regular Eval value true");
    regular.send("setoption name Personality value Aggressive");
    EXPECT_EQ(styled, lastScore(regular.searchLines({position, "go depth 5"})));

    // Back to Default: the network again, not the regular evaluation.
    engine.send("setoption name Personality value Default");
    engine.send("setoption name Clear Hash");
    int after = lastScore(engine.searchLines({position, "go depth 1"}));
    EngineProcess plain;
    ASSERT_TRUE(plain.startWithNetwork());
    int network = lastScore(plain.searchLines({position, "go depth 1"}));
    regular.send("setoption name Personality value Default");
    regular.send("setoption name Clear Hash");
    int regularScore = lastScore(regular.searchLines({position, "go depth 1"}));
    EXPECT_EQ(after, network);
    EXPECT_NE(network, regularScore);
}

}  // namespace
