#include "tablebase/tablebase_probe.h"

#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/movegen.h"
#include "core/options.h"
#include "tablebase/tablebase_registry.h"

std::atomic<uint64_t> tablebaseHits{0};

namespace {

// How a position meets its table: whether the colours are exchanged, and
// which of the table's sides is to move.
struct Orientation {
    bool flip;
    int side;
};

Orientation orientationOf(const TableEntry& e, const Position& pos) {
    int stm = pos.sideToMove();
    if (e.material.symmetric) return {stm == BLACK, 0};
    if (pos.materialCountKey == e.key) return {false, stm};
    return {true, stm ^ 1};
}

// The table's pieces of one code, as real pieces of the position.
inline Bitboard piecesOfCode(const Position& pos, int code, bool flip) {
    return pos.pieces[(code >> 3) ^ int(flip)][code & 7];
}

// The file group of a pawn table: the leading pawn with the smallest flap
// goes first into sq, the other leading pawns after it.
int placeLeadingPawns(const Position& pos, const TableFile& file, Orientation o, int* sq) {
    const PieceEncoding& first = file.sub[0][0].encoding;
    Bitboard pawns = piecesOfCode(pos, first.pieces[0], o.flip);
    int k = 0;
    while (pawns && k < first.leadingPawns) sq[k++] = popLsb(pawns) ^ (o.flip ? 56 : 0);
    if (k != first.leadingPawns || pawns) return -1;
    for (int i = 1; i < k; i++)
        if (pawnFlap(sq[i]) < pawnFlap(sq[0])) std::swap(sq[0], sq[i]);
    int f = sq[0] & 7;
    return f < 4 ? f : 7 - f;
}

// The squares of the pieces from `from` on, in the encoding's order.
bool placePieces(const Position& pos, const PieceEncoding& e, Orientation o, bool pawns, int from, int* sq) {
    int n = e.pieceCount;
    for (int i = from; i < n;) {
        int code = e.pieces[i];
        Bitboard b = piecesOfCode(pos, code, o.flip);
        int j = i;
        while (b) {
            if (j >= n || e.pieces[j] != code) return false;
            sq[j++] = popLsb(b) ^ (pawns && o.flip ? 56 : 0);
        }
        if (j == i) return false;
        i = j;
    }
    return true;
}

// The sub-table and index of the position in a table file, for the given
// table side (distance files hold one side only).
const SubTable* locate(const Position& pos, const TableEntry& e, const TableFile& file, Orientation o,
                       uint64_t& index, int& fileGroup) {
    int sq[MAX_TABLE_PIECES];
    bool pawns = e.material.hasPawns;
    int from = 0;
    fileGroup = 0;
    if (pawns) {
        fileGroup = placeLeadingPawns(pos, file, o, sq);
        if (fileGroup < 0) return nullptr;
        from = file.sub[0][0].encoding.leadingPawns;
    }
    const SubTable& sub = file.sub[fileGroup][file.sides == 2 ? o.side : 0];
    if (!placePieces(pos, sub.encoding, o, pawns, from, sq)) return nullptr;
    if (!encodePosition(sub.encoding, sq, index)) return nullptr;
    return &sub;
}

// The table entry of a position whose material has a table (not bare kings).
TableEntry* tableOf(const Position& pos) {
    TableEntry* e = findTable(pos.materialCountKey);
    return e && e->material.pieceCount == pos.pieceCount ? e : nullptr;
}

// The stored WDL value of the position, en-passant rights left out.
bool storedWdl(const Position& pos, int& value) {
    if (pos.pieceCount == 2) {
        value = WDL_DRAW;
        return true;
    }
    TableEntry* e = tableOf(pos);
    if (!e) return false;
    const TableFile* file = openTablePart(*e, TableKind::Wdl);
    if (!file) return false;
    uint64_t index;
    int fileGroup;
    const SubTable* sub = locate(pos, *e, *file, orientationOf(*e, pos), index, fileGroup);
    if (!sub) return false;
    int v = readStoredValue(*sub, index);
    if (v < 0) return false;
    value = v - 2;
    return true;
}

enum class StoredDtz { Found, OtherSide, Failed };

// The stored distance of the position with WDL value w, in plies; OtherSide
// when the file holds only the other side to move.
StoredDtz storedDtz(const Position& pos, int w, int& plies) {
    TableEntry* e = tableOf(pos);
    if (!e) return StoredDtz::Failed;
    const TableFile* file = openTablePart(*e, TableKind::Dtz);
    if (!file) return StoredDtz::Failed;
    Orientation o = orientationOf(*e, pos);
    uint64_t index;
    int fileGroup;
    const SubTable* found = locate(pos, *e, *file, o, index, fileGroup);
    if (!found) return StoredDtz::Failed;
    const SubTable& sub = *found;
    if (!e->material.symmetric && (sub.flags & 1) != o.side) return StoredDtz::OtherSide;
    int v = readStoredValue(sub, index);
    if (v < 0) return StoredDtz::Failed;
    if (!sub.singleValue && (sub.flags & 2)) {
        const ValueMaps& maps = file->maps[fileGroup];
        int m = w == WDL_WIN ? 0 : w == WDL_LOSS ? 1 : w == WDL_CURSED_WIN ? 2 : 3;
        if (v >= maps.count[m]) return StoredDtz::Failed;
        const uint8_t* p = maps.start[m];
        v = maps.wide ? p[2 * v] | (p[2 * v + 1] << 8) : p[v];
    }
    // Tables store moves unless their flags say plies.
    bool inPlies = (w == WDL_WIN && (sub.flags & 4)) || (w == WDL_LOSS && (sub.flags & 8));
    plies = inPlies ? v : 2 * v;
    return StoredDtz::Found;
}

inline bool isCapture(const Position& pos, Move m) {
    return moveKind(m) == EN_PASSANT || (moveKind(m) != CASTLING && pos.board[moveTo(m)] != NO_PIECE);
}

inline bool isZeroing(const Position& pos, Move m) {
    return isCapture(pos, m) || typeOf(pos.board[moveFrom(m)]) == PAWN;
}

// Makes m into child with the child's check state; false when illegal.
inline bool makeLegal(const Position& pos, Position& child, Move m) {
    if (!makeMove(pos, child, m)) return false;
    child.checkers = computeCheckers(child);
    return true;
}

// The value of pos by captures and the table, within (alpha, beta): captures
// settle what the table may store loosely. Its positions have no en-passant
// rights (they follow a capture).
bool captureSearch(const Position& pos, int alpha, int beta, int& value) {
    MoveEntry list[MAX_MOVES];
    int count = generateAll(pos, list);
    Position child;
    for (int i = 0; i < count; i++) {
        Move m = list[i].move;
        if (!isCapture(pos, m) || !makeLegal(pos, child, m)) continue;
        int v;
        if (!captureSearch(child, -beta, -alpha, v)) return false;
        v = -v;
        if (v > alpha) {
            if (v >= beta) {
                value = v;
                return true;
            }
            alpha = v;
        }
    }
    int v;
    if (!storedWdl(pos, v)) return false;
    value = alpha > v ? alpha : v;
    return true;
}

// Whether the side to move has a legal move that is not an en-passant capture.
bool hasMoveBesidesEnPassant(const Position& pos) {
    MoveEntry list[MAX_MOVES];
    int count = generateAll(pos, list);
    Position child;
    for (int i = 0; i < count; i++)
        if (moveKind(list[i].move) != EN_PASSANT && makeMove(pos, child, list[i].move)) return true;
    return false;
}

inline bool checkmated(const Position& pos) {
    return pos.checkers && !hasLegalMove(pos);
}

// The distance just before a zeroing move, by WDL value: a win zeroes with
// its next move (1), a cursed win counts from 101.
constexpr int ZeroingDtz[5] = {-1, -101, 0, 101, 1};

}  // namespace

