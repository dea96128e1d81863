#include "control/think.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "board/make_move.h"
#include "board/movegen.h"
#include "book/opening_book.h"
#include "control/contempt.h"
#include "control/strength_level.h"
#include "control/thread_pool.h"
#include "control/time_budget.h"
#include "core/engine_state.h"
#include "core/options.h"
#include "core/output.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_styles.h"
#include "eval/evaluate.h"
#include "eval/network/network_manager.h"
#include "mcts/mcts_search.h"
#include "mcts/node_store.h"
#include "mcts/tree_output.h"
#include "platform/clock.h"
#include "platform/threads.h"
#include "search/history.h"
#include "search/move_picker.h"
#include "search/periodic_check.h"
#include "search/search_move.h"
#include "search/search_output.h"
#include "search/search_session.h"
#include "search/search_state.h"
#include "search/search_tables.h"
#include "search/search_thread.h"
#include "tablebase/root_probe.h"
#include "tablebase/tablebase_probe.h"
#include "tablebase/tablebase_registry.h"
#include "tt/transposition_table.h"

void (*shutDownBeforeExit)() = nullptr;

// ---------------------------------------------------------------------------
// Root preparation

// The root's ancestors, copied so that the search keeps its own view of the
// game: a "position" command that arrives during the search rewrites the game
// history, and the searches walk these records for repetitions (and look at
// the last two moves). Beyond a hundred plies without a capture or pawn move
// the fifty-move rule decides, so no repetition further back matters.
constexpr int ROOT_ANCESTORS = 102;
static Position rootAncestors[ROOT_ANCESTORS];

// Copies `game` into rootPosition together with the part of its game history
// that the draw rules can reach. The copies keep only the board part of each
// record; their network sums count as not computed, so no search ever starts
// from (or writes into) them.
static void copyRootWithHistory(const Position& game) {
    rootPosition = game;
    Position* link = &rootPosition;
    const Position* from = game.parent;
    int wanted = std::max(int(game.rule50), 2);
    for (int i = 0; from && i < ROOT_ANCESTORS && i < wanted; i++) {
        Position& copy = rootAncestors[i];
        std::memcpy(static_cast<void*>(&copy), from, POSITION_COPY_BYTES);
        copy.computed[WHITE] = copy.computed[BLACK] = false;
        link->parent = &copy;
        link = &copy;
        from = from->parent;
    }
    link->parent = nullptr;
    rootPosition.checkers = computeCheckers(rootPosition);
    attachToThread(rootPosition, *searchThreads[0]);
    refreshPhaseAndPsq(rootPosition);
}

// Whether `text` (moves each followed by a blank) lists move m.
static bool listedInSearchMoves(const char* text, Move m) {
    char move[8];
    moveToText(m, move);
    size_t length = std::strlen(move);
    for (const char* p = text; (p = std::strstr(p, move)) != nullptr; p += length)
        if ((p == text || p[-1] == ' ') && p[length] == ' ') return true;
    return false;
}

// The legal root moves: the table move first, then in the move picker's
// order (captures by value, quiet moves by history, losing captures last).
// With "searchmoves" only the listed moves enter.
static int buildRootMoves(Position& root, const char* searchMovesText, RootMove* list) {
    Move tableMove = MOVE_NONE;
    TTEntry entry;
    if (transpositionTable.probe(root.key, entry) && hasSearchResult(entry)) tableMove = entry.move;
    MovePicker picker;
    int sequence = root.checkers ? PICK_EVASIONS : PICK_MAIN;
    startPicker(picker, root, tableMove ? sequence : sequence + 1, tableMove, MOVE_NONE, MOVE_NONE,
                MOVE_NONE);
    Position& child = searchThreads[0]->plyStack[1];
    int count = 0;
    while (Move m = nextMove(picker)) {
        if (count == MAX_ROOT_MOVES || !makeSearchMove(root, child, m)) continue;
        if (searchMovesText[0] && !listedInSearchMoves(searchMovesText, m)) continue;
        list[count++] = {m, 0, 0};
    }
    list[count] = {MOVE_NONE, 0, 0};
    return count;
}

