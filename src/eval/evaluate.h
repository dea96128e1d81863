// The static evaluation that every search uses: the network (or the
// hand-written evaluation), wrapped in the material pre-pass, output scaling,
// phase damping, contempt, tempo, noise and the final clamp.
#pragma once

#include <atomic>
#include <cstdint>

#include "eval/score.h"

struct Position;

// Settings of the current search, written by the think driver before the
// search threads start and only read while they run.
extern int32_t lazyMargin;          // skip the network when the material estimate is this far outside
extern int32_t evalNoiseAmplitude;  // 0 = no noise
extern uint64_t evalNoiseKey;       // varies the noise pattern from search to search
// The contempt values are the exception: thread 0 retunes them after each
// iteration while the workers go on evaluating, so they are atomics (plain
// loads and stores on x86) and each read sees one whole value.
extern std::atomic<int32_t> contemptByColor[2];  // opposite-wing king contempt, per colour
extern std::atomic<ScorePair> contemptPairByColor[2];

// The side that has a rook or queen against a bare king, or -1. Such a
// position is a win by technique alone (drive the king to the edge, bring the
// own king up), which weakened levels must still manage.
int mopUpSide(const Position& pos);

// Static evaluation of pos from the side to move's point of view. alpha and
// beta are the caller's window (only for the lazy exits); *lazy is set by the
// hand-written evaluation when it returns an estimate outside the window.
Score evaluate(Position& pos, Score alpha, Score beta, uint8_t* lazy);

// The phase damping of the network path: the first 100 units of t scaled by
// (48 + phase/2) / 96, the rest unchanged.
int32_t dampByPhase(int32_t t, int phase);

// The network's output scaled by "NNUE_Scale" and the pawn count, from White's
// point of view and clamped; what the "nnue" command prints.
int32_t scaledNetworkScore(Position& pos);
