// The option table: the "uci" listing and setoption's parsing, no-change test,
// clamping and callbacks. Subsystem hooks are replaced by recorders so the tests
// see which subsystem action an option asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "control/strength_level.h"
#include "core/options.h"
#include "uci/option_table.h"

namespace {

struct HookLog {
    std::vector<int> resizes;
    int clears = 0, saves = 0, loads = 0, bookReopens = 0, syzygyInits = 0, weightLoads = 0;
    std::vector<int> mctsResizes;
    int largestTable = 0;
};
HookLog hooks;

class OptionTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        buildOptionTable();
        hashAllocatedMb = 0;
        hooks = HookLog{};
        onHashResize = [](int mb) { hooks.resizes.push_back(mb); };
        onHashClear = [] { ++hooks.clears; };
        onHashSave = [] { ++hooks.saves; };
        onHashLoad = [] { ++hooks.loads; };
        onBookFileChange = [] { ++hooks.bookReopens; };
        onSyzygyPathChange = [] { ++hooks.syzygyInits; };
        largestTablebase = [] { return hooks.largestTable; };
        // Sizes from 4096 MB on stand for what the machine cannot give.
        onMctsHashResize = [](int mb) {
            hooks.mctsResizes.push_back(mb);
            return mb < 4096;
        };
        onWeightsFileChange = [] { ++hooks.weightLoads; };
    }
    void TearDown() override {
        onHashResize = nullptr;
        onHashClear = onHashSave = onHashLoad = onBookFileChange = onSyzygyPathChange = nullptr;
        largestTablebase = nullptr;
        onMctsHashResize = nullptr;
        onWeightsFileChange = nullptr;
        buildOptionTable();
    }

    // Sets an option and returns what it printed.
    static std::string set(const std::string& name, const std::string& value,
                           SetOptionResult* result = nullptr) {
        testing::internal::CaptureStdout();
        SetOptionResult r = setOption(name, value);
        std::string out = testing::internal::GetCapturedStdout();
        if (result) *result = r;
        return out;
    }
};

std::vector<std::string> listingLines() {
    testing::internal::CaptureStdout();
    printUciOptions();
    std::istringstream in(testing::internal::GetCapturedStdout());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(OptionTableTest, UciListingNamesEveryOptionInCreationOrder) {
    const std::vector<std::string> names = {"NUMA Offset",
                                            "Threads",
                                            "Ponder",
                                            "Hash",
                                            "Clear Hash",
                                            "Table Memory",
                                            "MultiPV",
                                            "OwnBook",
                                            "Book File",
                                            "Book Moves",
                                            "Best Book Line",
                                            "Log File",
                                            "Hash File Name",
                                            "Save Hash to File",
                                            "Load Hash from File",
                                            "UCI_Chess960",
                                            "UCI_AnalyseMode",
                                            "Use LMR",
                                            "Null Move Pruning",
                                            "Overhead ms",
                                            "Time Usage",
                                            "Use Syzygy",
                                            "SyzygyPath",
                                            "Syzygy Probe Depth",
                                            "Syzygy Probe Limit",
                                            "Syzygy 50 Move Rule",
                                            "Smart Syzygy",
                                            "King Safety",
                                            "Selectivity",
                                            "Reduction",
                                            "Dynamism",
                                            "Contempt",
                                            "White Contempt",
                                            "NNUE_Scale",
                                            "Use Regular Eval",
                                            "MCTS Hash",
                                            "Use MCTS",
                                            "MCTS Explore",
                                            "MCTS Explore Root",
                                            "MCTS Optimism",
                                            "WeightsFile",
                                            "Personality",
                                            "Armageddon",
                                            "Variety",
                                            "UCI Elo",
                                            "UCI LimitStrength",
                                            "Auto Skill",
                                            "Skill Time",
                                            "UCI_Opponent"};
    std::vector<std::string> lines = listingLines();
    ASSERT_EQ(lines.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("option name " + names[i] + " type ", 0), 0u) << lines[i];
    }
}

