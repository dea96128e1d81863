#include "uci/command_loop.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include <strings.h>

#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/movegen.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "control/strength_level.h"
#include "control/think.h"
#include "control/thread_pool.h"
#include "control/time_budget.h"
#include "core/engine_state.h"
#include "core/options.h"
#include "core/output.h"
#include "eval/evaluate.h"
#include "eval/network/network_manager.h"
#include "platform/console_signals.h"
#include "platform/threads.h"
#include "search/perft.h"
#include "search/search_move.h"
#include "search/search_session.h"
#include "search/search_tables.h"
#include "search/search_thread.h"
#include "tablebase/tablebase_registry.h"
#include "tt/transposition_table.h"
#include "uci/option_table.h"

void requestQuit() {
    quitRequested.exchange(1);
}

// One line as the reader queued it.
struct QueuedLine {
    std::string text;
    bool truncated = false;
};

// Everything the reader thread shares with the main thread. Allocated once and
// never destroyed: fatal errors end the process with exit() from the main
// thread while the reader may still sit in a read, and static destructors must
// not pull the queue, its mutex or the thread object from under it (a
// destroyed std::thread that was never joined would even abort the exit).
struct InputChannel {
    Mutex queueMutex;  // guards queue; never held together with wake's mutex
    std::deque<QueuedLine> queue;
    WakeSignal wake;  // "a line was queued since the main thread last slept"
    Thread reader;
};
static InputChannel& input = *new InputChannel;
static bool readerStarted = false;

// ---------------------------------------------------------------------------
// Reader thread

// getc() instead of a line function: it keeps memory bounded however long a
// line is, and NUL bytes in the input cannot confuse the length. If a signal
// still gets through as EINTR, the stream's error mark is cleared and the read
// resumed, so no byte of the line is lost.
bool readInputLine(FILE* in, std::string& line, bool& truncated) {
    line.clear();
    truncated = false;
    for (;;) {
        int c = std::getc(in);
        if (c == EOF) {
            if (std::ferror(in) && errno == EINTR) {
                std::clearerr(in);
                continue;
            }
            return !line.empty() || truncated;
        }
        if (c == '\n') return true;
        if (int(line.size()) < MAX_LINE_LENGTH)
            line.push_back(char(c));
        else
            truncated = true;
    }
}

static bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Where the processor cuts a line: the first line feed, carriage return, form
// feed, or the NUL that ends the text it sees.
static bool isLineEnd(char c) {
    return c == '\n' || c == '\r' || c == '\f' || c == '\0';
}

bool lineEndsInput(const std::string& line) {
    if (line.compare(0, 4, "quit") == 0) return true;
    if (line.empty() || (unsigned char)line[0] >= 0x80) return false;
    size_t i = 0;
    while (i < line.size() && isSeparator(line[i])) i++;
    size_t start = i;
    while (i < line.size() && !isSeparator(line[i]) && !isLineEnd(line[i])) i++;
    return line.compare(start, i - start, "quit") == 0;
}

// Reads lines until the end of input, a read error, a line starting with
// "quit" or the first line after a console signal; queues and logs each one
// and wakes the main thread. On the way out it requests the quit, wakes the
// main thread once more and stops any running search.
void readerThreadMain() {
    std::string line;
    bool truncated = false;
    while (readInputLine(stdin, line, truncated)) {
        if (consoleClosed.load()) break;
        if (line.empty()) continue;
        {
            MutexLock lock(input.queueMutex);
            input.queue.push_back({line, truncated});
        }
        logLine("uci inp: %s\n", line.c_str());
        if (lineEndsInput(line)) break;
        input.wake.raise();
        if (quitRequested.load()) stopAllThreads();
    }
    requestQuit();
    input.wake.raise();
    stopAllThreads();
}

// Queues a line as if the reader had read it, without waking anyone; used
// to drive the command processor directly (tests and fuzzing).
void queueInputLine(const std::string& line) {
    MutexLock lock(input.queueMutex);
    bool truncated = int(line.size()) > MAX_LINE_LENGTH;
    input.queue.push_back({truncated ? line.substr(0, MAX_LINE_LENGTH) : line, truncated});
}

