// The UCI front-end seen from outside: the real binary, driven over pipes the
// way a front-end drives it.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "board/movegen.h"
#include "board/position.h"
#include "engine_process.h"

namespace {

// An engine that has finished start-up.
class Protocol : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(engine.start());
        ASSERT_TRUE(engine.waitForLine("using hardware POPCNT"));
        ASSERT_TRUE(engine.waitForLine("info string embedded NN is loaded"));
    }

    // Sends "isready" and returns every line printed before "readyok".
    std::vector<std::string> linesUntilReady() {
        size_t before = engine.linesRead().size();
        engine.send("isready");
        EXPECT_TRUE(engine.waitForLine("readyok"));
        const std::vector<std::string>& all = engine.linesRead();
        if (all.size() <= before) return {};
        return std::vector<std::string>(all.begin() + long(before), all.end() - 1);
    }

    // The 14 numbers of the "attacks" answer (info lines before it are skipped).
    std::vector<uint64_t> attacks() {
        engine.send("attacks");
        std::optional<std::string> line =
            engine.waitFor([](const std::string& l) { return l.rfind("info ", 0) != 0; });
        EXPECT_TRUE(line.has_value());
        std::vector<uint64_t> values;
        std::istringstream in(line.value_or(""));
        uint64_t v;
        while (in >> v) values.push_back(v);
        EXPECT_EQ(values.size(), 14u) << line.value_or("");
        return values;
    }

    // The move of the next "bestmove" line.
    std::string bestMove() {
        std::optional<std::string> line = engine.waitForPrefix("bestmove ");
        EXPECT_TRUE(line.has_value());
        return line ? line->substr(9) : "";
    }

    EngineProcess engine;
};

// Lines printed once the process has ended.
std::vector<std::string> remainingLines(EngineProcess& engine) {
    std::vector<std::string> rest;
    while (std::optional<std::string> line = engine.readLine(200)) rest.push_back(*line);
    return rest;
}

TEST(ProtocolStartup, BannerThenPopcntLineWithOrWithoutAWord) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, std::vector<std::string>{"foo"}}) {
        EngineProcess engine;
        ASSERT_TRUE(engine.start(args));
        std::optional<std::string> banner = engine.readLine();
        ASSERT_TRUE(banner.has_value());
        EXPECT_EQ(banner->rfind("Sable 3.3 ", 0), 0u) << *banner;
        EXPECT_GT(banner->size(), std::string("Sable 3.3 ").size()) << "credit text missing";
        EXPECT_EQ(engine.readLine(), "using hardware POPCNT");
        EXPECT_EQ(engine.readLine(), "info string embedded NN is loaded");
        engine.send("isready");
        EXPECT_EQ(engine.readLine(), "readyok");
    }
}

TEST(ProtocolStartup, NetworkModesKeepTheirSyntaxAndExitZero) {
    struct Case {
        std::vector<std::string> args;
        bool usage;
    };
    for (const Case& c : {Case{{"nneval", "16", "in.txt"}, true}, Case{{"nneval"}, true},
                          Case{{"nndebug"}, false}, Case{{"nntest"}, false}}) {
        EngineProcess engine;
        ASSERT_TRUE(engine.start(c.args));
        // The built-in network passes its own check.
        if (c.args[0] == "nntest") {
            EXPECT_TRUE(engine.waitForLine("nn test passed")) << engine.errorText();
        }
        EXPECT_EQ(engine.waitForExit(), 0) << c.args[0];
        std::string usage =
            std::string("usage: ") + SABLE_BINARY + " nneval 16|32 file_with_fens output_file\n";
        EXPECT_EQ(engine.errorText().find(usage) != std::string::npos, c.usage) << engine.errorText();
    }
}

TEST_F(Protocol, UciListsTheOptionsBetweenIdAndUciok) {
    engine.send("uci");
    EXPECT_EQ(engine.readLine(), "id name Sable 3.3 by Orrery Chess 64-bit ");
    std::optional<std::string> author = engine.readLine();
    ASSERT_TRUE(author.has_value());
    EXPECT_EQ(author->rfind("id author ", 0), 0u);
    int options = 0;
    std::optional<std::string> line;
    while ((line = engine.readLine()) && line->rfind("option name ", 0) == 0) options++;
    EXPECT_EQ(line, "uciok");
    EXPECT_EQ(options, 49);
}