int probeWdl(const Position& pos, ProbeResult* result) {
    *result = PROBE_FAILED;
    if (pos.castleLost != 15) return 0;
    if (pos.pieceCount > tbLargest || (pos.pieceCount > 2 && !tableOf(pos))) return 0;

    int bestCapture = -3, bestEnPassant = -3;
    MoveEntry list[MAX_MOVES];
    int count = generateAll(pos, list);
    Position child;
    for (int i = 0; i < count; i++) {
        Move m = list[i].move;
        if (!isCapture(pos, m) || !makeLegal(pos, child, m)) continue;
        int v;
        if (!captureSearch(child, -2, -bestCapture, v)) return 0;
        v = -v;
        if (v <= bestCapture) continue;
        if (v == WDL_WIN) {
            *result = PROBE_ZEROING_BEST;
            return WDL_WIN;
        }
        if (moveKind(m) == EN_PASSANT) {
            if (v > bestEnPassant) bestEnPassant = v;
        } else {
            bestCapture = v;
        }
    }

    int v;
    if (!storedWdl(pos, v)) return 0;
    if (bestEnPassant > bestCapture) {
        if (bestEnPassant > v) {
            *result = PROBE_ZEROING_BEST;
            return bestEnPassant;
        }
        bestCapture = bestEnPassant;
    }
    if (bestCapture >= v) {
        *result = bestCapture > 0 ? PROBE_ZEROING_BEST : PROBE_OK;
        return bestCapture;
    }
    // Without its en-passant right the position would be stalemate, so the
    // table's draw does not hold: the capture decides.
    if (bestEnPassant > -3 && v == WDL_DRAW && !pos.checkers && !hasMoveBesidesEnPassant(pos)) {
        *result = PROBE_ZEROING_BEST;
        return bestEnPassant;
    }
    *result = PROBE_OK;
    return v;
}

