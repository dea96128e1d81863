#include "eval/regular_weights.h"

#include <algorithm>
#include <cmath>

#include "board/types.h"

ScorePair RegularWeight[W_COUNT];
PawnWeightTables PawnWeights;
ScorePair LatePhasePair[9];
int32_t TempoByPhase[97];
uint8_t pawnFileClass[256];
int32_t dynamismFactorHigh = 128, dynamismFactorLow = 148;
int32_t kingDangerCurve[512];
ScorePair kingDangerTable[512];
int32_t kingDangerWeight[2] = {6, 6};

namespace {

constexpr ScorePair S(int high, int low) {
    return makeScorePair(high, low);
}

// Centralisation 0..6 of a folded square: distance from the edge by rank
// plus the folded file.
constexpr int centrality(int index) {
    int rank = index / 4, file = index % 4;
    return std::min(rank, 7 - rank) + file;
}

struct WeightBlock {
    int first;
    int size;
    const char* name;
    int styleField;  // -1: not scaled by a style
};

// Every block of the flat list with the style field that scales it:
//   f0  mobility
//   f1  threats against pieces
//   f10 passed pawns and candidates (pawn structure and piece terms)
//   f11 pawn storms against the king
//   f12 piece placement (outposts, rooks on files and the 7th, bad bishops)
//   f13 the static pawn structure (doubled, isolated, backward, weak pawns)
// f3 scales the centre-control table, which is not fitted.
constexpr WeightBlock Blocks[] = {
    {W_PAWN_PSQ, 32, "pawn_psq", -1},
    {W_PAWN_ADVANCED_ATTACKED, 1, "pawn_advanced_attacked", 13},
    {W_PAWN_ATTACKED_BY_BLOCKED, 1, "pawn_attacked_by_blocked", 13},
    {W_PAWN_DOUBLED, 1, "pawn_doubled", 13},
    {W_PAWN_ISOLATED, 4, "pawn_isolated", 13},
    {W_PAWN_DOUBLED_ISOLATED, 4, "pawn_doubled_isolated", 13},
    {W_PAWN_BACKWARD, 3, "pawn_backward", 13},
    {W_PAWN_PUSH_ATTACKED, 1, "pawn_push_attacked", 13},
    {W_PAWN_CONTROL_OUTSIDE, 1, "pawn_control_outside", -1},
    {W_PAWN_KING_CENTRE_DISTANCE, 1, "pawn_king_centre_distance", -1},
    {W_PAWN_PASSED_FILE, 4, "pawn_passed_file", 10},
    {W_PAWN_SHELTER, 8, "pawn_shelter", -1},
    {W_PAWN_STORM_UNOPPOSED, 8, "pawn_storm_unopposed", 11},
    {W_PAWN_STORM_BLOCKED, 8, "pawn_storm_blocked", 11},
    {W_PAWN_STORM_OPPOSED, 8, "pawn_storm_opposed", 11},
    {W_PAWN_STORM_FILES, 4, "pawn_storm_files", 11},
    {W_PASSED_SUPPORTED, 8, "passed_supported", 10},
    {W_CANDIDATE, 8, "candidate", 10},
    {W_PASSED_RANK, 8, "passed_rank", 10},
    {W_PASSED_OWN_KING, 8, "passed_own_king", 10},
    {W_PASSED_ENEMY_KING, 8, "passed_enemy_king", 10},
    {W_CANDIDATE_OWN_KING, 8, "candidate_own_king", 10},
    {W_CANDIDATE_ENEMY_KING, 8, "candidate_enemy_king", 10},
    {W_LATE_CLASS, 9, "late_class", -1},
    {W_PSQ, 32, "knight_psq", -1},
    {W_PSQ + 32, 32, "bishop_psq", -1},
    {W_PSQ + 64, 32, "rook_psq", -1},
    {W_PSQ + 96, 32, "queen_psq", -1},
    {W_PSQ + 128, 32, "king_psq", -1},
    {W_MOBILITY, 9, "knight_mobility", 0},
    {W_MOBILITY + 9, 14, "bishop_mobility", 0},
    {W_MOBILITY + 23, 15, "rook_mobility", 0},
    {W_MOBILITY + 38, 28, "queen_mobility", 0},
    {W_PASSED_BLOCKED, 8, "passed_blocked", 10},
    {W_PASSED_FREE_PATH, 8, "passed_free_path", 10},
    {W_PASSED_SAFE_STOP, 8, "passed_safe_stop", 10},
    {W_ROOK_BEHIND_PASSER, 1, "rook_behind_passer", 10},
    {W_THREAT_BY_PAWN, 1, "threat_by_pawn", 1},
    {W_THREAT_MINOR_ON_ROOK, 1, "threat_minor_on_rook", 1},
    {W_THREAT_ON_QUEEN, 1, "threat_on_queen", 1},
    {W_THREAT_ROOK_ON_QUEEN, 1, "threat_rook_on_queen", 1},
    {W_THREAT_HANGING, 1, "threat_hanging", 1},
    {W_THREAT_BY_KING, 1, "threat_by_king", 1},
    {W_THREAT_PAWN_PUSH, 1, "threat_pawn_push", 1},
    {W_KNIGHT_OUTPOST, 1, "knight_outpost", 12},
    {W_BISHOP_OUTPOST, 1, "bishop_outpost", 12},
    {W_ROOK_OPEN_FILE, 1, "rook_open_file", 12},
    {W_ROOK_SEMI_OPEN_FILE, 1, "rook_semi_open_file", 12},
    {W_ROOK_SEVENTH, 1, "rook_seventh", 12},
    {W_BAD_BISHOP, 1, "bad_bishop", 12},
    {W_MINOR_BEHIND_PAWN, 1, "minor_behind_pawn", 12},
    {W_KING_PAWN_DISTANCE, 1, "king_pawn_distance", -1},
};

const WeightBlock* blockOf(int w) {
    for (const WeightBlock& b : Blocks)
        if (w >= b.first && w < b.first + b.size) return &b;
    return nullptr;
}

// The hand-set starting point of the tuner: plain textbook values, so that
// the fit starts from a sensible evaluation.
struct InitialTable {
    ScorePair w[W_COUNT]{};
    constexpr InitialTable() {
        for (int i = 0; i < 32; i++) {
            int rank = i / 4, file = i % 4, c = centrality(i);
            if (rank >= 2 && rank <= 4 && file >= 2) w[W_PAWN_PSQ + i] = S(60, 0);
            w[W_PSQ + i] = S(-120 + 40 * c, -100 + 30 * c);     // knight
            w[W_PSQ + 32 + i] = S(-40 + 15 * c, -40 + 15 * c);  // bishop
            w[W_PSQ + 64 + i] = S(rank == 6 ? 50 : 0, 0);       // rook
            w[W_PSQ + 96 + i] = S(-20 + 5 * c, -40 + 10 * c);   // queen
            constexpr int kingFile[4] = {100, 120, 20, 0};
            w[W_PSQ + 128 + i] = S(rank == 0   ? kingFile[file]
                                   : rank == 1 ? -30
                                               : -100 - 20 * rank,
                                   -300 + 60 * c);  // king
        }
        w[W_PAWN_ADVANCED_ATTACKED] = S(-50, -80);
        w[W_PAWN_ATTACKED_BY_BLOCKED] = S(-30, -30);
        w[W_PAWN_DOUBLED] = S(-100, -200);
        w[W_PAWN_ISOLATED + 0] = S(-60, -80);
        w[W_PAWN_ISOLATED + 1] = S(-100, -120);
        w[W_PAWN_ISOLATED + 2] = S(-80, -100);
        w[W_PAWN_ISOLATED + 3] = S(-140, -140);
        for (int i = 0; i < 4; i++) w[W_PAWN_DOUBLED_ISOLATED + i] = S(-60, -80);
        w[W_PAWN_BACKWARD + 0] = S(-40, -60);
        w[W_PAWN_BACKWARD + 1] = S(-60, -80);
        w[W_PAWN_BACKWARD + 2] = S(-80, -60);
        w[W_PAWN_PUSH_ATTACKED] = S(-30, -10);
        w[W_PAWN_CONTROL_OUTSIDE] = S(10, 5);
        w[W_PAWN_KING_CENTRE_DISTANCE] = S(0, 30);
        constexpr int passedFile[4] = {50, 20, 0, -20};
        for (int f = 0; f < 4; f++) w[W_PAWN_PASSED_FILE + f] = S(20, 100 + passedFile[f]);
        constexpr int shelter[8] = {0, 150, 100, 40, 20, 0, 0, 0};
        constexpr int unopposed[8] = {0, 0, -20, -60, -120, -200, -100, 0};
        constexpr int blocked[8] = {0, 0, 0, -20, -30, -50, 0, 0};
        constexpr int opposed[8] = {0, 0, -10, -40, -80, -120, 0, 0};
        for (int r = 0; r < 8; r++) {
            w[W_PAWN_SHELTER + r] = S(shelter[r], 0);
            w[W_PAWN_STORM_UNOPPOSED + r] = S(unopposed[r], 0);
            w[W_PAWN_STORM_BLOCKED + r] = S(blocked[r], 0);
            w[W_PAWN_STORM_OPPOSED + r] = S(opposed[r], 0);
        }
        for (int n = 0; n < 4; n++) w[W_PAWN_STORM_FILES + n] = S(-20 * n, 0);
        constexpr int supported[8] = {0, 10, 20, 40, 80, 150, 250, 0};
        constexpr int candidate[8] = {0, 20, 30, 50, 80, 120, 0, 0};
        constexpr int passedRank[8] = {0, 0, 0, 100, 200, 350, 600, 0};
        for (int r = 0; r < 8; r++) {
            w[W_PASSED_SUPPORTED + r] = S(supported[r], 2 * supported[r]);
            w[W_CANDIDATE + r] = S(candidate[r], 2 * candidate[r]);
            w[W_PASSED_RANK + r] = S(passedRank[r], 2 * passedRank[r]);
            w[W_PASSED_OWN_KING + r] = S(0, r > 2 ? -15 * (r - 2) : 0);
            w[W_PASSED_ENEMY_KING + r] = S(0, r > 2 ? 30 * (r - 2) : 0);
            w[W_CANDIDATE_OWN_KING + r] = S(0, r > 1 ? -5 * (r - 1) : 0);
            w[W_CANDIDATE_ENEMY_KING + r] = S(0, r > 1 ? 10 * (r - 1) : 0);
            w[W_PASSED_BLOCKED + r] = S(0, -20 * r);
            w[W_PASSED_FREE_PATH + r] = S(0, r > 2 ? 30 * r : 0);
            w[W_PASSED_SAFE_STOP + r] = S(0, 20 * r);
        }
        for (int n = 0; n < 9; n++) w[W_MOBILITY + n] = S(40 * (n - 4), 40 * (n - 4));
        for (int n = 0; n < 14; n++) w[W_MOBILITY + 9 + n] = S(35 * (n - 6), 40 * (n - 6));
        for (int n = 0; n < 15; n++) w[W_MOBILITY + 23 + n] = S(20 * (n - 7), 50 * (n - 7));
        for (int n = 0; n < 28; n++) w[W_MOBILITY + 38 + n] = S(10 * (n - 13), 20 * (n - 13));
        w[W_ROOK_BEHIND_PASSER] = S(20, 80);
        w[W_THREAT_BY_PAWN] = S(400, 300);
        w[W_THREAT_MINOR_ON_ROOK] = S(300, 300);
        w[W_THREAT_ON_QUEEN] = S(400, 300);
        w[W_THREAT_ROOK_ON_QUEEN] = S(300, 300);
        w[W_THREAT_HANGING] = S(200, 200);
        w[W_THREAT_BY_KING] = S(50, 200);
        w[W_THREAT_PAWN_PUSH] = S(150, 100);
        w[W_KNIGHT_OUTPOST] = S(200, 100);
        w[W_BISHOP_OUTPOST] = S(120, 50);
        w[W_ROOK_OPEN_FILE] = S(300, 100);
        w[W_ROOK_SEMI_OPEN_FILE] = S(120, 60);
        w[W_ROOK_SEVENTH] = S(100, 250);
        w[W_BAD_BISHOP] = S(-20, -50);
        w[W_MINOR_BEHIND_PAWN] = S(50, 20);
        w[W_KING_PAWN_DISTANCE] = S(0, -60);
    }
};

constexpr InitialTable Initial{};

// Class byte of a file byte: the number of pawn files plus half their span,
// capped at 8; a lone rook's-file pawn file is 0 (the classic drawn edge).
uint8_t classOfFiles(int files) {
    if (files == 0) return 0;
    int count = __builtin_popcount(unsigned(files));
    int low = __builtin_ctz(unsigned(files)), high = 31 - __builtin_clz(unsigned(files));
    if (count == 1 && (low == 0 || low == 7)) return 0;
    return uint8_t(std::min(8, count + (high - low + 1) / 2));
}

}  // namespace