// ---------------------------------------------------------------------------
// Per-search settings

// A fresh noise pattern per search, from the calendar time, of amplitude
// "Variety" (0 = none), the full-strength quiescence limit and how deep into
// the game the book is used. The same seeding drives the book's choice.
static void applyStrengthSettings(const Position& root);
// The node cap of strength limiting (0 = none): the iteration loop ends after
// the iteration in which thread 0 passes it.
static int64_t nodeCap = 0;

// Step 2 of a search: its strength level (the previous noise key decides the
// rounding of "UCI Elo"), a new noise key, and the level's limits.
static void applyStrengthSettings(const Position& root) {
    int level =
        levelForSearch(autoSkill, limitStrength, uciElo, currentStrengthLevel, evalNoiseKey, root.key);
    if (!autoSkill) configuredStrengthLevel = level;
    std::srand(unsigned(std::time(nullptr)));
    uint64_t r1 = uint64_t(int64_t(std::rand())), r2 = uint64_t(int64_t(std::rand()));
    uint64_t r3 = uint64_t(int64_t(std::rand()));
    evalNoiseKey = (r1 << 29) ^ (r2 << 14) ^ r3;
    StrengthLimits limits = limitsAtLevel(level, useRegularEval != 0, uciElo, variety, bookMoves);
    evalNoiseAmplitude = limits.noiseAmplitude;
    nodeCap = limits.nodeCap;
    // Mating a bare king takes a few plies more than the weakest caps allow.
    if (nodeCap != 0 && mopUpSide(root) >= 0) nodeCap = std::max<int64_t>(nodeCap, 5000);
    bookMovesLimit = limits.bookMoves;
    qsearchDepthLimit = limits.qsearchDepthLimit;
}

// The style of a search: settings changed since the last search are built
// now (and the evaluation caches, made with the old weights, cleared); a
// style other than Default searches with the regular evaluation, whatever
// "Use Regular Eval" says, until the search ends.
static bool styleForcedRegularEval = false;
static int32_t regularEvalBeforeStyle = 0;

static void applyStyleSettings(Color rootSide) {
    if (evaluationSettingsChanged.exchange(false)) {
        applyEvaluationSettings();
        for (int i = 0; i < MAX_THREADS; i++)
            if (searchThreads[i] && searchThreads[i]->pawnTable) allocateEvalHashTables(*searchThreads[i]);
    }
    styleForcedRegularEval = currentStyleIndex != 0;
    if (styleForcedRegularEval) {
        regularEvalBeforeStyle = useRegularEval;
        useRegularEval = 1;
    }
    applySearchStyle(rootSide, std::max(1, activeThreads.load()));
}

// The end of a search for the strength and style settings: the Auto Skill
// level follows the result, a level rounded up for one search goes back, and
// "Use Regular Eval" gets its own value back.
static void finishStrengthAndStyle(Position& root) {
    if (autoSkill) {
        int score = resultScore == SCORE_NONE ? 0 : resultScore;
        if (currentStrengthLevel < 9) {
            uint8_t lazy = 0;
            score = evaluate(root, -35000, 35000, &lazy);
        }
        currentStrengthLevel = adjustAutoSkill(currentStrengthLevel, configuredStrengthLevel, score);
    } else if (limitStrength) {
        configuredStrengthLevel = uciElo / 100;
    }
    if (styleForcedRegularEval) useRegularEval = regularEvalBeforeStyle;
    styleForcedRegularEval = false;
}

// "Skill Time": a weakened engine that found its move early still takes a
// little time, as a human would, up to the time limits; "stop", "isready" and
// "quit" are answered meanwhile.
static void waitForSkillTime(double targetTime) {
    if (!(targetTime < 31622400.0) || skillTime <= 0 || !limitStrength || uciElo >= 3500) return;
    double until = std::min({hardLimit, softLimit, searchStartTime + skillTime});
    while (elapsedSeconds() < until && !stopRequested.load() && !quitRequested.load()) {
        if (processQueuedInput) processQueuedInput();
        sleepMilliseconds(10);
    }
}

