// The benchmark: a fixed suite of 50 positions searched to increasing depths,
// reporting node counts and times. Its total node count is a signature of the
// search: any change to what the search does shows as a different count.
#pragma once

// The suite, in order: the first four FEN fields of each position.
constexpr int BENCH_POSITION_COUNT = 50;
extern const char* const BenchPositions[BENCH_POSITION_COUNT];

// Searches every position of the suite to depths 5 .. lastDepth (nothing when
// lastDepth is below 5), `repetitions` times, printing one line per depth:
// the depth, a dot per position, the node count of that depth and the time
// since the start of the repetition (with the ratio to the previous depth).
void runBench(int lastDepth, int repetitions);