void startReaderThread() {
    readerStarted = true;
    input.reader.start(readerThreadMain);
}

// ---------------------------------------------------------------------------
// Main thread

static bool queueIsEmpty() {
    MutexLock lock(input.queueMutex);
    return input.queue.empty();
}

// True when the queue is empty or its next line is the one that ended input.
static bool nothingLeftBeforeQuit() {
    MutexLock lock(input.queueMutex);
    return input.queue.empty() || lineEndsInput(input.queue.front().text);
}

static bool popLine(QueuedLine& out) {
    MutexLock lock(input.queueMutex);
    if (input.queue.empty()) return false;
    out = std::move(input.queue.front());
    input.queue.pop_front();
    return true;
}

// Runs queued commands until the quit flag is up and nothing before the quit
// is left to run. Lines that arrived before "quit" or the end of input are
// still carried out, so piped input such as "position ...\nperft 5" works.
void commandLoop() {
    for (;;) {
        bool empty = queueIsEmpty();
        if (quitRequested.load() && nothingLeftBeforeQuit()) return;
        if (empty) input.wake.wait();
        processOneCommand();
        if (quitRequested.load()) stopAllThreads();
    }
}

// The reader has always finished or is finishing when the quit flag is up: it
// sets the flag itself when it stops, and a "quit" command comes from a line
// that made it stop (see lineEndsInput). So the join cannot hang.
void shutDownEngine() {
    if (readerStarted && !input.reader.isCurrent()) input.reader.join();
    stopAllThreads();
    releaseThreadPool();
    transpositionTable.release();
    releaseNetwork();
}

// ---------------------------------------------------------------------------
// Number parsing. Front-ends send numbers; anything else must still not cause
// undefined behaviour (atoi overflows are), so texts without digits read as 0
// and out-of-range values are clamped.

static int64_t parseInt64(const char* text) {
    return std::strtoll(text, nullptr, 10);
}

static int32_t parseInt32(const char* text) {
    int64_t value = parseInt64(text);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return int32_t(value);
}

// Milliseconds as floating point, to seconds. "nan" or "inf" become 0, so the
// time management never sees a non-finite clock.
static double parseMilliseconds(const char* text) {
    double value = std::strtod(text, nullptr);
    return std::isfinite(value) ? value * 0.001 : 0.0;
}

// ---------------------------------------------------------------------------
// Commands

// Squares attacked by the pawns in `pawns` of colour c.
static Bitboard pawnAttackSet(Bitboard pawns, Color c) {
    Bitboard sideways = shiftEast(pawns) | shiftWest(pawns);
    return c == WHITE ? shiftNorth(sideways) : shiftSouth(sideways);
}

// Pawns of colour c with no enemy pawn, no square attacked by an enemy pawn
// and no own pawn on their file ahead of them. A loop walks the file so that
// pawns placed on the first or last rank by an odd FEN need no special case.
static Bitboard passedPawns(const Position& pos, Color c) {
    Bitboard ownPawns = pos.pieces[c][PAWN];
    Bitboard enemyPawns = pos.pieces[~c][PAWN];
    Bitboard blockers = ownPawns | enemyPawns | pawnAttackSet(enemyPawns, ~c);
    Bitboard passed = 0;
    for (Bitboard b = ownPawns; b;) {
        Square s = popLsb(b);
        bool free = true;
        for (Square t = s + PawnPush[c]; t >= 0 && t < 64; t += PawnPush[c])
            if (blockers & squareBB(t)) free = false;
        if (free) passed |= squareBB(s);
    }
    return passed;
}

// Squares attacked by all pieces of one type and colour.
static Bitboard pieceAttackSet(const Position& pos, Color c, PieceType type) {
    Bitboard attacks = 0;
    if (type == PAWN) return pawnAttackSet(pos.pieces[c][PAWN], c);
    for (Bitboard b = pos.pieces[c][type]; b;) {
        Square s = popLsb(b);
        if (type == KNIGHT) attacks |= KnightAttacks[s];
        if (type == BISHOP) attacks |= bishopAttacks(s, pos.occupied);
        if (type == ROOK) attacks |= rookAttacks(s, pos.occupied);
        if (type == QUEEN) attacks |= queenAttacks(s, pos.occupied);
        if (type == KING) attacks |= KingAttacks[s];
    }
    return attacks;
}