// The lazy exit of the evaluation skips the network when a cheap material
// estimate lies this far outside the window: wider in sharp positions.
static void setLazyMargin(Position& root) {
    uint8_t lazy = 0;
    Score eval = evaluate(root, -35000, 35000, &lazy);
    lazyMargin = std::clamp(std::abs(eval), 300, 1050) + 150;
}

// The history parameters follow the previous search's mode (Monte-Carlo
// searches leave lower histories behind). Then the mode of this search, as
// "Use MCTS" asks; the choice of search may still fall back to alpha-beta
// (monteCarloChosen).
static void applySearchMode() {
    historyPruneThreshold = mctsActive ? 19000 : 24000;
    historyOffset = mctsActive ? HISTORY_OFFSET_AFTER_MCTS : HISTORY_OFFSET_DEFAULT;
    mctsActive = useMCTS != 0;
    matchSearchTablesToMode(mctsActive);
}

// The tree search needs a choice to make and enough material to be worth
// it: at least two root moves and seven pieces, kings included (and a node
// store, made by the first tree search). Otherwise this search is
// alpha-beta, with its own tables.
constexpr int MONTE_CARLO_MIN_PIECES = 7;

static bool monteCarloChosen(const Position& root) {
    if (useMCTS && rootMoveCount >= 2 && root.pieceCount >= MONTE_CARLO_MIN_PIECES &&
        ensureNodeStore(mctsHashMb))
        return true;
    mctsActive = false;
    matchSearchTablesToMode(false);
    return false;
}

// Thread 0 starts every search with fresh killers and counter moves; its
// histories carry over, except that the first search of the run starts them
// from their initial values.
static void resetMainThreadTables() {
    static bool firstSearch = true;
    SearchThread& thread = *searchThreads[0];
    if (firstSearch) {
        resetHistoryTable(thread.history);
        buildHistoryBonusTables();
        firstSearch = false;
    }
    std::memset(thread.history.killerMoves, 0, sizeof thread.history.killerMoves);
    std::memset(thread.history.counterMoves, 0, sizeof thread.history.counterMoves);
    thread.nodes.store(0);
}

static void logSearchStart(Position& root, double targetTime, int32_t depthLimit) {
    char fen[128], lastMove[8];
    writeFen(root, fen);
    moveToText(Move(root.lastMove), lastMove);
    uint8_t lazy = 0;
    logLine("fen: %s\n", fen);
    logLine("lastmove: %s\n", lastMove);
    logLine("eval: %d\n", evaluate(root, -33000, 33000, &lazy));
    logLine(pondering.load() ? "ponder ply: %d\n" : "search ply: %d\n", root.gamePly);
    logLine("target: %0.3f\n", targetTime);
    logLine("depth: %d\n", depthLimit);
}

// ---------------------------------------------------------------------------
// The multi-PV table: the lines of the current iteration, best first.

struct MultiPvLine {
    Score score;
    int32_t iteration;
    Move pv[PV_BUFFER_SIZE];
};
static MultiPvLine multiPvLines[MAX_ROOT_MOVES];
static int multiPvLineCount = 0;

static void addMultiPvLine(Score score, int iteration, const Move* pv) {
    int at = multiPvLineCount++;
    while (at > 0 && multiPvLines[at - 1].score < score) {
        multiPvLines[at] = multiPvLines[at - 1];
        at--;
    }
    MultiPvLine& line = multiPvLines[at];
    line.score = score;
    line.iteration = iteration;
    int i = 0;
    for (; i < MAX_PV_MOVES - 1 && pv[i] != MOVE_NONE; i++) line.pv[i] = pv[i];
    line.pv[i] = MOVE_NONE;
}

static void printMultiPvLines() {
    if (quietSearch) return;
    for (int k = 0; k < multiPvLineCount; k++)
        printMultiPvLine(k + 1, multiPvLines[k].iteration, multiPvLines[k].score, multiPvLines[k].pv);
}

static void excludeRootMove(RootSearchState& state, Move m) {
    for (RootMove* r = state.moves; r->move != MOVE_NONE; r++)
        if (r->move == m) r->excluded = 1;
}

// ---------------------------------------------------------------------------
// Root tablebases

