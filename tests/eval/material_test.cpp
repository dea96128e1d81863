// Material evaluation: the special configurations, the general imbalance
// formula with its scale rules and value compression, the endgame evaluators
// and the per-thread hash tables.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <sstream>
#include <string>

#include "../board/board_test_util.h"
#include "board/position.h"
#include "core/options.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/material.h"
#include "eval/special_material.h"
#include "search/search_thread.h"

namespace {

// Tables the material evaluation needs, built once per test process, and an
// empty material hash for every test.
class MaterialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static bool built = false;
        if (!built) {
            initBoardTables();
            initMaterialWeights();
            buildSpecialMaterialTable();
            buildKpkBitbase();
            built = true;
        }
        allocateEvalHashTables(*searchThreads[0]);
    }

    static void clearMaterialHash() {
        std::memset(static_cast<void*>(searchThreads[0]->materialTable), 0, sizeof(MaterialHashTable));
    }
};

// FEN set-up leaves the phase at 0; the evaluation reads it, so the tests set
// it from the pieces (or to a chosen value).
int phaseOf(const Position& pos) {
    constexpr int weight[7] = {0, 0, 3, 4, 8, 18, 0};
    int phase = 0;
    for (Color c : {WHITE, BLACK})
        for (int t = KNIGHT; t <= QUEEN; t++) phase += weight[t] * popcount(pos.pieces[c][t]);
    return phase;
}

struct MaterialResult {
    int32_t value;
    float scale;
};

MaterialResult evaluateFen(const std::string& fen, int phase = -1) {
    static Position pos;
    setFromFen(pos, fen.c_str());
    pos.phase = int16_t(phase >= 0 ? phase : phaseOf(pos));
    float scale = 0.0f;
    int32_t value = evaluateMaterial(pos, &scale);
    return {value, scale};
}

// The same position with the colours exchanged: ranks mirrored, piece letters
// and the side to move swapped.
std::string colourFlipped(const std::string& fen) {
    std::istringstream in(fen);
    std::string placement, side;
    in >> placement >> side;
    std::string ranks[8], current;
    int rank = 0;
    for (char ch : placement) {
        if (ch == '/') {
            ranks[rank++] = current;
            current.clear();
        } else {
            current += std::isupper(static_cast<unsigned char>(ch)) ? char(std::tolower(ch))
                                                                    : char(std::toupper(ch));
        }
    }
    ranks[rank] = current;
    std::string flipped;
    for (int r = rank; r >= 0; r--) flipped += ranks[r] + (r ? "/" : "");
    return flipped + (side == "w" ? " b" : " w") + " - - 0 1";
}

struct MaterialCase {
    const char* name;
    const char* fen;
    int phase;  // -1: from the pieces
    int32_t value;
    float scale;
};

// Fixed configurations come from the special table; the others are worked
// by hand from the imbalance formula (see the comments beside them).
const MaterialCase MATERIAL_CASES[] = {
    {"bare kings", "4k3/8/8/8/8/8/8/4K3 w - - 0 1", -1, 0, 0.0f},
    {"KQK", "4k3/8/8/8/8/8/8/3QK3 w - - 0 1", -1, 96 * 8000, 1.0f},
    {"KQK for Black", "3qk3/8/8/8/8/8/8/4K3 b - - 0 1", -1, -96 * 8000, 1.0f},
    // c1 is dark, f1 light: the row BC.
    {"opposite-coloured bishop pair vs king", "4k3/8/8/8/8/8/8/2B1KB2 w - - 0 1", -1, 96 * 6000, 1.0f},
    {"row BCn with colours swapped", "2b1kb2/8/8/8/8/8/8/4K1N1 w - - 0 1", -1, -96 * 1000, 0.5f},
    {"row Qr", "4k3/8/8/8/8/8/8/r2QK3 w - - 0 1", -1, 96 * 3000, 0.75f},
    // Rows are read letter by letter: qrbkqr is all Black's (two queens, two
    // rooks, a light-squared bishop); k counts nothing.
    {"row qrbkqr", "rqbqk2r/8/8/8/8/8/8/4K3 w - - 0 1", -1, 96 * 521, 0.26f},
    // Two dark bishops: W = 2 * 4603 + 556 + 41 = 9803; scale 1 (difference
    // of 7 units); v = 96 * 9803 = 941088, compressed by (v - 76800) * ph / 288,
    // then * 97 / 100 * 105 / 100. Scale * (0.95 + ph * 0.2 / 96).
    {"same-coloured bishops, phase 0", "4k3/8/8/8/8/8/8/B1B1K3 w - - 0 1", 0, 958497, 0.95f},
    {"same-coloured bishops, phase 8", "4k3/8/8/8/8/8/8/B1B1K3 w - - 0 1", 8, 934045, 0.9666667f},
    {"same-coloured bishops, phase 96", "4k3/8/8/8/8/8/8/B1B1K3 w - - 0 1", 96, 665072, 1.15f},
    // R+2P vs R+P: cP = -74, cR = -444, D = 1067. Rook against rook: 0.9,
    // then two pawns for the side ahead: * 0.62. v = trunc(0.558 * 102432).
    {"rook ending with pawns", "r3k3/p7/8/8/8/8/PP6/4K2R w - - 0 1", -1, 58214, 0.558f * 0.98333333f},
    // B+2P vs B+P on opposite colours: D = 1141; scale 0.64 (only the
    // bishops) * 0.62 (two pawns); v = 109536 * (0.8 + 8 / 600) = 89089, then
    // trunc(0.3968 * 89089) = 35350.
    {"opposite bishops with pawns", "2b1k3/p7/8/8/8/8/PP6/2B1K3 w - - 0 1", -1, 36003, 0.3968f * 0.96666667f},
    // Kings and pawns only: scale 1.3, and at phase 0 no pawn-count rule and
    // no compression: trunc(1.3 * 96 * 1141) = 142396.
    {"pure pawn ending", "4k3/pp6/8/8/8/8/PPP5/4K3 w - - 0 1", -1, 145030, 1.3f * 0.95f},
};

