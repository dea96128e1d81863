#include "search/history.h"

#include <algorithm>

#include "search/search_tables.h"

namespace {

// The bonus tables cover depths 0..199; deeper nodes use the last row.
inline int bonusRow(int depth) {
    return std::clamp(depth, 0, HISTORY_BONUS_DEPTHS - 1);
}

inline int32_t& mainEntry(const Position& pos, Move m) {
    return pos.history->mainHistory[pos.board[moveFrom(m)]][moveFrom(m) * 64 + moveTo(m)];
}

// Applies f to the three continuation entries (1, 2 and 4 plies back) of move m.
template <typename Update>
inline void forEachContinuation(const Position& pos, Move m, Update f) {
    Piece p = pos.board[moveFrom(m)];
    Square to = moveTo(m);
    for (PieceToHistory* row : pos.contHist) row->entry[p][to] = f(row->entry[p][to]);
}

void rewardContinuations(const Position& pos, Move m, int32_t bonus) {
    forEachContinuation(pos, m, [bonus](int32_t c) { return continuationAfterBonus(c, bonus); });
}

void punishContinuations(const Position& pos, Move m, int32_t bonus) {
    forEachContinuation(pos, m, [bonus](int32_t c) { return continuationAfterMalus(c, bonus); });
}

}  // namespace

// Fills every table with its starting value: killers and counter moves empty,
// histories at the centre of their gravity range.
void resetHistoryTable(HistoryTable& table) {
    for (auto& ply : table.killerMoves) ply[0] = ply[1] = MOVE_NONE;
    std::fill_n(&table.mainHistory[0][0], 16 * 4096, MAIN_HISTORY_START);
    std::fill_n(&table.captureHistory[0][0][0], 16 * 64 * 16, CAPTURE_HISTORY_START);
    std::fill_n(&table.counterMoves[0][0], 16 * 4096, MOVE_NONE);
    PieceToHistory* rows = &table.continuation[0][0][0][0];
    for (int r = 0; r < 2 * 2 * 15 * 64; r++) std::fill_n(&rows[r].entry[0][0], 16 * 64, CONTINUATION_START);
}

// The counter move is keyed by the move that produced pos (skipped when there
// is none); the killers keep two distinct moves, newest first.
void updateQuietCutoff(const Position& pos, int ply, Move m) {
    HistoryTable& table = *pos.history;
    Move last = Move(pos.lastMove);
    if (pos.movedPiece != NO_PIECE && last != MOVE_NONE)
        table.counterMoves[pos.movedPiece][moveFrom(last) * 64 + moveTo(last)] = m;
    Move* killers = table.killerMoves[std::clamp(ply, 0, KILLER_PLIES - 1)];
    if (killers[0] != m) {
        killers[1] = killers[0];
        killers[0] = m;
    }
}

// The list holds every quiet move tried at the node, the best one included.
void updateQuietStats(const Position& pos, Move best, const Move* quiets, int quietCount, int depth) {
    int32_t bonus = quietHistoryBonus[bonusRow(depth)];
    int32_t contBonus = continuationBonus[bonusRow(depth)];
    for (int i = 0; i < quietCount; i++) {
        Move m = quiets[i];
        int32_t& h = mainEntry(pos, m);
        if (m == best) {
            h = mainHistoryAfter(h, bonus);
            rewardContinuations(pos, m, contBonus);
        } else {
            h = mainHistoryAfter(h, -bonus);
            punishContinuations(pos, m, contBonus);
        }
    }
}

void updateCaptureStats(const Position& pos, Move best, const Move* captures, int captureCount, int depth) {
    int32_t bonus = captureHistoryBonus[bonusRow(depth)];
    for (int i = 0; i < captureCount; i++) {
        Move m = captures[i];
        int32_t& h = pos.history->captureHistory[pos.board[moveFrom(m)]][moveTo(m)][capturedPieceOf(pos, m)];
        h = captureHistoryAfter(h, m == best ? bonus : -bonus);
    }
}

void rewardQuietMove(const Position& pos, Move m, int depth) {
    int32_t& h = mainEntry(pos, m);
    h = mainHistoryAfter(h, quietHistoryBonus[bonusRow(depth)]);
    rewardContinuations(pos, m, continuationBonus[bonusRow(depth)]);
}

void punishContinuation(const Position& pos, Move m, int depth) {
    punishContinuations(pos, m, continuationBonus[bonusRow(depth)]);
}

void addLastMoveFeedback(const Position& pos, int delta) {
    Move last = Move(pos.lastMove);
    if (pos.movedPiece == NO_PIECE || last == MOVE_NONE) return;
    int32_t& h = pos.history->mainHistory[pos.movedPiece][moveFrom(last) * 64 + moveTo(last)];
    h = mainHistoryAfter(h, std::clamp(delta, -2000, 2000));
}