TEST_F(Protocol, UnknownCommandsAndBlankLinesAreSilent) {
    engine.send("foo bar");
    engine.send("");
    engine.send(" \t ");
    engine.send("\r");
    engine.send("Isready");  // commands are case-sensitive
    EXPECT_TRUE(linesUntilReady().empty());
}

TEST_F(Protocol, GoAnswersWithALegalMove) {
    engine.send("position startpos moves e2e4 e7e5");
    engine.send("go wtime 1000 btime 1000");
    std::string move = bestMove();
    EXPECT_TRUE(legalBestMove(move, START_FEN, {"e2e4", "e7e5"})) << move;

    // Four FEN fields are enough; moves follow them.
    engine.send("position fen 4k3/8/8/8/8/8/4P3/4K3 w - - moves e1d1 e8d8");
    engine.send("go");
    move = bestMove();
    EXPECT_TRUE(legalBestMove(move, "4k3/8/8/8/8/8/4P3/4K3 w - -", {"e1d1", "e8d8"})) << move;
}

// The expected reply is a legal move after the best move, or left out; never
// the null move, which a pondering front-end would set up. Shallow searches
// give one-move principal variations, where the reply comes from the table.
TEST_F(Protocol, PonderMoveIsALegalReplyOrLeftOut) {
    struct Case {
        const char* fen;
        const char* go;
    };
    const Case cases[] = {
        {START_FEN, "go depth 1"},
        {START_FEN, "go depth 2"},
        {START_FEN, "go depth 5"},
        {"6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1", "go depth 4"},  // mate in one
        {"7k/8/8/8/8/8/8/K5Q1 w - - 0 1", "go depth 1"},
        {"r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3", "go nodes 3000"},
    };
    for (const Case& c : cases) {
        engine.send(std::string("position fen ") + c.fen);
        engine.send(c.go);
        // A mate leaves no reply; any other ponder move must be legal (which
        // the null move 0000 is not).
        EXPECT_TRUE(legalBestMove(bestMove(), c.fen)) << c.fen;
    }
}

TEST_F(Protocol, GoWithNoLegalMoveAnswersNullMove) {
    for (const char* fen : {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3",  // mated
                            "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"}) {                              // stalemate
        engine.send(std::string("position fen ") + fen);
        engine.send("go depth 3");
        EXPECT_EQ(bestMove(), "0000") << fen;
    }
}

TEST_F(Protocol, PerftRunsOnTheGamePosition) {
    struct Case {
        const char* command;
        const char* count;
    };
    engine.send("position startpos");
    for (const Case& c : {Case{"perft 2", "400, "}, Case{"perft", "20, "}, Case{"perft x", "20, "}}) {
        engine.send(c.command);
        std::optional<std::string> line = engine.readLine();
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(line->rfind(c.count, 0), 0u) << c.command << " -> " << *line;
    }
    engine.send("position startpos moves e2e4 e7e5");
    engine.send("perft 1");
    EXPECT_EQ(engine.readLine().value_or("").rfind("29, ", 0), 0u);
}

// Passed pawns follow their own definition: nothing of the enemy's pawns on
// or attacking the file ahead, and no own pawn ahead.
TEST_F(Protocol, AttacksReportsPassedPawns) {
    struct Case {
        const char* fen;
        uint64_t whitePassed, blackPassed;
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/4P3/4K3 w - -", 1ull << E2, 0},
        {"4k3/4p3/8/8/8/8/4P3/4K3 w - -", 0, 0},                    // blocked by each other
        {"4k3/3p4/8/8/8/8/4P3/4K3 w - -", 0, 0},                    // each attacks the other's path
        {"4k3/8/8/8/8/4P3/4P3/4K3 w - -", 1ull << E3, 0},           // the rear pawn of a pair is not passed
        {"4k3/8/8/3p4/4P3/8/8/4K3 w - -", 1ull << E4, 1ull << D5},  // side by side, paths unattacked
        {"4k3/8/8/8/8/8/8/P3K3 w - -", 1ull << A1, 0},              // a pawn on the first rank
    };
    for (const Case& c : cases) {
        engine.send(std::string("position fen ") + c.fen);
        std::vector<uint64_t> values = attacks();
        ASSERT_EQ(values.size(), 14u);
        EXPECT_EQ(values[12], c.whitePassed) << c.fen;
        EXPECT_EQ(values[13], c.blackPassed) << c.fen;
    }
}