TEST_F(MaterialTest, ValueAndScaleOfWorkedCases) {
    for (const MaterialCase& c : MATERIAL_CASES) {
        SCOPED_TRACE(c.name);
        clearMaterialHash();
        MaterialResult r = evaluateFen(c.fen, c.phase);
        EXPECT_EQ(r.value, c.value);
        EXPECT_NEAR(r.scale, c.scale, 1e-5);
    }
}

// Swapping the colours negates the value and keeps the scale, for special
// rows (both colour orders are in the table), the general formula and the
// endgame evaluators (mirrored for a Black strong side).
TEST_F(MaterialTest, ColourFlipNegatesValue) {
    const char* fens[] = {
        "4k3/8/8/8/8/8/8/2B1KB2 w - - 0 1",      // row BC
        "r1bqk3/8/8/8/8/8/8/R2QK3 w - - 0 1",    // general formula
        "rqbqk2r/8/8/8/8/8/8/4K3 w - - 0 1",     // row qrbkqr
        "r3k3/p7/8/8/8/8/PP6/4K2R w - - 0 1",    // general formula
        "2b1k3/p7/8/8/8/8/PP6/2B1K3 w - - 0 1",  // opposite bishops
        "rnbqkb1r/ppp2ppp/8/8/8/8/PPP1PPPP/RN1QKBNR w - - 0 1",
        "8/8/4B3/8/8/5K2/8/4N2k w - - 0 1",   // KBNK
        "8/8/8/8/3k4/8/5PK1/4N3 w - - 0 1",   // KNPK
        "k7/P7/8/2K5/8/8/8/4N3 w - - 0 1",    // KNPK, rook pawn held
        "8/8/8/4k3/8/4P3/8/4K3 b - - 0 1",    // KPK
        "4k3/8/4P3/8/8/8/r7/4K2R w - - 0 1",  // KRPKR
    };
    for (const char* fen : fens) {
        SCOPED_TRACE(fen);
        clearMaterialHash();
        MaterialResult white = evaluateFen(fen);
        clearMaterialHash();
        MaterialResult black = evaluateFen(colourFlipped(fen));
        EXPECT_EQ(black.value, -white.value);
        EXPECT_FLOAT_EQ(black.scale, white.scale);
    }
}

// The bishop decides the mating corner: the value is higher with the weak
// king in a corner of the bishop's colour than in the other corner or in the
// centre, at equal king and knight distances. The evaluator's scale is 0.
TEST_F(MaterialTest, KbnkPrefersTheBishopsCorner) {
    // Light-squared bishop (e6); kings two apart; knight three from the weak king.
    MaterialResult rightCorner = evaluateFen("8/8/4B3/8/8/5K2/8/4N2k w - - 0 1");  // h1
    MaterialResult wrongCorner = evaluateFen("8/8/4B3/8/8/2K5/8/k2N4 w - - 0 1");  // a1
    MaterialResult centre = evaluateFen("4N3/8/4B3/4k3/8/4K3/8/8 w - - 0 1");      // e5
    MaterialResult nearCorner = evaluateFen("8/8/4B3/8/5K2/8/6k1/3N4 w - - 0 1");  // g2
    EXPECT_GT(rightCorner.value, nearCorner.value);
    EXPECT_GT(nearCorner.value, centre.value);
    EXPECT_GT(rightCorner.value, wrongCorner.value);
    for (MaterialResult r : {rightCorner, wrongCorner, centre, nearCorner}) EXPECT_EQ(r.scale, 0.0f);
    // The same material with a dark-squared bishop (c5) turns the corners round.
    EXPECT_GT(evaluateFen("8/8/8/2B5/8/2K5/8/k2N4 w - - 0 1").value,
              evaluateFen("8/8/8/2B5/8/5K2/8/4N2k w - - 0 1").value);
}

