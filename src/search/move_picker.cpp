#include "search/move_picker.h"

#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/movegen.h"
#include "board/sliding_attacks.h"
#include "search/history.h"

namespace {

// The stage sequences back to back; PickSequence values index into it.
// clang-format off
constexpr uint8_t StageTable[] = {
    // PICK_MAIN
    STAGE_TABLE_MOVE, STAGE_CAPTURES, STAGE_KILLER_1, STAGE_KILLER_2, STAGE_COUNTER_MOVE, STAGE_QUIETS,
    STAGE_DEFERRED_CAPTURES, STAGE_END,
    // PICK_EVASIONS
    STAGE_TABLE_MOVE, STAGE_EVASIONS, STAGE_DEFERRED_CAPTURES, STAGE_END,
    // PICK_QSEARCH
    STAGE_TABLE_MOVE, STAGE_ALL_CAPTURES, STAGE_END,
    // PICK_QSEARCH_CHECKS
    STAGE_TABLE_MOVE, STAGE_ALL_CAPTURES, STAGE_QSEARCH_CHECKS, STAGE_END,
    // PICK_FUTILITY
    STAGE_TABLE_MOVE, STAGE_CAPTURES, STAGE_KILLER_1, STAGE_COUNTER_MOVE, STAGE_QUIET_CHECKS,
    STAGE_SEVENTH_RANK_PUSHES, STAGE_END,
    // PICK_FUTILITY_DEEP
    STAGE_TABLE_MOVE, STAGE_CAPTURES, STAGE_KILLER_1, STAGE_COUNTER_MOVE, STAGE_QUIET_CHECKS,
    STAGE_SEVENTH_RANK_PUSHES, STAGE_DEFERRED_CAPTURES, STAGE_END,
    // PICK_EVASIONS_NO_DEFER
    STAGE_TABLE_MOVE, STAGE_EVASIONS, STAGE_END,
    // PICK_PROBCUT
    STAGE_PROBCUT_TABLE_MOVE, STAGE_ALL_CAPTURES, STAGE_PROBCUT_EXTRA, STAGE_END,
};
// clang-format on
static_assert(StageTable[PICK_EVASIONS - 1] == STAGE_END && StageTable[PICK_QSEARCH - 1] == STAGE_END &&
                  StageTable[PICK_QSEARCH_CHECKS - 1] == STAGE_END &&
                  StageTable[PICK_FUTILITY - 1] == STAGE_END &&
                  StageTable[PICK_FUTILITY_DEEP - 1] == STAGE_END &&
                  StageTable[PICK_EVASIONS_NO_DEFER - 1] == STAGE_END &&
                  StageTable[PICK_PROBCUT - 1] == STAGE_END && sizeof(StageTable) == PICK_PROBCUT + 4,
              "every sequence starts right after the previous one ends");

// Ordering keys of the capture and quiet stages: captures by what they take
// and their capture history, quiet moves by their combined history.
inline void keyTacticalMoves(const Position& pos, MoveEntry* list, int count) {
    for (int i = 0; i < count; i++) list[i].key = captureOrderKey(pos, list[i].move);
}

inline void keyQuietMoves(const Position& pos, MoveEntry* list, int count) {
    for (int i = 0; i < count; i++) list[i].key = quietOrderKey(combinedQuietHistory(pos, list[i].move));
}

// Stable insertion sort, highest key first; equal keys keep generation order.
void sortByKey(MoveEntry* list, int count) {
    for (int i = 1; i < count; i++) {
        MoveEntry entry = list[i];
        int j = i;
        for (; j > 0 && list[j - 1].key < entry.key; j--) list[j] = list[j - 1];
        list[j] = entry;
    }
}

// Evasion keys: promotions, then captures (most valuable victim, least
// valuable attacker), the killers, and the other quiet evasions by main and
// one-ply continuation history.
void scoreEvasions(const Position& pos, MoveEntry* list, int count, Move killer1, Move killer2) {
    for (int i = 0; i < count; i++) {
        Move m = list[i].move;
        Square from = moveFrom(m), to = moveTo(m);
        Piece mover = pos.board[from], victim = pos.board[to];
        int32_t key;
        if (isPromotion(m))
            key = 31000;
        else if (moveKind(m) == EN_PASSANT)
            key = 30000;
        else if (victim != NO_PIECE)
            key = 30000 + 16 * victim - mover;
        else if (m == killer1)
            key = 29000;
        else if (m == killer2)
            key = 28000;
        else
            key = (pos.history->mainHistory[mover][from * 64 + to] + pos.contHist[0]->entry[mover][to]) >> 3;
        list[i].key = int16_t(key);
    }
}

// Non-capturing pawn pushes onto the seventh rank that do not give check
// (the checking ones came from the quiet-check stage just before).
int generateSeventhRankPushes(const Position& pos, MoveEntry* list) {
    Color us = pos.sideToMove();
    Bitboard sixth = rankBB(us == WHITE ? 5 : 2);
    int n = 0;
    for (Bitboard b = pos.ours(PAWN) & sixth; b;) {
        Square from = popLsb(b);
        Move m = encodeMove(from, from + PawnPush[us]);
        if (pos.board[moveTo(m)] == NO_PIECE && !givesCheck(pos, m)) list[n++] = {m, 0};
    }
    return n;
}

// Our pieces that alone stand between one of our sliders and the enemy king:
// moving them off the line uncovers check.
Bitboard discoveredCheckers(const Position& pos) {
    Color us = pos.sideToMove();
    Square k = pos.kingSquare[~us];
    Bitboard snipers = (BishopRays[k] & (pos.ours(BISHOP) | pos.ours(QUEEN))) |
                       (RookRays[k] & (pos.ours(ROOK) | pos.ours(QUEEN)));
    Bitboard result = 0;
    while (snipers) {
        Bitboard blockers = Between[k][popLsb(snipers)] & pos.occupied;
        if (blockers && !moreThanOne(blockers)) result |= blockers & pos.pieces[us][0];
    }
    return result;
}

// Adds the moves from `from` to `targets`; with `filter` only those that give check.
int addChecking(const Position& pos, MoveEntry* list, int n, Square from, Bitboard targets, MoveKind kind,
                bool filter) {
    while (targets) {
        Move m = encodeMove(from, popLsb(targets), kind);
        if (!filter || givesCheck(pos, m)) list[n++] = {m, 0};
    }
    return n;
}

// The next entry of the current list that no single-move stage returned.
Move nextListed(MovePicker& picker) {
    while (picker.readIndex < picker.moveCount) {
        Move m = picker.moves[picker.readIndex++].move;
        if (!alreadyReturned(picker, m)) return m;
    }
    return MOVE_NONE;
}

// Moves on to the next stage of the sequence and generates its list.
void enterNextStage(MovePicker& picker) {
    const Position& pos = *picker.pos;
    picker.stage = StageTable[picker.nextStageIndex++];
    picker.readIndex = picker.moveCount = 0;
    switch (picker.stage) {
        case STAGE_CAPTURES:
        case STAGE_ALL_CAPTURES:
            picker.moveCount = generateTactical(pos, picker.moves);
            keyTacticalMoves(pos, picker.moves, picker.moveCount);
            sortByKey(picker.moves, picker.moveCount);
            break;
        case STAGE_QUIETS:
            picker.moveCount = generateQuiet(pos, picker.moves);
            keyQuietMoves(pos, picker.moves, picker.moveCount);
            sortByKey(picker.moves, picker.moveCount);
            break;
        case STAGE_EVASIONS:
            picker.moveCount = generateEvasions(pos, picker.moves);
            scoreEvasions(pos, picker.moves, picker.moveCount, picker.killer1, picker.killer2);
            sortByKey(picker.moves, picker.moveCount);
            break;
        case STAGE_QUIET_CHECKS:
        case STAGE_QSEARCH_CHECKS:
            picker.moveCount = generateQuietChecks(pos, picker.moves);
            break;
        case STAGE_SEVENTH_RANK_PUSHES:
            picker.moveCount = generateSeventhRankPushes(pos, picker.moves);
            break;
        default:
            break;
    }
}

// Killers and counter moves are offered only as quiet moves (castling
// included): never a capture, an en-passant capture or a promotion, all of
// which belong to the capture and quiet stages.
bool isQuietCandidate(const Position& pos, Move m) {
    if (isPromotion(m) || moveKind(m) == EN_PASSANT) return false;
    return (moveKind(m) == CASTLING || pos.board[moveTo(m)] == NO_PIECE) && isPseudoLegal(pos, m);
}

// Records and returns a move of a single-move stage.
Move returnSingle(MovePicker& picker, int slot, Move m) {
    picker.returned[slot] = m;
    return m;
}

}  // namespace

