#include "eval/endgame_evaluators.h"

#include <algorithm>
#include <cstdlib>

#include "board/bitboard.h"
#include "eval/kpk_bitbase.h"

namespace {

// King moves between two squares.
int distance(Square a, Square b) {
    return std::max(std::abs(fileOf(a) - fileOf(b)), std::abs(rankOf(a) - rankOf(b)));
}

// Steps along files and ranks between two squares.
int manhattanDistance(Square a, Square b) {
    return std::abs(fileOf(a) - fileOf(b)) + std::abs(rankOf(a) - rankOf(b));
}

// The ending seen with the strong side as White: squares are mirrored top to
// bottom for a Black strong side, and `sign` turns the result back to White's
// point of view.
struct StrongSideView {
    Color strong;
    int flip;
    int sign;

    Square square(Square s) const { return s ^ flip; }
    Square only(const Position& pos, Color side, PieceType type) const {
        return square(lsb(pos.pieces[side][type]));
    }
    Square king(const Position& pos, Color side) const { return square(pos.kingSquare[side]); }
};

StrongSideView viewFor(Color strong) {
    return StrongSideView{strong, strong == WHITE ? 0 : 56, strong == WHITE ? 1 : -1};
}

// The side that owns pieces of the given type.
Color ownerOf(const Position& pos, PieceType type) {
    return pos.pieces[WHITE][type] ? WHITE : BLACK;
}

}  // namespace

// Mate needs the weak king in a corner the bishop can cover, so the value
// falls with its distance to the nearer such corner, with the distance between
// the kings and with the knight's distance from the weak king.
int32_t evaluateKbnk(const Position& pos, float* scale) {
    StrongSideView view = viewFor(ownerOf(pos, BISHOP));
    Color weak = ~view.strong;
    Square strongKing = view.king(pos, view.strong), weakKing = view.king(pos, weak);
    Square bishop = view.only(pos, view.strong, BISHOP), knight = view.only(pos, view.strong, KNIGHT);
    bool darkBishop = squareColor(bishop) == 1;
    Square cornerA = darkBishop ? A1 : A8, cornerB = darkBishop ? H8 : H1;
    int corner = std::min(manhattanDistance(weakKing, cornerA), manhattanDistance(weakKing, cornerB));
    *scale = 0.0f;
    return view.sign *
           (5000 - 200 * corner - 80 * distance(strongKing, weakKing) - 40 * distance(weakKing, knight));
}

// A rook pawn on the 7th rank with the defending king at the queening square
// is a draw: the value then only rewards the strong king for coming closer.
// Otherwise the value favours the pawn's progress, a strong king near the
// pawn and the weak one far from it, and the knight close to the pawn.
int32_t evaluateKnpk(const Position& pos, float* scale) {
    StrongSideView view = viewFor(ownerOf(pos, KNIGHT));
    Color weak = ~view.strong;
    Square strongKing = view.king(pos, view.strong), weakKing = view.king(pos, weak);
    Square pawn = view.only(pos, view.strong, PAWN), knight = view.only(pos, view.strong, KNIGHT);
    Square queening = makeSquare(fileOf(pawn), 7);
    *scale = 0.0f;
    bool rookPawn = fileOf(pawn) == 0 || fileOf(pawn) == 7;
    if (rookPawn && distance(weakKing, queening) <= 1 && rankOf(pawn) == 6)
        return view.sign * (10 - distance(strongKing, queening)) * 5;
    int kings = (distance(weakKing, pawn) - distance(strongKing, pawn)) * 5;
    return view.sign * ((kings - 3 * distance(knight, pawn) - 10 * distance(pawn, queening)) * 10 + 4200);
}

// Won positions score by how far the pawn has come; draws get a token value.
int32_t evaluateKpk(const Position& pos, float* scale) {
    StrongSideView view = viewFor(ownerOf(pos, PAWN));
    Color weak = ~view.strong;
    Square pawn = view.only(pos, view.strong, PAWN);
    Color toMove = pos.sideToMove() == view.strong ? WHITE : BLACK;
    bool win = kpkWhiteWins(view.king(pos, view.strong), pawn, view.king(pos, weak), toMove);
    *scale = 0.0f;
    return view.sign * (win ? 6500 + 160 * rankOf(pawn) : 30);
}

// With the defending king away from the queening file the attacker keeps real
// chances. With it in front of the pawn the ending is close to a draw, and a
// draw by the book when the rook is placed right as well: on the 6th rank
// while the pawn is still on the 5th or lower, or far back on the 1st or 2nd
// rank (to check from behind) once the pawn has reached the 6th.
int32_t evaluateKrpkr(const Position& pos, float* scale) {
    StrongSideView view = viewFor(ownerOf(pos, PAWN));
    Color weak = ~view.strong;
    Square pawn = view.only(pos, view.strong, PAWN);
    Square defendingKing = view.king(pos, weak), defendingRook = view.only(pos, weak, ROOK);
    int32_t value;
    if (fileOf(defendingKing) != fileOf(pawn) || rankOf(defendingKing) < 6) {
        value = 500;
        *scale = 0.5f;
    } else if (rankOf(defendingRook) <= 1 && rankOf(pawn) >= 5) {
        value = 50;
        *scale = 0.158f;
    } else if (rankOf(defendingRook) == 5 && rankOf(pawn) <= 4) {
        value = 50;
        *scale = 0.158f;
    } else {
        value = 300;
        *scale = 0.387f;
    }
    return view.sign * value;
}
