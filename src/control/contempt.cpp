#include "control/contempt.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/options.h"
#include "core/output.h"
#include "eval/eval_styles.h"
#include "eval/evaluate.h"
#include "search/search_session.h"
#include "search/search_state.h"

int32_t baseContempt = 0;

// What a draw costs the side that must win under "Armageddon", and how far
// the contempt leans towards it.
constexpr int32_t ARMAGEDDON_DRAW_SCORE = 2000;
constexpr int32_t ARMAGEDDON_CONTEMPT = 36;

int32_t applyArmageddon() {
    if (armageddon == "White Must Win") {
        drawScoreByColor[WHITE] = -ARMAGEDDON_DRAW_SCORE;
        drawScoreByColor[BLACK] = ARMAGEDDON_DRAW_SCORE;
        return ARMAGEDDON_CONTEMPT;
    }
    if (armageddon == "Black Must Win") {
        drawScoreByColor[WHITE] = ARMAGEDDON_DRAW_SCORE;
        drawScoreByColor[BLACK] = -ARMAGEDDON_DRAW_SCORE;
        return -ARMAGEDDON_CONTEMPT;
    }
    drawScoreByColor[WHITE] = drawScoreByColor[BLACK] = 0;
    return 0;
}

// Against engines of our own class avoiding draws only loses games: their
// names (as the front-end reports them) switch the contempt off. The
// Monte-Carlo search values draws differently and takes 16 off a positive
// contempt.
int32_t startContempt(Color rootSide, int32_t armageddonOffset) {
    int32_t c = contemptOff ? 0 : contempt;
    size_t found = uciOpponent.find("Stockfish");
    if (uciOpponent.size() >= 9 && found != std::string::npos) {
        c = 0;
        logLine("first 'needle' found at: %zu\n", found);
    }
    if (uciOpponent.size() >= 3 && uciOpponent.find("Lc0") != std::string::npos) c = 0;
    c += rootSide == WHITE ? armageddonOffset : -armageddonOffset;
    // A style brings its own attitude to draws.
    if (currentStyleIndex != 0 && !whiteContempt) c = StyleContempt[currentStyleIndex];
    if (useMCTS && c > 0) c = std::max(c, 16) - 16;
    return c;
}

// The pair form is 10c in the middle game and a quarter of that in the
// endgame: contempt matters most while there is material to play with.
void storeContempt(int32_t c, Color rootSide) {
    Color favoured = whiteContempt ? WHITE : rootSide;
    contemptByColor[favoured] = c;
    contemptByColor[~favoured] = -c;
    contemptPairByColor[favoured] = makeScorePair(10 * c, (10 * c) / 4);
    contemptPairByColor[~favoured] = makeScorePair(-(10 * c), -((10 * c) / 4));
}

void setSearchContempt(Color rootSide, int32_t armageddonOffset) {
    baseContempt = startContempt(rootSide, armageddonOffset);
    storeContempt(baseContempt, rootSide);
}

// Up to 32 more when we are ahead, less when behind (the score is clamped to
// half a pawn either way): a better position is not traded for a draw, and a
// worse one is not pressed into a loss.
void adjustContempt(int32_t score, Color rootSide) {
    int32_t s = std::clamp(score, -50, 50);
    storeContempt(baseContempt + (32 * s) / (std::abs(s) + 100), rootSide);
}