// "attacks": 14 bitboards of the game position in decimal, for checking the
// attack code from outside.
static void attacksCommand() {
    const Position& pos = GameHistory[historyIndex];
    std::string text;
    char number[32];
    for (Color c : {WHITE, BLACK})
        for (PieceType type : {PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING}) {
            std::snprintf(number, sizeof number, "%llu ", (unsigned long long)pieceAttackSet(pos, c, type));
            text += number;
        }
    for (Color c : {WHITE, BLACK}) {
        std::snprintf(number, sizeof number, "%llu ", (unsigned long long)passedPawns(pos, c));
        text += number;
    }
    printOut("%s\n", text.c_str());
}

// "position": a FEN needs its first four fields (placement, side to move,
// castling, en passant); half-move and full-move numbers are optional and not
// read. The fields are the words between "fen" and "moves"; with fewer than
// four the command is refused and the game position stays as it was. Moves
// are applied until one is not legal or the history is full; both are
// reported and the game stops at the last good position. A bare "position" is
// refused the same way; only an unknown second word is fatal, as documented.
// (The history-full test cannot fire from a cut 8,191-byte line, which holds
// at most 1,633 moves, but the history must not depend on that.)
static void positionCommand(char** tokens, int count) {
    if (count < 2) {
        printOut("info string position needs startpos or fen; position unchanged\n");
        return;
    }
    char fen[LINE_BUFFER_SIZE];
    int next = 2;
    if (std::strcmp(tokens[1], "fen") == 0) {
        while (next < count && std::strcmp(tokens[next], "moves") != 0) next++;
        if (next - 2 < 4) {
            printOut("info string fen needs at least four fields; position unchanged\n");
            return;
        }
        std::snprintf(fen, sizeof fen, "%s %s %s %s", tokens[2], tokens[3], tokens[4], tokens[5]);
    } else if (std::strcmp(tokens[1], "startpos") == 0) {
        std::snprintf(fen, sizeof fen, "%s", START_FEN);
    } else {
        printTo(stderr, "Error here!\n");
        std::exit(1);
    }

    historyIndex = 0;
    setFromFen(GameHistory[0], fen);

    while (next < count && std::strcmp(tokens[next], "moves") != 0) next++;
    for (int i = next + 1; i < count; i++) {
        if (historyIndex == GAME_HISTORY_SIZE - 1) {
            printOut("info string game history full: moves from %s on ignored\n", tokens[i]);
            return;
        }
        if (!parseAndMakeMove(GameHistory[historyIndex], GameHistory[historyIndex + 1], tokens[i])) {
            printOut("info string illegal move %s: it and the moves after it ignored\n", tokens[i]);
            return;
        }
        linkContinuation(GameHistory[historyIndex], GameHistory[historyIndex + 1]);
        historyIndex++;
    }
}