// Sets how far the search probes the tables, and where they cover the root,
// ranks the root moves by them: only the moves that keep the root's result
// enter the list, and the root's score comes from the tables. Returns the
// number of moves kept (0 = the search builds the list itself). A
// "searchmoves" list is the front-end's choice and is searched as given.
static int probeRootTablebases(const Position& root, double targetTime, const char* searchMovesText) {
    rootTbScore = NO_ROOT_TB_SCORE;
    rootInTablebase = false;
    tbRootCardinality = useSyzygy && targetTime > 0.1 ? std::min(tbLargest, syzygyProbeLimit) : 0;
    if (root.pieceCount > tbRootCardinality || searchMovesText[0]) return 0;
    static TablebaseRootMove kept[MAX_TABLEBASE_ROOT_MOVES];
    int32_t score = 0;
    int count = rootProbeDtz(root, kept, &score);
    if (count == 0) count = rootProbeWdl(root, kept, &score);
    if (count == 0) return 0;
    for (int i = 0; i < count; i++) rootMoves[i] = {kept[i].move, 0, 0};
    rootMoves[count] = {MOVE_NONE, 0, 0};
    rootInTablebase = true;
    // The ranking holds the tables' verdict; the search need not probe again.
    tbRootCardinality = 0;
    if (!syzygy50MoveRule) score = score > 0 ? 31799 : score < 0 ? -31799 : 0;
    rootTbScore = score;
    return count;
}

// ---------------------------------------------------------------------------
// Output

static void printIterationLine(int iteration) {
    double seconds = searchElapsedSeconds();
    uint64_t nodes = totalSearchNodes();
    printOut("info depth %d time %lld nodes %llu nps %llu\n", iteration, (long long)(seconds * 1000),
             (unsigned long long)nodes, (unsigned long long)(double(nodes) / seconds));
}

// The last lines of a search, in one write so no other output can come
// between "info time" and "bestmove". The tree search has printed its own
// totals and answers with "bestmove" alone.
static void printResult(bool withTotals) {
    double seconds = searchElapsedSeconds();
    uint64_t nodes = totalSearchNodes();
    char ponderPart[16] = "";
    if (ponderMoveText[0]) std::snprintf(ponderPart, sizeof ponderPart, " ponder %s", ponderMoveText);
    if (withTotals)
        printOut("info time %lld nodes %llu nps %llu\nbestmove %s%s\n", (long long)(seconds * 1000),
                 (unsigned long long)nodes, (unsigned long long)(double(nodes) / seconds), bestMoveText,
                 ponderPart);
    else
        printOut("bestmove %s%s\n", bestMoveText, ponderPart);
    logLine("bestmove: %s\n", bestMoveText);
    if (ponderMoveText[0]) logLine("ponder: %s\n", ponderMoveText);
}

static void setBestMoveFromPv(const Move* pv) {
    moveToText(pv[0], bestMoveText);
    if (pv[1] != MOVE_NONE)
        moveToText(pv[1], ponderMoveText);
    else
        ponderMoveText[0] = '\0';
}

// A principal variation of one move leaves the expected reply open. The table
// usually holds the reply that the search found after the best move; take it
// when it is a legal move there. Without one the ponder part is left out: a
// front-end that ponders would otherwise set up a null move.
static void takePonderMoveFromTable(const Position& root) {
    if (ponderMoveText[0] || std::strcmp(bestMoveText, "0000") == 0) return;
    static Position afterBest, afterReply;
    TTEntry entry;
    if (parseAndMakeMove(root, afterBest, bestMoveText) && transpositionTable.probe(afterBest.key, entry) &&
        entry.move != MOVE_NONE) {
        afterBest.checkers = computeCheckers(afterBest);
        Move reply = entry.move;
        if (isPseudoLegal(afterBest, reply) && makeMove(afterBest, afterReply, reply))
            moveToText(reply, ponderMoveText);
    }
}

// "quit" during a search ends the program at once, without "bestmove".
static void quitIfRequested() {
    if (!quitRequested.load()) return;
    if (shutDownBeforeExit) shutDownBeforeExit();
    std::exit(0);
}