int generateQuietChecks(const Position& pos, MoveEntry* list) {
    Color us = pos.sideToMove();
    Square k = pos.kingSquare[~us];
    Bitboard empty = ~pos.occupied, uncovering = discoveredCheckers(pos);
    int n = 0;

    // Castling, when the rook lands on a check.
    if (!pos.checkers) {
        for (int r = 2 * us; r <= 2 * us + 1; r++) {
            Move m = encodeMove(pos.kingSquare[us], castleRookSquare[r], CASTLING);
            if (!(pos.castleLost & (1 << r)) && !(castlePath[r] & pos.occupied) && isPseudoLegal(pos, m) &&
                givesCheck(pos, m))
                list[n++] = {m, 0};
        }
    }

    // Single pushes that do not promote, then the pieces, then double pushes.
    // A piece that uncovers check is tested move by move; any other checks
    // only from the squares that attack the king.
    Bitboard diagonalChecks = bishopAttacks(k, pos.occupied), straightChecks = rookAttacks(k, pos.occupied);
    const Bitboard checkSquares[7] = {0,
                                      PawnAttacks[~us][k],
                                      KnightAttacks[k],
                                      diagonalChecks,
                                      straightChecks,
                                      diagonalChecks | straightChecks,
                                      0};
    int push = PawnPush[us];
    Bitboard pawns = pos.ours(PAWN);
    for (Bitboard b = (us == WHITE ? shiftNorth(pawns) : shiftSouth(pawns)) & empty & ~LastRanks; b;) {
        Square to = popLsb(b), from = to - push;
        bool uncovers = uncovering & squareBB(from);
        n = addChecking(pos, list, n, from, squareBB(to) & (uncovers ? ~Bitboard(0) : checkSquares[PAWN]),
                        NORMAL, uncovers);
    }
    for (PieceType t : {KNIGHT, BISHOP, ROOK, QUEEN, KING}) {
        for (Bitboard b = pos.ours(t); b;) {
            Square from = popLsb(b);
            bool uncovers = uncovering & squareBB(from);
            Bitboard targets = pieceAttacks(t, from, pos.occupied) & empty;
            n = addChecking(pos, list, n, from, uncovers ? targets : targets & checkSquares[t], NORMAL,
                            uncovers);
        }
    }
    for (Bitboard b = pawns & SecondRank[us]; b;) {
        Square from = popLsb(b);
        Square to = from + 2 * push;
        if (pos.occupied & (squareBB(from + push) | squareBB(to))) continue;
        bool uncovers = uncovering & squareBB(from);
        n = addChecking(pos, list, n, from, squareBB(to) & (uncovers ? ~Bitboard(0) : checkSquares[PAWN]),
                        DOUBLE_PUSH, uncovers);
    }
    return n;
}