int probeDtz(const Position& pos, ProbeResult* result) {
    int w = probeWdl(pos, result);
    if (*result == PROBE_FAILED || w == WDL_DRAW) return 0;
    if (*result == PROBE_ZEROING_BEST) return ZeroingDtz[w + 2];

    MoveEntry list[MAX_MOVES];
    int count = generateAll(pos, list);
    Position child;
    ProbeResult childResult;
    // A winning pawn move zeroes at once.
    if (w > 0)
        for (int i = 0; i < count; i++) {
            Move m = list[i].move;
            if (typeOf(pos.board[moveFrom(m)]) != PAWN || isCapture(pos, m) || !makeLegal(pos, child, m))
                continue;
            int v = -probeWdl(child, &childResult);
            if (childResult == PROBE_FAILED) {
                *result = PROBE_FAILED;
                return 0;
            }
            if (v == w) return ZeroingDtz[w + 2];
        }

    int plies;
    StoredDtz stored = storedDtz(pos, w, plies);
    if (stored == StoredDtz::Failed) {
        *result = PROBE_FAILED;
        return 0;
    }
    if (stored == StoredDtz::Found) return w > 0 ? ZeroingDtz[w + 2] + plies : ZeroingDtz[w + 2] - plies;

    // The file holds the other side to move: one ply over the moves that do
    // not zero (the zeroing ones are covered above).
    int best = w > 0 ? 0x7FFF : ZeroingDtz[w + 2];
    for (int i = 0; i < count; i++) {
        Move m = list[i].move;
        if (isZeroing(pos, m) || !makeLegal(pos, child, m)) continue;
        int v = -probeDtz(child, &childResult);
        if (childResult == PROBE_FAILED) {
            *result = PROBE_FAILED;
            return 0;
        }
        if (w > 0) {
            if (v == 1 && checkmated(child))
                best = 1;
            else if (v > 0 && v + 1 < best)
                best = v + 1;
        } else if (v - 1 < best) {
            best = v - 1;
        }
    }
    *result = PROBE_OK;
    return best;
}

bool probeWdlScore(const Position& pos, int ply, Score* score) {
    ProbeResult result;
    int w = probeWdl(pos, &result);
    if (result == PROBE_FAILED) return false;
    tablebaseHits.fetch_add(1, std::memory_order_relaxed);
    if (!syzygy50MoveRule || w == WDL_WIN || w == WDL_LOSS)
        *score = w > 0 ? TB_WIN_SCORE - ply : w < 0 ? ply - TB_WIN_SCORE : 0;
    else
        *score = 2 * w;
    return true;
}