void parseGoTokens(char* const* tokens, int count, SearchLimits& limits) {
    limits = SearchLimits();
    size_t movesLength = 0;
    bool collecting = false;
    auto valueAfter = [&](int i) { return i + 1 < count ? tokens[i + 1] : ""; };
    int i = 0;
    while (i < count) {
        const char* word = tokens[i];
        int advance = 2;
        if (std::strcmp(word, "infinite") == 0) {
            limits.infinite = true;
            advance = 1;
        } else if (std::strcmp(word, "ponder") == 0) {
            limits.pondering = true;
            advance = 1;
        } else if (std::strcmp(word, "wtime") == 0) {
            limits.wtime = parseMilliseconds(valueAfter(i));
        } else if (std::strcmp(word, "btime") == 0) {
            limits.btime = parseMilliseconds(valueAfter(i));
        } else if (std::strcmp(word, "winc") == 0) {
            limits.winc = parseMilliseconds(valueAfter(i));
        } else if (std::strcmp(word, "binc") == 0) {
            limits.binc = parseMilliseconds(valueAfter(i));
        } else if (std::strcmp(word, "movestogo") == 0) {
            limits.movestogo = parseInt32(valueAfter(i));
        } else if (std::strcmp(word, "movetime") == 0) {
            limits.movetime = double(parseInt64(valueAfter(i))) * 0.001;
        } else if (std::strcmp(word, "depth") == 0) {
            limits.depth = std::min(parseInt32(valueAfter(i)), MAX_GO_DEPTH);
        } else if (std::strcmp(word, "nodes") == 0) {
            limits.nodes = parseInt64(valueAfter(i));
        } else if (std::strcmp(word, "searchmoves") == 0) {
            collecting = true;
            i++;
            continue;
        } else if (collecting) {
            size_t length = std::strlen(word);
            if (movesLength + length + 2 <= sizeof limits.searchMovesText) {
                std::memcpy(limits.searchMovesText + movesLength, word, length);
                movesLength += length;
                limits.searchMovesText[movesLength++] = ' ';
                limits.searchMovesText[movesLength] = '\0';
            }
            i++;
            continue;
        } else {
            break;  // an unknown word ("mate" among them) ends the parsing
        }
        collecting = false;
        i += advance;
    }
}

// Runs the search that `limits` asks for on the game position. A depth or
// "infinite" search has no clock ("infinite" also searches without contempt
// unless "White Contempt" fixes it); "movetime" is the target; "nodes" is
// ended by the node count alone; otherwise the side to move's clock sets the
// budget (a bare "go" is a clock search with an empty clock).
static void runSearch(const SearchLimits& limits) {
    const Position& game = GameHistory[historyIndex];
    if (limits.depth > 0 || limits.infinite) {
        contemptOff = limits.infinite && !whiteContempt;
        int32_t depth = limits.infinite ? 99 : limits.depth;
        think(game, NO_TIME_LIMIT, depth, limits.searchMovesText, NO_TIME_LIMIT, limits.infinite);
        contemptOff = false;
        return;
    }
    if (moveTimeLimit != 0) {
        think(game, moveTimeLimit, 99, limits.searchMovesText, NO_TIME_LIMIT, false);
        return;
    }
    if (nodeLimit == -1) {
        bool white = game.sideToMove() == WHITE;
        TimeBudget budget =
            computeTimeBudget(white ? limits.wtime : limits.btime, white ? limits.winc : limits.binc,
                              limits.movestogo, game.gamePly);
        think(game, budget.targetTime, 99, limits.searchMovesText, budget.maxTime, false);
        return;
    }
    think(game, NO_TIME_LIMIT, 99, limits.searchMovesText, NO_TIME_LIMIT, false);
}

// ---------------------------------------------------------------------------
// Commands that must wait for the search to end

// Options whose change would pull something from under the running search
// threads: the network they evaluate with, the table contents they probe,
// tablebase files, the book, the Monte-Carlo node store. A "setoption" for
// one of them that arrives during a search is kept, as sent, and carried out
// once the search has ended.
constexpr const char* OPTIONS_APPLIED_AFTER_SEARCH[] = {
    "WeightsFile", "Clear Hash", "Save Hash to File", "Load Hash from File",
    "SyzygyPath",  "Book File",  "MCTS Hash"};
constexpr size_t MAX_LINES_AFTER_SEARCH = 64;

static std::vector<std::string> linesAfterSearch;

// A "ucinewgame" during a search registers the tablebases again once it ends.
static bool tablebasesDueAfterSearch = false;

// Whether options changed since the search tables were last rebuilt; a
// change during a search is applied at the next "go".
static bool searchSettingsPending = false;

// Keeps a line to run once the search has ended; `what` names it in the
// message. Bounded, so a flood of such lines during a search costs nothing.
static void holdUntilSearchEnds(const char* line, const char* what) {
    if (linesAfterSearch.size() < MAX_LINES_AFTER_SEARCH) {
        linesAfterSearch.emplace_back(line);
        printOut("info string %s deferred until the search ends\n", what);
    } else {
        printOut("info string %s ignored: too many commands held during the search\n", what);
    }
}