TEST_F(OptionTableTest, UciListingLinesAreExact) {
    const std::vector<std::string> expected = {
        "option name NUMA Offset type spin default 0 min -1 max 32",
        "option name Hash type spin default 256 min 1 max 524288",
        "option name Reduction type spin default -20 min -80 max 400",
        "option name Ponder type check default true",
        "option name UCI_Chess960 type check default false",
        "option name Clear Hash type button",
        "option name Book File type string default orrery.bin",
        "option name Log File type string default <empty>",
        "option name Personality type combo default Default var Default var Aggressive var Defensive "
        "var Active var Positional var Endgame var Beginner var Human",
        "option name Armageddon type combo default Off var Off var White Must Win var Black Must Win",
        "option name UCI Elo type spin default 3500 min 1 max 3500",
    };
    std::vector<std::string> lines = listingLines();
    for (const std::string& line : expected) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
}

TEST_F(OptionTableTest, ListingShowsCurrentValues) {
    set("MultiPV", "4");
    set("Hash File Name", "a b.hash");
    set("Personality", "Human");
    std::vector<std::string> lines = listingLines();
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("option name MultiPV type spin default 4 min 1 max 218"));
    EXPECT_TRUE(has("option name Hash File Name type string default a b.hash"));
    EXPECT_TRUE(
        has("option name Personality type combo default Human var Default var Aggressive "
            "var Defensive var Active var Positional var Endgame var Beginner var Human"));
}

TEST_F(OptionTableTest, BuildRestoresEveryDefault) {
    multiPV = 7;
    contempt = -100;
    ponderOption = 0;
    bookFile = "x.bin";
    personality = "Human";
    syzygyPath = "/tb";
    buildOptionTable();
    EXPECT_EQ(multiPV, 1);
    EXPECT_EQ(contempt, 20);
    EXPECT_EQ(ponderOption, 1);
    EXPECT_EQ(bookFile, "orrery.bin");
    EXPECT_EQ(personality, "Default");
    EXPECT_EQ(syzygyPath, "");
    EXPECT_EQ(hashSizeMb, 256);
    EXPECT_EQ(reductionOption, -20);
}

TEST_F(OptionTableTest, NamesAreFoundRegardlessOfCase) {
    for (const char* name : {"threads", "THREADS", "hash", "uci_chess960", "clear hash", "syzygypath"}) {
        EXPECT_FALSE(optionValueText(name).empty()) << name;
    }
    set("threads", "8");
    EXPECT_EQ(threadsOption, 8);
}

TEST_F(OptionTableTest, UnknownNamesAreNotFound) {
    for (const char* name : {"Thread", "Threadss", "Hash Size", "", "Clear  Hash"}) {
        SetOptionResult r{true, true};
        EXPECT_EQ(set(name, "1", &r), "") << name;
        EXPECT_FALSE(r.found) << name;
        EXPECT_FALSE(r.changed) << name;
        EXPECT_EQ(optionValueText(name), "") << name;
    }
}

TEST_F(OptionTableTest, PlainSpinStoresParseDecimalAndClamp) {
    struct Case {
        const char* name;
        const char* value;
        const char* shown;
    } cases[] = {
        {"MultiPV", "500", "218"},        {"MultiPV", "-3", "1"},
        {"MultiPV", "abc", "1"},  // no digits reads as 0, then clamped up to 1
        {"Contempt", "abc", "0"},         {"Contempt", "  -7xyz", "-7"},
        {"Contempt", "+12", "12"},        {"Contempt", "0x10", "0"},  // base 10 only
        {"Time Usage", "-95", "-90"},     {"Threads", "99999999999", "256"},
        {"Threads", "-99999999999", "1"}, {"NUMA Offset", "-1", "-1"},
    };
    for (const Case& c : cases) {
        buildOptionTable();
        SetOptionResult r{};
        EXPECT_EQ(set(c.name, c.value, &r), "");
        EXPECT_TRUE(r.found && r.changed) << c.name << " " << c.value;
        EXPECT_EQ(optionValueText(c.name), c.shown) << c.name << " " << c.value;
    }
    buildOptionTable();
    set("MultiPV", "500");
    EXPECT_EQ(multiPV, 218);
}

TEST_F(OptionTableTest, CheckValuesParseWordsAndNumbers) {
    struct Case {
        int initial;
        const char* value;
        int stored;
    } cases[] = {
        {0, "TRUE", 1},  {0, "tRuE", 1}, {0, "2", 1}, {0, "-1", 1},  {1, "no", 0},
        {1, "FALSE", 0}, {1, "0", 0},    {1, "", 0},  {0, "yes", 0}, {0, "1abc", 1},
    };
    for (const Case& c : cases) {
        chess960 = c.initial;
        set("UCI_Chess960", c.value);
        EXPECT_EQ(chess960, c.stored) << c.value;
    }
}