constinit const WeightSet InitialWeights = [] {
    WeightSet set{};
    for (int i = 0; i < W_COUNT; i++) set[i] = Initial.w[i];
    return set;
}();

int styleFieldOfWeight(int w) {
    const WeightBlock* b = blockOf(w);
    return b ? b->styleField : -1;
}

const char* weightBlockName(int w, int* offset) {
    const WeightBlock* b = blockOf(w);
    if (!b) {
        *offset = 0;
        return "?";
    }
    *offset = w - b->first;
    return b->name;
}

// Each table is a weight times its count (or a sum of such), so that the tuner
// can read the evaluation as a linear function of the flat list.
void buildRegularWeights(const ScorePair* base, const int32_t* styleFields) {
    for (int w = 0; w < W_COUNT; w++) {
        int field = styleFieldOfWeight(w);
        RegularWeight[w] = field < 0 ? base[w] : scalePair(base[w], styleFields[field]);
    }
    const ScorePair* W = RegularWeight;
    PawnWeightTables& t = PawnWeights;
    for (int n = 0; n <= 8; n++) {
        t.advancedAttacked[n] = n * W[W_PAWN_ADVANCED_ATTACKED];
        t.attackedByBlocked[n] = n * W[W_PAWN_ATTACKED_BY_BLOCKED];
        t.doubledCount[n] = n * W[W_PAWN_DOUBLED];
        for (int k = 0; k < 4; k++) {
            t.isolated[k][n] = n * W[W_PAWN_ISOLATED + k];
            t.doubledIsolated[k][n] = n * W[W_PAWN_DOUBLED_ISOLATED + k];
        }
        for (int k = 0; k < 3; k++) t.backward[k][n] = n * W[W_PAWN_BACKWARD + k];
        t.pushAttacked[n] = n * W[W_PAWN_PUSH_ATTACKED];
    }
    for (int n = 0; n <= 64; n++) t.controlOutside[n] = n * W[W_PAWN_CONTROL_OUTSIDE];
    for (int n = 0; n <= 16; n++)
        t.controlCentre[n] = scalePair(makeScorePair(55 * n, 29 * n), styleFields[3]);
    for (int d = 0; d < 8; d++) t.kingCentreDistance[d] = d * W[W_PAWN_KING_CENTRE_DISTANCE];
    for (int f = 0; f < 8; f++) t.passedFile[f] = W[W_PAWN_PASSED_FILE + std::min(f, 7 - f)];
    for (int r = 0; r < 8; r++) {
        t.shelter[r] = W[W_PAWN_SHELTER + r];
        t.stormUnopposed[r] = W[W_PAWN_STORM_UNOPPOSED + r];
        t.stormBlocked[r] = W[W_PAWN_STORM_BLOCKED + r];
        t.stormOpposed[r] = W[W_PAWN_STORM_OPPOSED + r];
    }
    for (int n = 0; n < 4; n++) t.stormFiles[n] = W[W_PAWN_STORM_FILES + n];
    // Connected pawns: hand-set (pair v, v / 2 is not linear in one weight).
    constexpr int connected[8] = {0, 25, 30, 50, 90, 150, 260, 0};
    int pawnStructure = styleFields[13];
    for (int r = 0; r < 8; r++) t.connectedWeight[r] = connected[r] * (100 + pawnStructure) / 100;
    for (int s = 0; s < 64; s++) {
        for (int c = 0; c < 2; c++) {
            int r = c == WHITE ? s / 8 : 7 - s / 8;
            int folded = r * 4 + std::min(s % 8, 7 - s % 8);
            t.passedSupported[c][s] = W[W_PASSED_SUPPORTED + r];
            t.candidate[c][s] = W[W_CANDIDATE + r];
            t.pawnPsq[c][s] = W[W_PAWN_PSQ + folded];
        }
    }
    for (int r = 0; r < 8; r++)
        for (int d = 0; d <= 8; d++) {
            t.passedOwnKing[r][d] = W[W_PASSED_RANK + r] + d * W[W_PASSED_OWN_KING + r];
            t.passedEnemyKing[r][d] = d * W[W_PASSED_ENEMY_KING + r];
            t.candidateOwnKing[r][d] = d * W[W_CANDIDATE_OWN_KING + r];
            t.candidateEnemyKing[r][d] = d * W[W_CANDIDATE_ENEMY_KING + r];
        }
    for (int c = 0; c < 9; c++) LatePhasePair[c] = W[W_LATE_CLASS + c];

    // Tempo: worth more with pieces on the board, where the move is an
    // initiative, than in the endgame. Tenths of a Score unit.
    for (int ph = 0; ph <= 96; ph++) TempoByPhase[ph] = (160 * ph + 60 * (96 - ph)) / 96;
    for (int files = 0; files < 256; files++) pawnFileClass[files] = classOfFiles(files);
}

void setDynamismFactors(int d) {
    dynamismFactorHigh = (d * 160) / 100;
    dynamismFactorLow = (d * 193) / 100;
}

// The curve is a logistic in the square of the attack index: nothing for a
// lone attacker, steep in the middle, flat at 1476 for overwhelming attacks.
void setKingDanger(int multiplier) {
    for (int x = 0; x < 512; x++) {
        kingDangerCurve[x] =
            int32_t(std::lround(2952.0 / (1.0 + std::exp(-0.0003194161629699387 * x * x)) - 1476.0));
        kingDangerTable[x] = makeScorePair((multiplier * kingDangerCurve[x]) / 10, 0);
    }
}
