// The process-wide variables behind the UCI options. The option table writes
// them (with their defaults at start-up); every subsystem reads them directly.
// They are written only on the main thread; search threads read them without
// locks, so a change takes effect the next time a thread looks.
#pragma once

#include <cstdint>
#include <string>

extern int32_t numaOffset;        // "NUMA Offset"
extern int32_t threadsOption;     // "Threads"
extern int32_t ponderOption;      // "Ponder"
extern int32_t hashSizeMb;        // "Hash"
extern int32_t tableMemoryMb;     // "Table Memory"
extern int32_t multiPV;           // "MultiPV"
extern int32_t ownBook;           // "OwnBook"
extern std::string bookFile;      // "Book File"
extern int32_t bookMoves;         // "Book Moves"
extern int32_t bestBookLine;      // "Best Book Line"
extern std::string logFileName;   // "Log File"
extern std::string hashFileName;  // "Hash File Name"
extern int32_t chess960;          // "UCI_Chess960"
extern int32_t analyseMode;       // "UCI_AnalyseMode"
extern int32_t useLMR;            // "Use LMR"
extern int32_t nullMovePruning;   // "Null Move Pruning"
extern int32_t overheadMs;        // "Overhead ms"
extern int32_t timeUsage;         // "Time Usage"
extern int32_t useSyzygy;         // "Use Syzygy"
extern std::string syzygyPath;    // "SyzygyPath"
extern int32_t syzygyProbeDepth;  // "Syzygy Probe Depth"
extern int32_t syzygyProbeLimit;  // "Syzygy Probe Limit"
extern int32_t syzygy50MoveRule;  // "Syzygy 50 Move Rule"
extern int32_t smartSyzygy;       // "Smart Syzygy"
extern int32_t kingSafety;        // "King Safety"
extern int32_t selectivity;       // "Selectivity"
extern int32_t reductionOption;   // "Reduction"
extern int32_t dynamism;          // "Dynamism"
extern int32_t contempt;          // "Contempt"
extern int32_t whiteContempt;     // "White Contempt"
extern int32_t nnueScale;         // "NNUE_Scale"
extern int32_t useRegularEval;    // "Use Regular Eval"
extern int32_t mctsHashMb;        // "MCTS Hash"
extern int32_t useMCTS;           // "Use MCTS"
extern int32_t mctsExplore;       // "MCTS Explore"
extern int32_t mctsExploreRoot;   // "MCTS Explore Root"
extern int32_t mctsOptimism;      // "MCTS Optimism"
extern std::string weightsFile;   // "WeightsFile"
extern std::string personality;   // "Personality"
extern std::string armageddon;    // "Armageddon"
extern int32_t variety;           // "Variety"
extern int32_t uciElo;            // "UCI Elo"
extern int32_t limitStrength;     // "UCI LimitStrength"
extern int32_t autoSkill;         // "Auto Skill"
extern int32_t skillTime;         // "Skill Time"
extern std::string uciOpponent;   // "UCI_Opponent"

// The most search threads "Threads" allows.
constexpr int MAX_THREADS = 256;