TEST_F(OptionTableTest, ValueEqualToShownTextChangesNothing) {
    struct Case {
        const char* name;
        const char* value;
        bool changed;
    } cases[] = {
        {"MultiPV", "1", false},           {"MultiPV", "01", true},        {"Ponder", "true", false},
        {"Ponder", "TRUE", true},          {"Log File", "<empty>", false}, {"Book File", "orrery.bin", false},
        {"Personality", "Default", false}, {"Armageddon", "Off", false},   {"Threads", "1 ", true},
    };
    for (const Case& c : cases) {
        buildOptionTable();
        SetOptionResult r{};
        set(c.name, c.value, &r);
        EXPECT_TRUE(r.found) << c.name;
        EXPECT_EQ(r.changed, c.changed) << c.name << " '" << c.value << "'";
    }
}

// "Hash" from a table of `allocatedBefore` megabytes: a new size rebuilds and
// says so, even beyond the listed maximum (the callback does not clamp); the
// same size written differently only clears; the same text does nothing; zero
// releases the table silently, and a size after it is a real rebuild.
TEST_F(OptionTableTest, HashSizeChanges) {
    struct Step {
        const char* value;
        const char* printed;
        int sizeMb, allocatedMb;  // hashSizeMb and hashAllocatedMb afterwards
    };
    struct Case {
        const char* what;
        int allocatedBefore;
        const char* name;
        std::vector<Step> steps;
        bool changed;  // the last step's result
        std::vector<int> resizes;
        int clears;
    };
    const char* const built128 = "info string Hash table size is now 128 meg\n";
    const Case cases[] = {
        {"new size", 0, "Hash", {{"128", built128, 128, 128}}, true, {128}, 0},
        {"same size written differently", 256, "Hash", {{"0256", "", 256, 256}}, true, {}, 1},
        {"same text, any case of the name", 256, "hash", {{"256", "", 256, 256}}, false, {}, 0},
        {"above the maximum, then zero, then a size",
         256,
         "Hash",
         {{"600000", "info string Hash table size is now 600000 meg\n", 600000, 600000},
          {"0", "", 0, 0},
          {"16", "info string Hash table size is now 16 meg\n", 16, 16}},
         true,
         {600000, 0, 16},
         0},
        {"zero", 256, "Hash", {{"0", "", 0, 0}}, true, {0}, 0},
    };
    for (const Case& c : cases) {
        hooks = HookLog{};
        buildOptionTable();
        hashAllocatedMb = c.allocatedBefore;
        SetOptionResult r{};
        for (const Step& step : c.steps) {
            EXPECT_EQ(set(c.name, step.value, &r), step.printed) << c.what << ": " << step.value;
            EXPECT_TRUE(r.found) << c.what << ": " << step.value;
            EXPECT_EQ(hashSizeMb, step.sizeMb) << c.what << ": " << step.value;
            EXPECT_EQ(hashAllocatedMb, step.allocatedMb) << c.what << ": " << step.value;
        }
        EXPECT_EQ(r.changed, c.changed) << c.what;
        EXPECT_EQ(hooks.resizes, c.resizes) << c.what;
        EXPECT_EQ(hooks.clears, c.clears) << c.what;
    }
}

TEST_F(OptionTableTest, ButtonsRunTheirActions) {
    SetOptionResult r{};
    EXPECT_EQ(set("Clear Hash", "", &r), "info string Clearing Hash\n");
    EXPECT_TRUE(r.found && r.changed);
    EXPECT_EQ(hooks.clears, 1);
    set("Save Hash to File", "");
    set("load hash from file", "");
    EXPECT_EQ(hooks.saves, 1);
    EXPECT_EQ(hooks.loads, 1);
    EXPECT_EQ(optionValueText("Clear Hash"), "<none>");
}

TEST_F(OptionTableTest, ComboTakesOnlyExactValues) {
    SetOptionResult r{};
    set("Personality", "aggressive", &r);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(personality, "Default");
    for (const char* wrong : {"Aggressive ", "Aggr", "AGGRESSIVE", ""}) {
        set("Personality", wrong);
        EXPECT_EQ(personality, "Default") << wrong;
    }
    set("Personality", "Aggressive");
    EXPECT_EQ(personality, "Aggressive");
    set("armageddon", "Black Must Win");
    EXPECT_EQ(armageddon, "Black Must Win");
    personality = "Nonsense";
    EXPECT_EQ(optionValueText("Personality"), "<invalid>");
}

