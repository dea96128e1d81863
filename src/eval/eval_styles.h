// Playing styles ("Personality") and the evaluation settings built from them:
// piece values, the king-danger table, the regular evaluation's weight groups
// and, per search, the dynamism factors and king-danger weights.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Fifteen signed fields per style:
//   f0, f1, f3, f10..f13  percentage changes of weight groups of the regular
//                         evaluation (see regular_weights.cpp)
//   f2, f4                king-danger weights: f4 for the side to move at the
//                         root, f2 for the other side
//   f5..f9                percentage changes of the bishop, knight, pawn, rook
//                         and queen values
//   f14                   the dynamism used instead of the "Dynamism" option
struct StyleRecord {
    int32_t f[15];
};

constexpr int STYLE_COUNT = 8;
extern const char* const StyleNames[STYLE_COUNT];
extern const StyleRecord StyleTable[STYLE_COUNT];

// The contempt a style plays with (instead of "Contempt", unless "White
// Contempt" is on): the attacking styles avoid draws, the careful ones less so.
extern const int32_t StyleContempt[STYLE_COUNT];

// The style of the "Personality" text; any unknown text is Default (0).
int styleIndexOf(const std::string& name);

// The style in force (process-wide; set by applyEvaluationSettings).
extern int currentStyleIndex;

// Half of each piece value, as the move code reads them: two identical sets,
// indexed by piece type.
extern int32_t HalfPieceValue[2][7];

// Rebuilds the piece values (and their halves), the per-phase material
// scale, the king-danger curve and table and the regular evaluation's weight
// tables from "Personality" and "King Safety". Run at start-up and before the
// next search after either option changes; the caller clears the evaluation
// caches, whose values were made with the old weights.
void applyEvaluationSettings();

// Set when "Personality" or "King Safety" changes; the next search then runs
// applyEvaluationSettings (never while threads are evaluating).
extern std::atomic<bool> evaluationSettingsChanged;

// The per-search part: the dynamism factors from "Dynamism" (or the style's
// f14) and the thread count, and the per-colour king-danger weights for the
// root side to move (0 White, 1 Black).
void applySearchStyle(int rootSide, int threadCount);