static bool appliedAfterSearch(const std::string& name) {
    for (const char* option : OPTIONS_APPLIED_AFTER_SEARCH)
        if (strcasecmp(option, name.c_str()) == 0) return true;
    return false;
}

// Puts the held-back "setoption" lines at the head of the input queue, in the
// order they came, so that they run next, before anything that arrived after
// the search. Not when a quit is on its way: they would only delay the exit.
static void requeueLinesAfterSearch() {
    if (linesAfterSearch.empty()) return;
    if (!quitRequested.load()) {
        MutexLock lock(input.queueMutex);
        for (auto it = linesAfterSearch.rbegin(); it != linesAfterSearch.rend(); ++it)
            input.queue.push_front({*it, false});
    }
    linesAfterSearch.clear();
}

// The reductions and late-move counts follow "Reduction", "Selectivity" and
// "Threads"; the searches read them without locks, so they are rebuilt only
// while no search runs.
static void applySearchSettings() {
    rebuildSearchSettings(searchTablesMonteCarlo);
    searchSettingsPending = false;
}

// "go" while a search runs arrives through the search's poll and is ignored.
static void goCommand(char** tokens, int count) {
    if (searching.load()) return;
    SearchLimits limits;
    parseGoTokens(tokens + 1, count - 1, limits);
    stopRequested.store(0);
    moveTimeLimit = limits.movetime;
    nodeLimit = limits.nodes;
    ponderCounter--;
    pondering.store(0);
    if (limits.pondering) {
        pondering.store(1);
        ponderCounter = 2;
    }
    // A "Hash" change held back by the last search is due before this one, and
    // entries loaded from a hash file belong to the position searched now.
    applyPendingTTResize();
    if (searchSettingsPending) applySearchSettings();
    transpositionTable.adoptLoadedEntries(GameHistory[historyIndex].key);
    runSearch(limits);
    if (tablebasesDueAfterSearch) {
        tablebasesDueAfterSearch = false;
        initTablebases(syzygyPath);
    }
    requeueLinesAfterSearch();
}

// Rebuilds the search threads and their tables when "Threads" or "Table
// Memory" changed, and tells the front-end when the thread count did.
static void applyThreadSettings() {
    if (!threadSettingsChanged()) return;
    int before = activeThreads;
    resizeThreads();
    if (activeThreads != before) printOut("info string Threads now set to %d\n", activeThreads.load());
}

// "setoption name <name...> value <value...>": the name is every word after
// "name" joined by single blanks; the value is the rest of the line, as sent,
// from the first word after "value" on, so values may contain blanks.
static void setOptionCommand(char** tokens, int count, const char* lineStart, const char* untouched) {
    std::string name;
    const char* value = "";
    bool nameMode = false, valueMode = false;
    for (int i = 1; i < count; i++) {
        if (valueMode) {
            value = untouched + (tokens[i] - lineStart);
            break;
        }
        if (std::strcmp(tokens[i], "name") == 0) {
            nameMode = true;
        } else if (std::strcmp(tokens[i], "value") == 0) {
            valueMode = true;
        } else if (nameMode) {
            if (!name.empty()) name += ' ';
            name += tokens[i];
        }
    }
    if (searching.load() && appliedAfterSearch(name)) return holdUntilSearchEnds(untouched, name.c_str());
    SetOptionResult result = setOption(name, value);
    if (!result.found) {
        printOut("info string %s not recognized\n", name.c_str());
        return;
    }
    if (!result.changed) return;
    if (searching.load())
        searchSettingsPending = true;
    else
        applySearchSettings();
    if (!searching.load()) applyThreadSettings();
}

static void uciCommand() {
    printOut("id name %s %s by Orrery Chess 64-bit \n", ENGINE_NAME, ENGINE_VERSION);
    printOut("id author %s\n", AUTHOR_CREDIT);
    printUciOptions();
    printOut("uciok\n");
}

