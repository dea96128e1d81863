// How the root's fail lows and fail highs move the end of the search: the
// rules that thread 0's aspiration loop applies to the time flags of the
// running search (search_session.h).
#pragma once

#include <cstdint>

// Rules of thread 0's aspiration loop. A fail low keeps the search going past
// the extension limit until the iteration recovers; a fail high, or an exact
// result, ends that. sameFirstMove tells whether the fail high kept the best
// move of the previous iteration.
void noteRootFailLow();
void noteRootFailHigh(int32_t score, bool sameFirstMove);
void noteRootExact();
