#include "control/bench.h"

#include <cstdio>
#include <ctime>
#include <cstdlib>

#include "board/make_move.h"
#include "board/movegen.h"
#include "board/position.h"
#include "control/think.h"
#include "control/time_budget.h"
#include "core/options.h"
#include "core/output.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/regular_eval.h"
#include "platform/clock.h"
#include "search/search_output.h"
#include "search/search_thread.h"

const char* const BenchPositions[BENCH_POSITION_COUNT] = {
    "r4qnk/p1p5/5r1b/3P1b1p/2p2N2/2N4P/PP1QB3/2K2RR1 w - -",
    "5rk1/1npbnppp/3p4/1p1Pp1b1/1P2P3/2P1N3/2BB1PPP/q3RNK1 w - -",
    "2b1q3/p3b1k1/1p2B2p/4Pp2/1P1r1Pp1/P3N1P1/3Q2P1/6K1 w - -",
    "8/8/pr1ppk1p/R4pP1/8/3K2P1/P3PP2/8 b - -",
    "2rr2k1/1pqnbppp/p2p1n2/Pb2p3/4P3/2NNBB2/1PPQ1PPP/R2R2K1 b - -",
    "3qk2r/1brn1ppp/pp2pn2/8/3N4/Q1N3P1/PP2PPBP/R2R2K1 b k -",
    "3r2k1/1p3ppp/p1q5/P2rpP2/5nPP/5NQ1/1PP2R2/R6K w - -",
    "r5k1/1b1nqp1p/1Pr3p1/p1pp1n2/N7/Q1N1P1P1/P4PBP/2RR2K1 b - -",
    "1r2qrk1/1b1nb1pp/1p1ppn2/p4p2/N1PB4/1P3PP1/P1Q1P1BP/3RNRK1 b - -",
    "rnbqk2r/ppp2ppp/4pn2/3pP1B1/1b1P4/2N5/PPP2PPP/R2QKBNR b KQkq -",
    "2rqk2r/p3bppp/bpn2n2/2pp4/3P4/1PN2NP1/PB2PPBP/2RQ1RK1 b k -",
    "r1bqkbnr/1pp2ppp/p1p5/4p3/4P3/5N2/PPPP1PPP/RNBQK2R w KQkq -",
    "r1bqr1k1/1p3pbp/2pp1np1/p1nPp3/2P1P3/2N2N2/PP3PPP/1RBQRBK1 w - -",
    "2k1r3/4rpBp/2p5/p2p4/8/1PPR4/Pb1K1PPP/3R4 w - -",
    "6k1/3n1pp1/b6p/1n1Pp3/4PP2/rB4PP/3N1B2/2R3K1 b - -",
    "r2q1rk1/pb1n1pb1/1p5p/6p1/1PNPp3/6B1/P3BPPP/2RQ1RK1 b - -",
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3",
    "1R5Q/5p1p/6p1/6k1/1P2r2P/4qPK1/6P1/8 b - h3",
    "8/p4r2/1p2k3/3prp1p/3R4/1P3K1P/P2R2P1/8 b - -",
    "r2qr1k1/pp3ppp/5b2/1bNp4/3Bn3/1P4P1/P3PPBP/2RQR1K1 b - -",
    "1r6/5pk1/2pN4/2Pb2p1/1P4P1/5p2/5P1K/1R6 b - -",
    "4r3/5k1p/p1b1p3/1pBpP3/1Pn2qP1/3B2K1/P3R3/8 w - -",
    "r2qr1k1/pbpn2pp/4pB2/2Pp1p2/8/4QNP1/PP2PPBP/R2R2K1 b - -",
    "6kr/p1r5/q1b1p1p1/Pp1pPn1p/1QpB1P2/2P2BP1/2P1K2P/R5R1 w - -",
    "4rr2/4Nk1p/B2Pb1p1/2p1QN2/4p3/8/1PP2qPP/R3R2K b - -",
    "r2qb2r/4n2k/1pn1p1pp/p2pPp2/P1pP1P1N/B1P4R/2P1B1PP/R2Q3K b - -",
    "r6k/p6p/1n3r1q/1b1pQ3/3Pp1p1/4P1P1/P2NNP1P/2R2RK1 w - -",
    "r3qbk1/1npr1pp1/1p2p2p/p3P3/2PN4/2N2QP1/PP3P1P/3RR1K1 b - -",
    "rnbqkb1r/pp1p1ppp/5n2/1N2p3/2P5/8/PP2PPPP/RNBQKB1R b KQkq -",
    "r2q1r1k/n1p3pp/p4b2/P7/1p1PRB2/1B3b2/1P3PPP/R2Q2K1 w - -",
    "rnbqkb1r/1p2pppp/p2p1n2/6B1/3NP3/2N5/PPP2PPP/R2QKB1R b KQkq -",
    "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq c6",
    "2R2b1B/p3k3/1p2P3/5Pp1/1P2n3/P5P1/3r3p/7K w - -",
    "rnb1k2r/pp4pp/4pp2/q1Pn4/3QP3/P1P2P2/6PP/R1B1KBNR b KQkq e3",
    "rn2k2r/2p2ppp/p3pn2/1P6/4b3/3q1NP1/P4PBP/1RBQK2R w Kkq -",
    "r1bq1rk1/pp2bppp/2n1pn2/2pp4/2P5/1P3NP1/PB1PPPBP/RN1Q1RK1 w - -",
    "r3k2r/p1qbnpp1/1p2p2p/n1ppP2P/P2P4/B1P2N2/2PQ1PP1/R3KB1R w KQkq -",
    "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3",
    "8/R5K1/8/8/1p6/1k6/p6P/8 b - -",
    "rnbqk2r/ppp1ppbp/5np1/3p4/2PP4/2N3P1/PP2PPBP/R1BQK1NR b KQkq -",
    "6k1/1p3p2/p2p2bp/P1rPr3/3QPp2/7P/4R1P1/6K1 w - -",
    "1r3rk1/2qbbnnp/3p1pp1/1p1Pp3/2p1P1P1/1PP2NNP/1BB2P1K/R2Q2R1 w - -",
    "5n1k/6b1/1p3p1p/p1p1p1p1/2P1P1B1/P1Br2P1/5P1P/2R3K1 w - -",
    "2b5/8/p1p5/1P3kpp/P1P5/3NK3/7P/8 b - -",
    "rnbqkbnr/pp2pppp/3p4/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -",
    "r4rk1/p4pp1/1p1q3p/2nPp3/2B5/2P1Q3/P4PPP/2R2RK1 w - -",
    "r2r2k1/4q1p1/2nNp2p/p3p3/4P3/2PQP3/P5PP/3R1RK1 w - -",
    "7k/p3bprp/4p3/qp1pP2R/3P4/2r2NP1/P2Q1PK1/7R b - -",
    "6k1/5pp1/8/1P6/3N4/4P3/3N4/4K2r w - -",
    "3r4/q2np1k1/6pp/2pPp1b1/2N1N3/1P4PQ/r3RP2/3R2K1 w - -",
};