// Splits `text` in place at blanks, tabs, line feeds and carriage returns.
// Stops after MAX_TOKENS words; `tooMany` tells whether words were left over.
static int splitTokens(char* text, char** tokens, bool& tooMany) {
    int count = 0;
    tooMany = false;
    char* p = text;
    for (;;) {
        while (*p && isSeparator(*p)) p++;
        if (!*p) break;
        if (count == MAX_TOKENS) {
            tooMany = true;
            break;
        }
        tokens[count++] = p;
        while (*p && !isSeparator(*p)) p++;
        if (!*p) break;
        *p++ = '\0';
    }
    return count;
}

// The buffers live on the stack because this function runs nested: "go"
// starts a search, whose poll calls it again for "isready" or "stop".
void processOneCommand() {
    static bool gameStarted = false;
    if (!gameStarted) {
        setFromFen(GameHistory[0], START_FEN);
        historyIndex = 0;
        gameStarted = true;
    }
    // Once quit is requested, a search ends at its next poll; between
    // searches the lines queued before the quit still run first.
    if (quitRequested.load() && (searching.load() || nothingLeftBeforeQuit())) {
        shutDownEngine();
        std::exit(0);
    }

    QueuedLine queued;
    if (!popLine(queued)) return;
    char line[LINE_BUFFER_SIZE];
    size_t length = std::min(queued.text.size(), size_t(MAX_LINE_LENGTH));
    std::memcpy(line, queued.text.data(), length);
    line[length] = '\0';
    if (line[0] == '\0' || (unsigned char)line[0] >= 0x80) return;
    for (char* p = line; *p; p++)
        if (isLineEnd(*p)) {
            *p = '\0';
            break;
        }
    if (line[0] == '\0') return;

    char untouched[LINE_BUFFER_SIZE];
    std::memcpy(untouched, line, std::strlen(line) + 1);
    char* tokens[MAX_TOKENS];
    bool tooMany = false;
    int count = splitTokens(line, tokens, tooMany);
    if (count == 0) return;
    if (queued.truncated)
        printOut("info string line longer than %d bytes: the rest ignored\n", MAX_LINE_LENGTH);
    if (tooMany) printOut("info string more than %d words in a line: the rest ignored\n", MAX_TOKENS);

    const char* command = tokens[0];
    const Position& game = GameHistory[historyIndex];
    if (std::strcmp(command, "uci") == 0) {
        uciCommand();
    } else if (std::strcmp(command, "isready") == 0) {
        printOut("readyok\n");
    } else if (std::strcmp(command, "ponderhit") == 0) {
        pondering.store(0);
    } else if (std::strcmp(command, "attacks") == 0) {
        attacksCommand();
    } else if (std::strcmp(command, "position") == 0) {
        positionCommand(tokens, count);
    } else if (std::strcmp(command, "quit") == 0) {
        requestQuit();
    } else if (std::strcmp(command, "perft") == 0) {
        // Run inside a search it would stall the search and count its nodes.
        if (searching.load())
            holdUntilSearchEnds(untouched, "perft");
        else
            perftCommand(game, count > 1 ? parseInt32(tokens[1]) : 0);
    } else if (std::strcmp(command, "go") == 0) {
        goCommand(tokens, count);
    } else if (std::strcmp(command, "ucinewgame") == 0) {
        // The hash table is deliberately kept: a new game often starts from a
        // known opening. The tablebases are registered afresh (files may have
        // come or gone), but not under a running search that probes them.
        currentStrengthLevel = configuredStrengthLevel;
        buildRandomSeed();
        if (searching.load())
            tablebasesDueAfterSearch = true;
        else
            initTablebases(syzygyPath);
    } else if (std::strcmp(command, "setoption") == 0) {
        setOptionCommand(tokens, count, line, untouched);
    } else if (std::strcmp(command, "stop") == 0) {
        searchThreads[0]->stop.store(true);
        stopRequested.store(1);
    } else if (std::strcmp(command, "nnue") == 0) {
        if (currentNetwork())
            printOut("%d\n", scaledNetworkScore(GameHistory[historyIndex]));
        else
            printOut("info string error: no NN loaded\n");
    }
}
