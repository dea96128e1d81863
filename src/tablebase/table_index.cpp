#include "tablebase/table_index.h"

#include <algorithm>

namespace {

constexpr int fileOfSquare(int s) {
    return s & 7;
}
constexpr int rankOfSquare(int s) {
    return s >> 3;
}
constexpr bool onDiagonal(int s) {
    return fileOfSquare(s) == rankOfSquare(s);
}
constexpr bool aboveDiagonal(int s) {
    return rankOfSquare(s) > fileOfSquare(s);
}
constexpr int transposed(int s) {
    return 8 * fileOfSquare(s) + rankOfSquare(s);
}

// The ten squares a1-d1-d4 that the first leading piece is brought to: the
// six off the diagonal first, then the four on it.
constexpr int TriangleSquares[10] = {1, 2, 3, 10, 11, 19, 0, 9, 18, 27};

// Tri, Below and Dg of the numbering, -1 where a square has none.
constexpr auto Tri = [] {
    std::array<int8_t, 64> t{};
    t.fill(-1);
    for (int i = 0; i < 10; i++) t[TriangleSquares[i]] = int8_t(i);
    return t;
}();
constexpr auto Below = [] {
    std::array<int8_t, 64> b{};
    b.fill(-1);
    int n = 0;
    for (int s = 0; s < 64; s++)
        if (fileOfSquare(s) > rankOfSquare(s)) b[s] = int8_t(n++);
    return b;
}();
constexpr int diagonalNumber(int s) {
    return fileOfSquare(s);
}

// KingPair[c][s]: the number of the second king on s when the first stands
// on triangle square c; -1 for placements that never occur (kings touching,
// or the second above the diagonal while the first is on it).
constexpr auto KingPair = [] {
    std::array<std::array<int16_t, 64>, 10> kk{};
    for (auto& row : kk) row.fill(-1);
    auto apart = [](int a, int b) {
        int df = fileOfSquare(a) - fileOfSquare(b), dr = rankOfSquare(a) - rankOfSquare(b);
        return df > 1 || df < -1 || dr > 1 || dr < -1;
    };
    int n = 0;
    for (int c = 0; c < 10; c++)
        for (int s = 0; s < 64; s++) {
            int k = TriangleSquares[c];
            if (!apart(k, s)) continue;
            if (c >= 6 && !(fileOfSquare(s) > rankOfSquare(s))) continue;
            kk[c][s] = int16_t(n++);
        }
    for (int c = 6; c < 10; c++)
        for (int s = 0; s < 64; s++)
            if (onDiagonal(s) && apart(TriangleSquares[c], s)) kk[c][s] = int16_t(n++);
    return kk;
}();

constexpr int flapOf(int s) {
    int f = fileOfSquare(s), e = f < 4 ? f : 7 - f;
    return 6 * e + rankOfSquare(s) - 1;
}
constexpr int twistOf(int s) {
    int f = fileOfSquare(s), e = f < 4 ? f : 7 - f;
    return 47 - 12 * e - 2 * (rankOfSquare(s) - 1) - (f >= 4);
}

// The leading pawns' numbering, per number k of leading pawns: the offset of
// the first pawn's flap within its file group, and each file group's range.
struct PawnNumbering {
    uint64_t index[MAX_LEADING_PAWNS + 1][24];
    uint64_t range[MAX_LEADING_PAWNS + 1][4];
};
constexpr PawnNumbering Pawns = [] {
    PawnNumbering p{};
    for (int k = 1; k <= MAX_LEADING_PAWNS; k++)
        for (int f = 0; f < 4; f++) {
            uint64_t sum = 0;
            for (int j = 6 * f; j < 6 * f + 6; j++) {
                p.index[k][j] = sum;
                int square = 8 * (j % 6 + 1) + j / 6;
                sum += Binomial[twistOf(square)][k - 1];
            }
            p.range[k][f] = sum;
        }
    return p;
}();

static_assert(KingPair[9][63] == 461, "the king-pair numbering covers 462 placements");

bool validPawnSquare(int s) {
    return rankOfSquare(s) >= 1 && rankOfSquare(s) <= 6;
}

// The combinatorial rank of the sorted squares sq[start..start+length) among
// the squares not taken by sq[0..start); `shift` is taken off every square
// first (8 for pawns, which live on a2..h7 only).
uint64_t groupRank(const int* sq, int start, int length, int shift) {
    uint64_t rank = 0;
    for (int j = 0; j < length; j++) {
        int q = sq[start + j], below = 0;
        for (int i = 0; i < start; i++) below += sq[i] < q;
        rank += Binomial[q - shift - below][j + 1];
    }
    return rank;
}

}  // namespace

int pawnFlap(int square) {
    return flapOf(square);
}

