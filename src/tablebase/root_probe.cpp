#include "tablebase/root_probe.h"

#include <algorithm>

#include "board/make_move.h"
#include "board/movegen.h"
#include "core/options.h"
#include "tablebase/tablebase_probe.h"

namespace {

// Root score and move rank by WDL value -2..2.
constexpr int32_t ScoreByWdl[5] = {-31799, -2, 0, 2, 31799};
constexpr int32_t RankByWdl[5] = {-1000, -899, 0, 899, 1000};
// The distance of a move that zeroes the counter, by the WDL value after it.
constexpr int32_t ZeroingMoveDtz[5] = {-1, -101, 0, 101, 1};

struct RankedMove {
    uint32_t move;
    int32_t value;
    int32_t spare;
    int32_t tbRank;
};

// Whether the root repeats a position since the last capture or pawn move:
// a win then has no slack left for another repetition.
bool rootRepeats(const Position& pos) {
    const Position* earlier = &pos;
    for (int back = 2; back <= pos.rule50; back += 2) {
        earlier = earlier->parent ? earlier->parent->parent : nullptr;
        if (!earlier) return false;
        if (back >= 4 && earlier->key == pos.key) return true;
    }
    return false;
}

inline bool zeroesCounter(const Position& pos, Move m) {
    return moveKind(m) == EN_PASSANT || typeOf(pos.board[moveFrom(m)]) == PAWN ||
           (moveKind(m) != CASTLING && pos.board[moveTo(m)] != NO_PIECE);
}

int copyOut(const RankedMove* moves, int count, TablebaseRootMove* out) {
    for (int i = 0; i < count; i++) out[i] = {moves[i].move, moves[i].value, moves[i].spare};
    out[count] = {0, 0, 0};
    tablebaseHits.fetch_add(uint64_t(count), std::memory_order_relaxed);
    return count;
}

}  // namespace

int rootProbeDtz(const Position& root, TablebaseRootMove* out, int32_t* score) {
    ProbeResult result;
    bool rep = rootRepeats(root);
    int rootDtz = probeDtz(root, &result);
    if (result == PROBE_FAILED) return 0;
    int cnt50 = root.rule50;

    RankedMove moves[MAX_TABLEBASE_ROOT_MOVES];
    int count = 0;
    MoveEntry list[MAX_MOVES];
    int generated = generateAll(root, list);
    Position child;
    for (int i = 0; i < generated; i++) {
        Move m = list[i].move;
        if (!makeMove(root, child, m)) continue;
        child.checkers = computeCheckers(child);
        int d;
        if (zeroesCounter(root, m)) {
            int w = probeWdl(child, &result);
            d = ZeroingMoveDtz[2 - w];
        } else {
            d = -probeDtz(child, &result);
            d += d > 0 ? 1 : d < 0 ? -1 : 0;
        }
        if (result == PROBE_FAILED) return 0;
        if (d == 2 && child.checkers && !hasLegalMove(child)) d = 1;
        int rank = 0;
        if (d > 0)
            rank = !rep && d + cnt50 <= 99 ? 1000 : 1000 - (d + cnt50);
        else if (d < 0)
            rank = -2 * d + cnt50 < 100 ? -1000 : -1000 + cnt50 - d;
        if (count < MAX_TABLEBASE_ROOT_MOVES - 1) moves[count++] = {m, d, 0, rank};
    }
    if (count == 0) return 0;

    int wdl = 0;
    if (rootDtz > 0) wdl = rootDtz + cnt50 <= 100 ? 2 : 1;
    if (rootDtz < 0) wdl = -rootDtz + cnt50 <= 100 ? -2 : -1;
    *score = ScoreByWdl[wdl + 2];
    if (wdl == 1 && rootDtz <= 100) *score = (200 - rootDtz - cnt50) / 2;
    if (wdl == -1 && rootDtz >= -100) *score = -((200 + rootDtz - cnt50) / 2);

    // Which moves keep the result: a win keeps the moves that still zero in
    // time (or, when time is short, the fastest ones); a loss near the limit
    // keeps the longest defence only; a draw keeps the drawing moves.
    int kept = 0;
    if (rootDtz > 0) {
        int best = 65535;
        for (int i = 0; i < count; i++)
            if (moves[i].value > 0 && moves[i].value < best) best = moves[i].value;
        int max = !rep && best + cnt50 <= 99 ? 99 - cnt50 : best;
        for (int i = 0; i < count; i++)
            if (moves[i].value > 0 && moves[i].value <= max) moves[kept++] = moves[i];
    } else if (rootDtz < 0) {
        int best = 0;
        for (int i = 0; i < count; i++) best = std::min(best, int(moves[i].value));
        for (int i = 0; i < count; i++)
            if (cnt50 - 2 * best < 100 || moves[i].value == best) moves[kept++] = moves[i];
    } else {
        for (int i = 0; i < count; i++)
            if (moves[i].value == 0) moves[kept++] = moves[i];
    }
    std::stable_sort(moves, moves + kept,
                     [](const RankedMove& a, const RankedMove& b) { return a.tbRank > b.tbRank; });
    return copyOut(moves, kept, out);
}

int rootProbeWdl(const Position& root, TablebaseRootMove* out, int32_t* score) {
    ProbeResult result;
    int w = probeWdl(root, &result);
    if (result == PROBE_FAILED) return 0;
    *score = ScoreByWdl[w + 2];

    RankedMove moves[MAX_TABLEBASE_ROOT_MOVES];
    int count = 0, best = -3;
    MoveEntry list[MAX_MOVES];
    int generated = generateAll(root, list);
    Position child;
    for (int i = 0; i < generated; i++) {
        Move m = list[i].move;
        if (!makeMove(root, child, m)) continue;
        child.checkers = computeCheckers(child);
        int v = -probeWdl(child, &result);
        if (result == PROBE_FAILED) return 0;
        if (!syzygy50MoveRule) v = v > 0 ? 2 : v < 0 ? -2 : 0;
        best = std::max(best, v);
        if (count < MAX_TABLEBASE_ROOT_MOVES - 1) moves[count++] = {m, v, 0, RankByWdl[v + 2]};
    }
    int kept = 0;
    for (int i = 0; i < count; i++)
        if (moves[i].value == best) moves[kept++] = moves[i];
    return copyOut(moves, kept, out);
}