TEST_F(OptionTableTest, StringValuesKeepBlanks) {
    set("Hash File Name", "C:/my hashes/game 1.hash");
    EXPECT_EQ(hashFileName, "C:/my hashes/game 1.hash");
    EXPECT_EQ(set("UCI_Opponent", "GM 2800 human Some Player"),
              "info string BUCI_Opponent is GM 2800 human Some Player\n");
    EXPECT_EQ(uciOpponent, "GM 2800 human Some Player");
    EXPECT_EQ(set("Book File", "my book.bin"), "info string Book file is my book.bin\n");
    EXPECT_EQ(bookFile, "my book.bin");
    EXPECT_EQ(hooks.bookReopens, 1);
    set("WeightsFile", "/nets/big net.nnue");
    EXPECT_EQ(weightsFile, "/nets/big net.nnue");
    EXPECT_EQ(hooks.weightLoads, 1);
    // Setting a string to nothing is a change from the shown "<empty>".
    set("Hash File Name", "");
    EXPECT_EQ(hashFileName, "");
}

TEST_F(OptionTableTest, SyzygyReportsTheUsableProbeLimit) {
    EXPECT_EQ(set("Syzygy Probe Limit", "9"), "info string Probing tablebases up to 0-man.\n");
    EXPECT_EQ(syzygyProbeLimit, 7);
    hooks.largestTable = 5;
    EXPECT_EQ(set("Syzygy Probe Limit", "-2"), "info string Probing tablebases up to 0-man.\n");
    EXPECT_EQ(syzygyProbeLimit, 0);
    EXPECT_EQ(set("Syzygy Probe Limit", "3"), "info string Probing tablebases up to 3-man.\n");
    EXPECT_EQ(set("SyzygyPath", "/tb/a b:/tb/c"), "info string Probing tablebases up to 3-man.\n");
    EXPECT_EQ(syzygyPath, "/tb/a b:/tb/c");
    EXPECT_EQ(hooks.syzygyInits, 1);
    syzygyProbeLimit = 12;  // the path callback re-clamps whatever it finds
    EXPECT_EQ(set("SyzygyPath", "/tb"), "info string Probing tablebases up to 5-man.\n");
    EXPECT_EQ(syzygyProbeLimit, 7);
}

TEST_F(OptionTableTest, MctsHashRebuildsOnlyForPositiveSizes) {
    EXPECT_EQ(set("MCTS Hash", "64"), "info string MCTS Hash table size is now 64 meg\n");
    EXPECT_EQ(set("MCTS Hash", "0"), "");
    EXPECT_EQ(mctsHashMb, 0);  // the callback path does not clamp to 32
    EXPECT_EQ(hooks.mctsResizes, std::vector<int>{64});
}

// A store that cannot be had is refused; the option keeps the size of the
// store that stays.
TEST_F(OptionTableTest, MctsHashRefusesASizeThatCannotBeAllocated) {
    set("MCTS Hash", "64");
    EXPECT_EQ(set("MCTS Hash", "8192"),
              "info string MCTS Hash of 8192 meg cannot be allocated, keeping 64 meg\n");
    EXPECT_EQ(mctsHashMb, 64);
}

TEST_F(OptionTableTest, UciEloSetsBothStrengthLevels) {
    struct Case {
        const char* value;
        int elo, level;
    } cases[] = {{"2250", 2250, 22}, {"99", 99, 0}, {"5000", 3500, 35}, {"-10", 0, 0}};
    for (const Case& c : cases) {
        configuredStrengthLevel = currentStrengthLevel = -1;
        EXPECT_EQ(set("UCI Elo", c.value), "");
        EXPECT_EQ(uciElo, c.elo) << c.value;
        EXPECT_EQ(configuredStrengthLevel, c.level) << c.value;
        EXPECT_EQ(currentStrengthLevel, c.level) << c.value;
    }
}

TEST_F(OptionTableTest, LogFileOptionOpensAndClosesTheLog) {
    std::string path = ::testing::TempDir() + "option table log.txt";
    std::remove(path.c_str());
    EXPECT_EQ(set("Log File", path), "info string Log file is " + path + "\n");
    EXPECT_EQ(optionValueText("Log File"), path);
    EXPECT_EQ(set("Log File", "<empty>"), "");
    EXPECT_EQ(logFileName, "");
    std::remove(path.c_str());
}

}  // namespace
