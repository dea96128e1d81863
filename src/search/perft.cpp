#include "search/perft.h"

#include <cstdio>

#include "core/output.h"
#include "platform/clock.h"
#include "search/move_picker.h"
#include "search/search_move.h"

uint64_t perftLeafCount = 0;

// Every pseudo-legal move once, from the search's move picker (captures, then
// quiet moves; no table move, killers or counter move, and no losing captures
// set aside), made into a fresh child; depth 1 counts the moves make accepts.
void perft(const Position& pos, int depth) {
    MovePicker picker;
    startPicker(picker, pos, PICK_MAIN + 1, MOVE_NONE, MOVE_NONE, MOVE_NONE, MOVE_NONE);
    picker.deferLosingCaptures = false;
    Position child;
    while (Move m = nextMove(picker)) {
        if (!makeSearchMove(pos, child, m)) continue;
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