// The first bench depth: shallower searches say little about the engine.
constexpr int FIRST_BENCH_DEPTH = 5;

// The root of one suite position. The suite is built in, so a position that
// fails to set up is a programming error; it ends the run with status 1.
static void setUpBenchPosition(int index, Position& root) {
    setFromFen(root, BenchPositions[index]);
    if (const char* problem = positionProblem(root)) {
        printTo(stderr, "bench position %d: %s\n", index + 1, problem);
        std::exit(1);
    }
}

// The hand-written evaluation's figures: its speed on the suite positions and
// their children (a first pass fills the pawn hash; the timed passes then hit
// it, as a search mostly does), and the pawn-hash hit rate of depth-8
// searches of the suite with it. Printed after the node counts, which it does
// not change.
static void benchRegularEvaluation() {
    static Position positions[BENCH_POSITION_COUNT * 64];
    int count = 0;
    for (int i = 0; i < BENCH_POSITION_COUNT; i++) {
        setUpBenchPosition(i, positions[count]);
        const Position& root = positions[count++];
        MoveEntry moves[MAX_MOVES];
        int n = generateAll(root, moves);
        for (int k = 0; k < n && count < BENCH_POSITION_COUNT * 64; k++)
            if (makeMove(root, positions[count], moves[k].move)) count++;
    }
    Score sink = 0;
    uint8_t lazy;
    for (int i = 0; i < count; i++) sink += regularEvaluate(positions[i], -32000, 32000, &lazy);
    constexpr int PASSES = 50;
    std::clock_t start = std::clock();
    for (int pass = 0; pass < PASSES; pass++)
        for (int i = 0; i < count; i++) sink += regularEvaluate(positions[i], -32000, 32000, &lazy);
    double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    double nanoseconds = seconds * 1e9 / (double(PASSES) * count);

    int32_t saved = useRegularEval;
    useRegularEval = 1;
    PawnHashTable& pawns = *searchThreads[0]->pawnTable;
    uint64_t probes = pawns.probes, hits = pawns.hits, nodes = 0;
    static Position root;
    for (int i = 0; i < BENCH_POSITION_COUNT; i++) {
        setUpBenchPosition(i, root);
        think(root, NO_TIME_LIMIT, 8, "", NO_TIME_LIMIT, false);
        nodes += totalSearchNodes();
    }
    useRegularEval = saved;
    probes = pawns.probes - probes;
    hits = pawns.hits - hits;
    printOut("regular evaluation: %.0f ns per full evaluation (%d positions, checksum %d)\n", nanoseconds, count,
             int(sink & 0xFFFF));
    printOut("regular evaluation, depth 8: %lld nodes, pawn hash %lld probes, %.1f%% hits\n", (long long)nodes,
             (long long)probes, probes ? 100.0 * double(hits) / double(probes) : 0.0);
}

void runBench(int lastDepth, int repetitions) {
    static Position root;
    for (int repetition = 0; repetition < repetitions; repetition++) {
        quietSearch = true;
        initMaterialWeights();
        double start = elapsedSeconds();
        double previousSeconds = 0;
        for (int depth = FIRST_BENCH_DEPTH; depth <= lastDepth; depth++) {
            printOut("\n%2d ", depth);
            uint64_t nodes = 0;
            for (int i = 0; i < BENCH_POSITION_COUNT; i++) {
                setUpBenchPosition(i, root);
                think(root, NO_TIME_LIMIT, depth, "", NO_TIME_LIMIT, false);
                nodes += totalSearchNodes();
                printOut(".");
            }
            double seconds = elapsedSeconds() - start;
            if (depth == FIRST_BENCH_DEPTH)
                printOut(" %14lld nds %7.2f sec", (long long)nodes, seconds);
            else
                printOut(" %14lld nds %7.2f sec  %6.2f bf", (long long)nodes, seconds,
                         seconds / previousSeconds);
            previousSeconds = seconds;
        }
        printOut("\n\n");
    }
    benchRegularEvaluation();
}
