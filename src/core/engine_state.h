// Process-wide values set up once at start-up: the engine's name, the random
// number sources and a few small arithmetic tables that several subsystems
// share.
#pragma once

#include <atomic>
#include <cstdint>
#include <random>

// Shown in the start-up banner and in the "id name" answer.
inline constexpr const char* ENGINE_NAME = "Sable";
inline constexpr const char* ENGINE_VERSION = "3.3";
// Credit texts of the banner and of the "id author" answer.
inline constexpr const char* BANNER_CREDIT = "UCI chess engine by the Sable developers";
inline constexpr const char* AUTHOR_CREDIT = "the Sable developers";

// Seed of the evaluation noise and of the think driver's random choices.
extern uint64_t randomSeed;
// The Mersenne Twister shared by the search and Monte-Carlo code.
extern std::mt19937 searchRandom;

// 8^0..8^15 and 10^0..10^15, for the Monte-Carlo code.
extern uint64_t PowersOf8[16];
extern uint64_t PowersOf10[16];

// Rule50Scale[k] = 106 - (k + 40)^2 / 300: the percentage by which search
// values shrink as the fifty-move counter k grows (101 at k = 0, 41 at 100).
extern int32_t Rule50Scale[101];

// Set once, and never cleared, when "quit", the end of input or a console
// signal arrives (requestQuit): the command loop, the search and the think
// driver wind down.
extern std::atomic<int> quitRequested;

// Whether the program was started as "bench".
extern bool benchMode;

// Seeds the C generator with the calendar time and rebuilds randomSeed from
// three draws. Start-up and "ucinewgame" both call it.
void buildRandomSeed();
// Seeds searchRandom with the calendar time in seconds.
void seedSearchRandom();
void fillPowerTables();
void fillRule50Scale();
