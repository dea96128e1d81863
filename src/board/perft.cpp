#include "board/perft.h"

#include <cstdio>

#include "board/make_move.h"
#include "board/movegen.h"
#include "platform/clock.h"
#include "uci/output.h"

uint64_t perftLeafCount = 0;

// Every pseudo-legal move once, tactical moves first, made into a fresh child;
// depth 1 counts the moves that make accepts.
void perft(const Position& pos, int depth) {
    MoveEntry list[MAX_MOVES];
    int count = generateTactical(pos, list);
    count += generateQuiet(pos, list + count);
    Position child;
    for (int i = 0; i < count; i++) {
        if (!makeMove(pos, child, list[i].move)) continue;
        if (depth >= 2) {
            child.checkers = computeCheckers(child);
            perft(child, depth - 1);
        } else
            perftLeafCount++;
    }
}

void perftCommand(const Position& root, int depth) {
    perftLeafCount = 0;
    double start = elapsedSeconds();
    perft(root, depth);
    double seconds = elapsedSeconds() - start;
    if (seconds <= 0) seconds = 1e-9;
    printOut("%llu, MNPS=%f\n", (unsigned long long)perftLeafCount, perftLeafCount / 1e6 / seconds);
}