// The six attack sets of a side together must equal the move generator's view
// of the squares that side attacks.
TEST_F(Protocol, AttacksAgreeWithTheMoveGenerator) {
    initBoardTables();
    for (const char* fen : {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
                            "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
                            "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -"}) {
        engine.send(std::string("position fen ") + fen);
        std::vector<uint64_t> values = attacks();
        ASSERT_EQ(values.size(), 14u);
        Position pos;
        setFromFen(pos, fen);
        for (Color c : {WHITE, BLACK}) {
            uint64_t all = 0;
            for (int i = 0; i < 6; i++) all |= values[6 * c + i];
            EXPECT_EQ(all, attackedBy(pos, c, pos.occupied)) << fen << " colour " << c;
        }
    }
}

TEST_F(Protocol, SetoptionNamesAndValues) {
    struct Case {
        const char* command;
        std::vector<std::string> answer;
    };
    const Case cases[] = {
        {"setoption name foo value 1", {"info string foo not recognized"}},
        {"setoption name Foo Bar value 1", {"info string Foo Bar not recognized"}},
        {"setoption name hash value 256", {}},  // names are case-insensitive; same value does nothing
        {"setoption name Hash value 128", {"info string Hash table size is now 128 meg"}},
        // The value is the rest of the line, blanks included.
        {"setoption name UCI_Opponent value GM 2800 human Some One",
         {"info string BUCI_Opponent is GM 2800 human Some One"}},
    };
    for (const Case& c : cases) {
        engine.send(c.command);
        EXPECT_EQ(linesUntilReady(), c.answer) << c.command;
    }
}

// Input that the protocol does not foresee must never bring the engine down;
// it still answers afterwards and the game position is as expected.
TEST_F(Protocol, OddInputIsSurvived) {
    std::string manyWords;
    for (int i = 0; i < 3000; i++) manyWords += "x ";
    std::string knightDance = "position startpos moves";
    for (int i = 0; i < 750; i++) knightDance += " g1f3 g8f6 f3g1 f6g8";  // 3000 moves, 15,000 bytes
    struct Case {
        std::string input;
        const char* answerPrefix;  // the first line printed; "" = nothing printed
    };
    const Case cases[] = {
        {std::string(10000, 'a'), "info string line longer than 8191 bytes"},
        {manyWords, "info string more than 2048 words"},
        {knightDance, "info string line longer than 8191 bytes"},
        {"position fen 4k3/8/8/8/8/8/4P3/4K3 w", "info string fen needs at least four fields"},
        {"position fen 4k3/8/8/8/8/8/4P3/4K3 w - moves e2e4", "info string fen needs at least four fields"},
        {"position", "info string position needs startpos or fen"},
        {"position startpos moves e2e4 e2e4 d7d5", "info string illegal move e2e4"},
        {"position startpos moves e2e4 e7e5 z9z9", "info string illegal move z9z9"},
        {"\xff\xfe position foo", ""},  // a first byte of 0x80 or more: ignored
        {"\x80uci", ""},
        {std::string("\0quit", 5), ""},  // the line ends at the NUL: empty
        {"\fposition foo", ""},          // the line ends at the form feed: empty
        {"go wtime nan btime -5 movestogo 99999999999999999999 depth -3 nodes", "info depth 1 "},
        {"go searchmoves", "info depth 1 "},
        {"perft -5", "20, "},  // depths below 1 count like depth 1
        {"setoption name", "info string  not recognized"},
    };
    for (const Case& c : cases) {
        engine.send("position startpos");
        engine.send(c.input);
        std::vector<std::string> lines = linesUntilReady();
        std::string what = c.input.substr(0, 60);
        if (*c.answerPrefix) {
            ASSERT_FALSE(lines.empty()) << what;
            EXPECT_EQ(lines[0].rfind(c.answerPrefix, 0), 0u) << what << " -> " << lines[0];
        } else {
            EXPECT_TRUE(lines.empty()) << what << " -> " << lines[0];
        }
        // "isready" is answered from inside a search, so the "bestmove" of a
        // "go" may still be on its way.
        bool answered = std::any_of(lines.begin(), lines.end(),
                                    [](const std::string& l) { return l.rfind("bestmove ", 0) == 0; });
        if (c.input.rfind("go", 0) == 0 && !answered) {
            EXPECT_FALSE(bestMove().empty()) << what;
        }
        ASSERT_TRUE(engine.running()) << what;
    }
}