// Rook and pawn against rook: the defending king in front of the pawn makes
// it drawish, more so with the rook placed for the book defences.
TEST_F(MaterialTest, KrpkrDefences) {
    struct {
        const char* fen;
        int32_t value;
        float scale;
    } cases[] = {
        {"8/8/4k3/8/4P3/8/r7/4K2R w - - 0 1", 96 * 500, 0.5f},    // king not in front
        {"4k3/8/4P3/8/8/8/r7/4K2R w - - 0 1", 96 * 50, 0.158f},   // pawn on the 6th, rook behind
        {"4k3/8/r7/4P3/8/8/8/4K2R w - - 0 1", 96 * 50, 0.158f},   // rook on the 6th, pawn on the 5th
        {"4k3/8/r3P3/8/8/8/8/4K2R w - - 0 1", 96 * 300, 0.387f},  // rook on the 6th beside the pawn
        {"4k3/8/8/4P3/8/8/r7/4K2R w - - 0 1", 96 * 300, 0.387f},  // king in front, rook elsewhere
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fen);
        MaterialResult r = evaluateFen(c.fen);
        EXPECT_EQ(r.value, c.value);
        EXPECT_FLOAT_EQ(r.scale, c.scale);
    }
}

// A stored result is returned as it is: with the phase changed behind the
// hash's back, the second probe still gives the first value and scale.
TEST_F(MaterialTest, MaterialHashHitReturnsStoredResult) {
    const char* fen = "4k3/8/8/8/8/8/8/B1B1K3 w - - 0 1";
    MaterialResult first = evaluateFen(fen, 8);
    MaterialResult again = evaluateFen(fen, 96);
    EXPECT_EQ(again.value, first.value);
    EXPECT_EQ(again.scale, first.scale);
    clearMaterialHash();
    EXPECT_NE(evaluateFen(fen, 96).value, first.value);
}

// The pawn hash gets the thread's share of "Table Memory" less the material
// hash, at 96 bytes a slot, rounded up to a power of two.
TEST_F(MaterialTest, PawnHashSizing) {
    struct {
        int megabytes, threads;
        uint64_t entries;
    } cases[] = {
        {64, 1, 1 << 20},    // 698,368 rounds up
        {1, 256, 64},        // 40 rounds up
        {1024, 1, 1 << 24},  // the largest setting
        {1, 1, 16384},       // 10,240 rounds up
        {3, 2, 16384},       // (3 MiB - 64 KiB) / 2 / 96 = 16,042 rounds up
    };
    for (const auto& c : cases) EXPECT_EQ(pawnHashEntryCount(c.megabytes, c.threads), c.entries);
}

// Re-allocation clears the tables, resizes the pawn slots and keeps the table
// records that positions point to.
TEST_F(MaterialTest, ReallocationKeepsHandlesAndClears) {
    SearchThread& thread = *searchThreads[0];
    MaterialHashTable* material = thread.materialTable;
    PawnHashTable* pawns = thread.pawnTable;
    material->entries[7].key = 12345;
    int savedMemory = tableMemoryMb, savedThreads = activeThreads;
    tableMemoryMb = 1;
    activeThreads = 4;
    allocateEvalHashTables(thread);
    EXPECT_EQ(thread.materialTable, material);
    EXPECT_EQ(thread.pawnTable, pawns);
    EXPECT_EQ(material->entries[7].key, 0u);
    EXPECT_EQ(pawns->entryCount, 4096u);
    EXPECT_EQ(pawnHashMask, 4095u);
    pawns->entries[4095].unused43[4] = 1;  // the whole block is usable
    tableMemoryMb = savedMemory;
    activeThreads = savedThreads;
    allocateEvalHashTables(thread);
    EXPECT_EQ(pawnHashMask, pawns->entryCount - 1);
    EXPECT_EQ(pawns->entries[pawnHashMask].unused43[4], 0u);
}

// An allocation that cannot be met ends the program with the message and
// status -1 (255).
TEST_F(MaterialTest, FailedAllocationIsFatal) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer aborts on impossible allocations before the engine sees them";
#endif
    // A thread record carries its move-ordering tables: too big for the stack.
    static SearchThread thread;
    EXPECT_EXIT(
        {
            tableMemoryMb = INT_MAX;
            allocateEvalHashTables(thread);
        },
        ::testing::ExitedWithCode(255), "Unable to allocate -?[0-9]+ bytes of memory for pawn_hash");
}

}  // namespace