// While pondering or in an infinite search the answer waits for "ponderhit"
// or "stop"; meanwhile the commands that arrive are carried out here.
static void waitForPonderhitOrStop(bool infinite) {
    SearchThread& main = *searchThreads[0];
    while ((pondering.load() || infinite) && !main.stop.load() && !stopRequested.load()) {
        if (processQueuedInput) processQueuedInput();
        if (quitRequested.load()) stopAllThreads();
        sleepMilliseconds(1);
    }
}

// ---------------------------------------------------------------------------
// The Monte-Carlo search

// A book move is played as in the alpha-beta search. Otherwise the tree
// search runs to the target time at most, its stop rules permitting; a stop
// that it raised itself (depth, early stop, full store) does not end the
// wait of a ponder or infinite search, only "stop" or "ponderhit" do.
static void thinkMonteCarlo(Position& root, double targetTime, int32_t depthLimit, bool infinite) {
    SearchThread& main = *searchThreads[0];
    Move bookMove = infinite ? MOVE_NONE : probeBook(root);
    if (bookMove) {
        moveToText(bookMove, bestMoveText);
        printOut("info book move is %s\n", bestMoveText);
    } else {
        hardLimit = std::min(hardLimit, searchStartTime + targetTime);
        mctsSearch(root, targetTime, depthLimit, {startWorkers, finishWorkerSearch});
        quitIfRequested();
        finishTreeSearch();
        if (!stopRequested.load()) main.stop.store(false);
    }
    waitForPonderhitOrStop(infinite);
    waitForSkillTime(targetTime);
    if (!quietSearch) printResult(false);
}

// ---------------------------------------------------------------------------
// The iteration loop

// Iterative deepening on thread 0 until a stop condition holds. Returns after
// the last iteration (complete or aborted).
static void iterate(Position& root, double targetTime, int32_t depthLimit, bool infinite) {
    SearchThread& main = *searchThreads[0];
    RootSearchState& state = rootSearchState(0);
    Color rootSide = root.sideToMove();
    state.iterationScore[0] = -SCORE_NONE;
    for (int iteration = 1;; iteration++) {
        instability *= 0.5;
        instabilityWeight = 1.0;
        quitIfRequested();
        failLowSeen = failLowPending = failLowCancelled = false;
        if (!quietSearch) printIterationLine(iteration);

        if (iteration == 1 && !infinite) {
            if (Move bookMove = probeBook(root)) {
                moveToText(bookMove, bestMoveText);
                printOut("info book move is %s\n", bestMoveText);
                return;
            }
        }

        main.iteration = iteration;
        state.iterationScore[iteration] = -SCORE_NONE;
        state.iterationPv[iteration][0] = MOVE_NONE;
        multiPvLineCount = 0;
        int lines = std::min(multiPV, rootMoveCount);
        for (int line = 1; line <= lines; line++) {
            state.pvLine = line;
            searchIteration(root, iteration);
            if (main.stop.load()) break;
            if (multiPV > 1) {
                addMultiPvLine(state.iterationScore[iteration], iteration, state.iterationPv[iteration]);
                excludeRootMove(state, state.iterationPv[iteration][0]);
                if (line == lines) printMultiPvLines();
            }
        }
        for (RootMove* r = state.moves; r->move != MOVE_NONE; r++) r->excluded = 0;
        state.pvLine = 1;
        // The iteration's result is its best line. The next iteration's
        // aspiration window centres on it, so it must not be the last line.
        if (multiPV > 1 && multiPvLineCount > 0) {
            state.iterationScore[iteration] = multiPvLines[0].score;
            std::memcpy(state.iterationPv[iteration], multiPvLines[0].pv, sizeof multiPvLines[0].pv);
        }

        Score score = state.iterationScore[iteration];
        adjustContempt(score, rootSide);
        quitIfRequested();
        if (score > -SCORE_NONE && state.iterationPv[iteration][0] != MOVE_NONE) {
            setBestMoveFromPv(state.iterationPv[iteration]);
            resultMove = state.iterationPv[iteration][0];
            resultScore = state.iterationScore[iteration];
        }

        afterIteration(iteration, score, state.iterationScore[iteration - 1], score, root.phase, targetTime,
                       rootMoveCount, main.stop.load());
        if (main.stop.load()) {
            logLine("iteration: aborted\n");
            return;
        }
        if (timeUp && !pondering.load()) return;
        if (std::abs(score) >= MATE_BOUND && targetTime < 31000001.0 && depthLimit < 99) return;
        if (nodeCap != 0 && main.nodes.load() > uint64_t(nodeCap)) return;
        if (softNodeLimit != 0 && main.nodes.load() > uint64_t(softNodeLimit)) return;
        if (iteration >= depthLimit || iteration > 98) return;
    }
}