// A refused or partly refused "position" leaves a valid game: the old one, or
// the moves up to the bad one.
TEST_F(Protocol, RefusedPositionKeepsAValidGame) {
    engine.send("position startpos moves e2e4");
    std::vector<uint64_t> afterE4 = attacks();
    for (const char* bad :
         {"position fen 4k3/8/8/8 w KQkq", "position", "position startpos moves e2e4 e2e4 e7e5"}) {
        engine.send(bad);
        EXPECT_EQ(attacks(), afterE4) << bad;
    }
    // The line is cut at 8,191 bytes and the moves before the cut are applied:
    // 23 + 5 * 1633 = 8188 bytes hold 1633 whole moves, 408 knight dances and
    // g1f3, so Black is to move with White's knight on f3.
    std::string longLine = "position startpos moves";
    for (int i = 0; i < 750; i++) longLine += " g1f3 g8f6 f3g1 f6g8";
    engine.send("position startpos moves g1f3");
    std::vector<uint64_t> afterNf3 = attacks();
    engine.send(longLine);
    EXPECT_EQ(attacks(), afterNf3);
    engine.send("go");
    std::string move = bestMove();
    EXPECT_TRUE(legalBestMove(move, START_FEN, {"g1f3"})) << move;
}

// Fatal input ends the process with status 1 while the reader thread is still
// blocked in its read; the exit must not trip over that thread.
TEST(ProtocolFatal, BadPositionWordOrSideToMoveExitsWithOne) {
    struct Case {
        const char* command;
        const char* message;
    };
    for (const Case& c : {Case{"position foo", "Error here!"},
                          Case{"position fen 4k3/8/8/8/8/8/8/4K3 x - -", "Error in ctm for fen"}}) {
        EngineProcess engine;
        ASSERT_TRUE(engine.start());
        engine.send(c.command);
        EXPECT_EQ(engine.waitForExit(), 1) << c.command;
        EXPECT_NE(engine.errorText().find(c.message), std::string::npos) << engine.errorText();
    }
}

TEST(ProtocolEnd, QuitAndEndOfInputExitCleanly) {
    // " quit" is a quit command whose first four bytes are not "quit": the
    // reader must stop for it too, or the shut-down would wait for it forever.
    for (const char* ending :
         std::initializer_list<const char*>{"quit", "quitx", " quit", "\tquit now", nullptr}) {
        EngineProcess engine;
        ASSERT_TRUE(engine.start());
        engine.send("isready");
        ASSERT_TRUE(engine.waitForLine("readyok"));
        if (ending)
            engine.send(ending);
        else
            engine.closeInput();
        EXPECT_EQ(engine.waitForExit(), 0) << (ending ? ending : "end of input");
    }
}

// A console signal does not kill the engine; the next line ends it, as "quit"
// would, without being carried out.
TEST(ProtocolEnd, ConsoleSignalEndsAtTheNextLine) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        EngineProcess engine;
        ASSERT_TRUE(engine.start());
        ASSERT_TRUE(engine.waitForLine("using hardware POPCNT"));
        engine.send("isready");
        ASSERT_TRUE(engine.waitForLine("readyok"));
        ASSERT_TRUE(engine.sendSignal(sig));
        // Time for the handler to run before the next line arrives; an
        // instrumented engine on a loaded machine can take well over 200 ms.
        usleep(1000 * 1000);
        ASSERT_TRUE(engine.running()) << "killed by signal " << sig;
        engine.send("isready");
        EXPECT_EQ(engine.waitForExit(), 0) << sig;
        EXPECT_TRUE(remainingLines(engine).empty()) << sig;
    }
}

