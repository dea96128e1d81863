// What one "go" command asks for, as the command loop reads it from the line.
// Starting the search copies "movetime" and "nodes" into the running search's
// state (moveTimeLimit and nodeLimit in search/search_session.h), which is
// what the searches and the time rules read.
#pragma once

#include <cstdint>

// Room for every move text after "searchmoves": a command line holds at most
// 8,191 bytes, so its move texts always fit.
constexpr int SEARCH_MOVES_TEXT_SIZE = 8192;

// A "depth" above this is lowered to it.
constexpr int32_t MAX_GO_DEPTH = 150;

struct SearchLimits {
    double wtime = 0;          // white's clock, seconds ("wtime" arrives in milliseconds)
    double btime = 0;          // black's clock, seconds
    double winc = 0;           // white's increment, seconds
    double binc = 0;           // black's increment, seconds
    int32_t movestogo = 0;     // moves to the next time control; 0 = sudden death
    double movetime = 0;       // "movetime", seconds; 0 = none
    int32_t depth = 0;         // at most MAX_GO_DEPTH; 0 = not given
    int64_t nodes = -1;        // "nodes"; -1 = none
    bool infinite = false;     // search until "stop"
    bool pondering = false;    // "ponder": search on the opponent's time until "ponderhit"
    // Every move text after "searchmoves", each followed by one blank.
    char searchMovesText[SEARCH_MOVES_TEXT_SIZE] = {};
};