bool buildPieceEncoding(PieceEncoding& e, int order, int order2, int fileGroup) {
    int n = e.pieceCount, k = e.leadingPawns, m = e.otherPawns;
    if (n < 2 || n > MAX_TABLE_PIECES || k > MAX_LEADING_PAWNS || k + m > n) return false;
    // The leading group(s).
    int lead = k > 0 ? k : (e.kingPairLeads ? 2 : 3);
    if (lead > n) return false;
    int groups = 0;
    e.groupStart[groups] = 0;
    e.groupLength[groups++] = uint8_t(lead);
    if (m > 0) {
        e.groupStart[groups] = uint8_t(k);
        e.groupLength[groups++] = uint8_t(m);
    }
    // Pawn groups hold one code each; a pawnless lead holds distinct codes.
    for (int i = 1; i < k; i++)
        if (e.pieces[i] != e.pieces[0]) return false;
    for (int i = k + 1; i < k + m; i++)
        if (e.pieces[i] != e.pieces[k]) return false;
    if (k == 0)
        for (int i = 0; i < lead; i++)
            for (int j = i + 1; j < lead; j++)
                if (e.pieces[i] == e.pieces[j]) return false;
    // Every further run of one code is a group; a code may not come back
    // later, or the squares of its pieces would not fit the group.
    for (int i = k + m > 0 ? k + m : lead; i < n;) {
        int j = i;
        while (j < n && e.pieces[j] == e.pieces[i]) j++;
        e.groupStart[groups] = uint8_t(i);
        e.groupLength[groups++] = uint8_t(j - i);
        i = j;
    }
    for (int i = 0; i < n; i++)
        for (int j = i + 1; j < n; j++) {
            bool sameGroup = false;
            for (int g = 0; g < groups; g++)
                if (i >= e.groupStart[g] && j < e.groupStart[g] + e.groupLength[g]) sameGroup = true;
            if (e.pieces[i] == e.pieces[j] && !sameGroup) return false;
        }
    e.groupCount = uint8_t(groups);

    // Factors: the order numbers say where the leading group (and the second
    // pawn group) come among the others.
    uint64_t leadRange =
        k > 0 ? Pawns.range[k][fileGroup] : (e.kingPairLeads ? KK_PLACEMENTS : TRIPLE_PLACEMENTS);
    int freeSquares = 64 - lead - m;
    int firstFurther = m > 0 ? 2 : 1, next = firstFurther, assigned = 0;
    bool leadDone = false, secondDone = m == 0;
    uint64_t f = 1;
    for (int i = 0; assigned < groups && i < 2 * MAX_TABLE_PIECES; i++) {
        if (i == order && !leadDone) {
            e.factor[0] = f;
            f *= leadRange;
            leadDone = true;
        } else if (i == order2 && !secondDone) {
            e.factor[1] = f;
            f *= Binomial[48 - k][m];
            secondDone = true;
        } else if (next < groups) {
            e.factor[next] = f;
            f *= Binomial[freeSquares][e.groupLength[next]];
            freeSquares -= e.groupLength[next];
            next++;
        } else {
            return false;
        }
        assigned++;
    }
    if (assigned < groups || f == 0) return false;
    e.size = f;
    return true;
}

bool encodePosition(const PieceEncoding& e, int* sq, uint64_t& index) {
    int n = e.pieceCount, k = e.leadingPawns;
    uint64_t idx;
    if (k == 0) {
        // Pawnless: bring the first piece into a1-d1-d4, then settle the
        // diagonal by the first leading piece off it.
        if (fileOfSquare(sq[0]) >= 4)
            for (int i = 0; i < n; i++) sq[i] ^= 7;
        if (rankOfSquare(sq[0]) >= 4)
            for (int i = 0; i < n; i++) sq[i] ^= 56;
        int lead = e.kingPairLeads ? 2 : 3;
        for (int i = 0; i < n; i++) {
            if (onDiagonal(sq[i])) continue;
            if (i < lead && aboveDiagonal(sq[i]))
                for (int j = 0; j < n; j++) sq[j] = transposed(sq[j]);
            break;
        }
        if (e.kingPairLeads) {
            int v = KingPair[Tri[sq[0]]][sq[1]];
            if (v < 0) return false;
            idx = uint64_t(v);
        } else {
            int p0 = sq[0], p1 = sq[1], p2 = sq[2];
            int s1 = p1 > p0, s2 = (p2 > p0) + (p2 > p1);
            if (!onDiagonal(p0))
                idx = uint64_t(Tri[p0]) * 63 * 62 + uint64_t(p1 - s1) * 62 + uint64_t(p2 - s2);
            else if (!onDiagonal(p1))
                idx = 23436 + uint64_t(diagonalNumber(p0)) * 28 * 62 + uint64_t(Below[p1]) * 62 +
                      uint64_t(p2 - s2);
            else if (!onDiagonal(p2))
                idx = 30380 + uint64_t(diagonalNumber(p0)) * 7 * 28 + uint64_t(diagonalNumber(p1) - s1) * 28 +
                      uint64_t(Below[p2]);
            else
                idx = 31164 + uint64_t(diagonalNumber(p0)) * 42 + uint64_t(diagonalNumber(p1) - s1) * 6 +
                      uint64_t(diagonalNumber(p2) - s2);
        }
    } else {
        for (int i = 0; i < k + e.otherPawns; i++)
            if (!validPawnSquare(sq[i])) return false;
        if (fileOfSquare(sq[0]) >= 4)
            for (int i = 0; i < n; i++) sq[i] ^= 7;
        std::sort(sq + 1, sq + k, [](int a, int b) { return twistOf(a) > twistOf(b); });
        idx = Pawns.index[k][flapOf(sq[0])];
        for (int i = 1; i < k; i++) idx += Binomial[twistOf(sq[i])][k - i];
    }
    idx *= e.factor[0];

    int g = 1;
    if (e.otherPawns > 0) {
        int start = k, length = e.otherPawns;
        std::sort(sq + start, sq + start + length);
        idx += groupRank(sq, start, length, 8) * e.factor[1];
        g = 2;
    }
    for (; g < e.groupCount; g++) {
        int start = e.groupStart[g], length = e.groupLength[g];
        std::sort(sq + start, sq + start + length);
        idx += groupRank(sq, start, length, 0) * e.factor[g];
    }
    if (idx >= e.size) return false;
    index = idx;
    return true;
}