// The log file: appended to, one stamped line per input line, long entries cut
// to 255 characters, and closed again by "<empty>".
TEST_F(Protocol, LogFileRecordsInputLines) {
    std::string path = ::testing::TempDir() + "sable_protocol_log_" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream earlier(path);
        earlier << "earlier line\n";
    }
    engine.send("setoption name Log File value " + path);
    EXPECT_TRUE(engine.waitForLine("info string Log file is " + path));
    engine.send("isready");
    ASSERT_TRUE(engine.waitForLine("readyok"));
    std::string longLine(300, 'z');
    engine.send(longLine);
    linesUntilReady();
    engine.send("setoption name Log File value <empty>");
    EXPECT_TRUE(linesUntilReady().empty());
    engine.send("after the log was closed");
    linesUntilReady();

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::remove(path.c_str());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier line");
    const std::regex stamped(R"(^ *[0-9]+\.[0-9]{3} uci inp: (.*)$)");
    int readyLines = 0;
    bool sawLong = false;
    double lastTime = 0;
    for (size_t i = 1; i < lines.size(); i++) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, stamped)) << lines[i];
        EXPECT_EQ(lines[i].find(" uci inp: "), 10u) << "stamp not ten characters wide: " << lines[i];
        double time = std::atof(lines[i].c_str());
        EXPECT_GE(time, lastTime);
        lastTime = time;
        std::string message = lines[i].substr(11);
        if (m[1] == "isready") readyLines++;
        if (m[1].str().rfind("zzz", 0) == 0) {
            sawLong = true;
            EXPECT_EQ(message.size(), 255u);
        }
        EXPECT_EQ(m[1].str().find("after the log"), std::string::npos);
    }
    EXPECT_GE(readyLines, 1);
    EXPECT_TRUE(sawLong);
}

}  // namespace

namespace {

// Lines that arrive together with the end of input (a script piped into the
// engine) are still carried out before the engine exits.
TEST(ProtocolEnd, PipedCommandsRunBeforeTheEngineExits) {
    EngineProcess engine;
    ASSERT_TRUE(engine.start());
    engine.sendRaw("position startpos moves e2e4\nperft 3\nisready\nquit\nisready\n");
    engine.closeInput();
    EXPECT_EQ(engine.waitForExit(), 0);
    std::vector<std::string> lines;
    while (std::optional<std::string> line = engine.readLine(100)) lines.push_back(*line);
    ASSERT_GE(lines.size(), 4u);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[3].substr(0, 7), "13160, ");
    EXPECT_EQ(lines[4], "readyok");
    EXPECT_EQ(lines.size(), 5u) << "nothing after quit runs";
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uint64_t PROTOCOL_PERFT_BUDGET = 300'000;
#else
constexpr uint64_t PROTOCOL_PERFT_BUDGET = 30'000'000;
#endif

// The reference perft suite through the real binary, as a front-end would
// drive it: "position fen", "UCI_Chess960" where the line asks for it, "perft N".
TEST(ProtocolPerft, SuiteMatchesThroughTheBinary) {
    EngineProcess engine;
    ASSERT_TRUE(engine.start());
    bool chess960On = false;
    for (const PerftCase& c : loadPerftSuite()) {
        if (c.chess960 != chess960On) {
            engine.send(std::string("setoption name UCI_Chess960 value ") + (c.chess960 ? "true" : "false"));
            chess960On = c.chess960;
        }
        engine.send("position fen " + c.fen);
        for (size_t d = 1; d <= c.counts.size() && c.counts[d - 1] <= PROTOCOL_PERFT_BUDGET; d++) {
            engine.send("perft " + std::to_string(d));
            std::optional<std::string> line = engine.waitFor(
                [](const std::string& l) { return l.find(", MNPS=") != std::string::npos; }, 60000);
            ASSERT_TRUE(line.has_value()) << c.fen << " depth " << d;
            EXPECT_EQ(line->substr(0, line->find(',')), std::to_string(c.counts[d - 1]))
                << c.fen << " depth " << d;
        }
    }
    engine.send("quit");
    EXPECT_EQ(engine.waitForExit(), 0);
}

}  // namespace