void startPicker(MovePicker& picker, const Position& pos, int sequence, Move tableMove, Move killer1,
                 Move killer2, Move counterMove) {
    picker.pos = &pos;
    picker.nextStageIndex = sequence;
    picker.tableMove = tableMove;
    picker.killer1 = killer1;
    picker.killer2 = killer2;
    picker.counterMove = counterMove;
    picker.returned[0] = picker.returned[1] = picker.returned[2] = picker.returned[3] = MOVE_NONE;
    picker.deferredRead = picker.deferredCount = 0;
    picker.deferLosingCaptures = true;
    picker.quietsOff = false;
    picker.lastStage = 0;
    enterNextStage(picker);
}

// Runs the stages in order; a stage that has nothing (more) to give hands
// over to the next one at once. Lists are only generated on entering their
// stage, so a cut-off early in the sequence saves the later generators.
Move advancePicker(MovePicker& picker) {
    const Position& pos = *picker.pos;
    for (;;) {
        uint8_t stage = picker.stage;
        Move m = MOVE_NONE;
        switch (stage) {
            case STAGE_TABLE_MOVE:
            case STAGE_PROBCUT_TABLE_MOVE:
                enterNextStage(picker);
                if (picker.tableMove && isPseudoLegal(pos, picker.tableMove))
                    m = returnSingle(picker, 0, picker.tableMove);
                break;
            case STAGE_KILLER_1:
            case STAGE_KILLER_2:
            case STAGE_COUNTER_MOVE: {
                int slot = stage - STAGE_KILLER_1 + 1;
                Move candidate = stage == STAGE_KILLER_1   ? picker.killer1
                                 : stage == STAGE_KILLER_2 ? picker.killer2
                                                           : picker.counterMove;
                enterNextStage(picker);
                if (candidate && !alreadyReturned(picker, candidate) && isQuietCandidate(pos, candidate))
                    m = returnSingle(picker, slot, candidate);
                break;
            }
            case STAGE_CAPTURES:
                while ((m = nextListed(picker))) {
                    if (!picker.deferLosingCaptures || pos.board[moveTo(m)] == NO_PIECE || !seeBad(pos, m))
                        break;
                    picker.deferred[picker.deferredCount++] = m;
                }
                if (!m) enterNextStage(picker);
                break;
            case STAGE_QUIETS:
                if (!picker.quietsOff) m = nextListed(picker);
                if (!m) enterNextStage(picker);
                break;
            case STAGE_DEFERRED_CAPTURES:
                if (picker.deferredRead < picker.deferredCount)
                    m = picker.deferred[picker.deferredRead++];
                else
                    enterNextStage(picker);
                break;
            case STAGE_EVASIONS:
            case STAGE_QUIET_CHECKS:
            case STAGE_SEVENTH_RANK_PUSHES:
            case STAGE_QSEARCH_CHECKS:
            case STAGE_ALL_CAPTURES:
                m = nextListed(picker);
                if (!m) enterNextStage(picker);
                break;
            case STAGE_PROBCUT_EXTRA:
                enterNextStage(picker);
                break;
            default:
                return MOVE_NONE;
        }
        if (m) {
            picker.lastStage = stage;
            return m;
        }
    }
}