// ---------------------------------------------------------------------------

void think(const Position& root, double targetTime, int32_t depthLimit, const char* searchMovesText,
           double maxTime, bool infinite) {
    SearchThread& main = *searchThreads[0];
    searching.store(1);

    int32_t armageddonShift = applyArmageddon();
    applyStyleSettings(root.sideToMove());
    applyStrengthSettings(root);
    if (!useRegularEval && !currentNetwork()) {
        printOut("info string error: no NN loaded\n");
        std::exit(1);
    }
    applySearchMode();
    copyRootWithHistory(root);
    setSearchContempt(rootPosition.sideToMove(), armageddonShift);
    analysisActive = analyseMode || (targetTime >= NO_TIME_LIMIT && depthLimit > 98);
    transpositionTable.analysisMode = analysisActive;
    transpositionTable.tableDirty = 1;
    // A "Threads" or "Table Memory" change that arrived during the last
    // search is carried out now, before any thread record is used.
    if (threadSettingsChanged()) {
        int before = activeThreads;
        resizeThreads();
        if (activeThreads != before && !quietSearch)
            printOut("info string Threads now set to %d\n", activeThreads.load());
    }

    searchStartTime = elapsedSeconds();
    nextReportTime = searchStartTime + 2.0;
    resetMainThreadTables();
    setLazyMargin(rootPosition);
    logSearchStart(rootPosition, targetTime, depthLimit);
    std::strcpy(bestMoveText, "0000");
    ponderMoveText[0] = '\0';
    resultMove = MOVE_NONE;
    resultScore = SCORE_NONE;

    tablebaseHits.store(0, std::memory_order_relaxed);
    rootMoveCount = probeRootTablebases(rootPosition, targetTime, searchMovesText);
    if (rootMoveCount == 0) rootMoveCount = buildRootMoves(rootPosition, searchMovesText, rootMoves);
    if (hashSizeMb != 0) transpositionTable.advanceGeneration(rootPosition.key);
    setupDeadlines(targetTime, maxTime, rootPosition.gamePly, limitStrength ? configuredStrengthLevel : 35);

    // Checking the root moves for legality made moves; the search starts
    // its count (and the node limit) from zero.
    main.nodes.store(0);
    main.stop.store(false);
    Position& searchRoot = prepareThreadRoot(main, rootPosition, rootMoves);
    if (monteCarloChosen(searchRoot)) {
        thinkMonteCarlo(searchRoot, targetTime, depthLimit, infinite);
        finishStrengthAndStyle(rootPosition);
        searching.store(0);
        main.iteration = 0;
        return;
    }
    startWorkers();
    iterate(searchRoot, targetTime, depthLimit, infinite);
    finishWorkerSearch();

    RootSearchState& state = rootSearchState(0);
    if (!main.stop.load()) logLine("iteration: completed\n");
    static constexpr const char* BoundName[3] = {"exact", "high", "low"};
    logLine("itcomp: %d out of %d  %s\n", state.movesCompleted, rootMoveCount, BoundName[state.lastBound]);
    // A search stopped before its first iteration finished still plays a
    // legal move rather than forfeit with a null move.
    if (std::strcmp(bestMoveText, "0000") == 0 && rootMoveCount > 0)
        moveToText(Move(rootMoves[0].move), bestMoveText);

    waitForPonderhitOrStop(infinite);
    takePonderMoveFromTable(rootPosition);
    finishStrengthAndStyle(rootPosition);
    waitForSkillTime(targetTime);
    if (!quietSearch) printResult(true);
    searching.store(0);
    main.iteration = 0;
}
