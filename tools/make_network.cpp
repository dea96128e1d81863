// Builds Sable's built-in evaluation network without training: a hand-made,
// deterministic set of weights that plays sound chess until a trained network
// replaces it.
//
// What the weights encode:
//   - PSQT weights (most of the knowledge): material and piece-square values
//     for every piece, blended from a middlegame to an endgame set across the
//     eight material buckets, plus terms that depend on the own king's square
//     (pawn shield, enemy pieces and pawn storms near the king, king support
//     of pawns in the endgame). Values are chosen in evaluation units (about
//     114 per pawn) and converted to PSQT units with the evaluation entry's
//     scaling, so a pawn ends up near 114 after NNUE_Scale.
//   - One feature-transformer neuron pair and the layer stacks' shortcut
//     output: a bishop-pair bonus, the one non-linear term. Every other
//     transformer weight, bias and layer weight is zero, so the layer stacks
//     add exactly that bonus and nothing else.
//
// Usage: make_network [--input PLAIN] [--plain OUT] [--block OUT] [--check]
//                     [--evaluate FENS]
//   --input PLAIN  take the network from a plain image (a trained network)
//                  instead of building the hand-made one
//   --plain OUT    write the plain network image
//   --block OUT    write the built-in compressed block (zlib level 9)
//   --check        inflate the block again, read it back and print reference
//                  evaluations of test positions computed straight from the
//                  weights; fails when the image is malformed or a position
//                  and its colour-flipped twin disagree
//   --evaluate FENS  print the reference raw output n (side to move's view)
//                  for each FEN line of the file, one number a line, to
//                  compare with the engine's inference
//
// Regenerate the committed block:
//   build/tools/make_network --block src/eval/network/default.nnz --check
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "eval/network/network.h"
#include "training/network_export.h"
#include "training/reference_eval.h"

namespace {

constexpr int HIDDEN = NETWORK_HIDDEN;
constexpr int HALF = HIDDEN / 2;
constexpr int BUCKETS = NETWORK_PSQT_BUCKETS;
constexpr int STACKS = NETWORK_LAYER_STACKS;
constexpr int PLANE = 704;  // features per king bucket
constexpr int KING_PLANE = 640;

enum PieceKind { PAWN_K, KNIGHT_K, BISHOP_K, ROOK_K, QUEEN_K, KING_K };

// ---------------------------------------------------------------------------
// Board geometry in the network's oriented frame: the viewer's own pieces
// advance towards rank 7 and its king stands on files e-h.

int fileOf(int s) {
    return s & 7;
}
int rankOf(int s) {
    return s >> 3;
}
// 0 on the a/h files, 3 on the d/e files; the same for rank with ranks.
int fileCentrality(int s) {
    return std::min(fileOf(s), 7 - fileOf(s));
}
int rankCentrality(int s) {
    return std::min(rankOf(s), 7 - rankOf(s));
}
int chebyshev(int a, int b) {
    return std::max(std::abs(fileOf(a) - fileOf(b)), std::abs(rankOf(a) - rankOf(b)));
}

// The oriented king square that a king bucket stands for.
int kingSquareOfBucket(int kb) {
    return 4 + (31 - kb) % 4 + 8 * ((31 - kb) / 4);
}

// ---------------------------------------------------------------------------
// Evaluation knowledge, in evaluation units (the score the evaluation entry
// returns, about 114 per pawn), as a middlegame and an endgame value.

struct Value {
    double mg = 0, eg = 0;
};
Value operator+(Value a, Value b) {
    return {a.mg + b.mg, a.eg + b.eg};
}
Value operator*(double k, Value a) {
    return {k * a.mg, k * a.eg};
}

constexpr Value MATERIAL[6] = {{108, 130}, {430, 400}, {460, 485}, {765, 820}, {1480, 1540}, {0, 0}};

// Piece-square value of a piece of the given kind on square s, seen from its
// owner (rank 0 is the owner's back rank). Every table is symmetric left to
// right, because the network mirrors files by the viewer's king and a piece's
// two viewers may mirror differently.
Value pieceSquare(PieceKind kind, int s) {
    int r = rankOf(s), cf = fileCentrality(s), cr = rankCentrality(s);
    switch (kind) {
        case PAWN_K: {
            // Advanced pawns are worth more, far more in the endgame where
            // they are close to queening; central pawns want to advance early.
            constexpr double advanceMg[8] = {0, 0, 2, 6, 12, 22, 35, 0};
            constexpr double advanceEg[8] = {0, 0, 5, 14, 28, 50, 85, 0};
            constexpr double dCentreMg[8] = {0, -8, 4, 14, 12, 0, 0, 0};
            constexpr double cCentreMg[8] = {0, 0, 3, 6, 6, 0, 0, 0};
            double centre = cf == 3 ? dCentreMg[r] : cf == 2 ? cCentreMg[r] : 0;
            double rookPawn = cf == 0 ? -6 : 0;  // the drawish rook pawn
            return {advanceMg[r] + centre, advanceEg[r] + rookPawn};
        }
        case KNIGHT_K: {
            // Knights belong in the centre and are poor on the rim.
            double mg = 9 * cf + 7 * cr - 32 + (r == 0 ? -6 : 0) + ((r == 4 || r == 5) && cf >= 2 ? 6 : 0);
            return {mg, 6.0 * cf + 6.0 * cr - 24};
        }
        case BISHOP_K: {
            bool longDiagonal = fileOf(s) == r || fileOf(s) == 7 - r;
            double mg = 3 * (cf + cr) - 8 + (longDiagonal ? 6 : 0) + (r == 0 ? -8 : 0);
            return {mg, 3.0 * (cf + cr) - 9};
        }
        case ROOK_K: {
            // The seventh rank, where the enemy pawns and king usually are.
            double mg = (r == 6 ? 20 : 0) + (cf >= 2 ? 4 : 0) - (cf == 0 ? 3 : 0);
            return {mg, r == 6 ? 25.0 : 0.0};
        }
        case QUEEN_K:
            return {2.0 * (cf + cr) - 6, 4.0 * (cf + cr) - 12};
        case KING_K: {
            // Middlegame: stay home, tucked away on the wing; endgame: centralise.
            constexpr double rankMg[8] = {0, -15, -40, -65, -80, -90, -90, -90};
            constexpr double fileMg[4] = {12, 22, 0, -18};
            return {rankMg[r] + fileMg[cf], 9.0 * (cf + cr) - 27};
        }
    }
    return {};
}

// What the viewer's own king square adds to one of its own pieces (pawn
// shield in the middlegame, king support of pawns in the endgame). s and king
// are oriented squares of the viewer.
Value ownKingTerm(PieceKind kind, int s, int king) {
    if (kind != PAWN_K) return {};
    Value v;
    int df = std::abs(fileOf(s) - fileOf(king)), dr = rankOf(s) - rankOf(king);
    if (rankOf(king) <= 1 && df <= 1 && dr >= 1 && dr <= 3) {
        constexpr double shield[4] = {0, 14, 8, 3};
        v.mg += shield[dr];
    }
    int closeness = std::max(0, 4 - chebyshev(s, king));
    v.eg += closeness * (2 + rankOf(s));
    return v;
}

// What the viewer's king square adds to a piece of the opponent, as value for
// that piece's owner: attackers near the viewer's king and pawns storming it
// are worth more in the middlegame; in the endgame, pawns the viewer's king
// stands next to are worth less. s and king are oriented squares of the viewer.
Value enemyKingTerm(PieceKind kind, int s, int king) {
    Value v;
    int d = chebyshev(s, king);
    if (kind == PAWN_K) {
        int df = std::abs(fileOf(s) - fileOf(king)), dr = rankOf(s) - rankOf(king);
        if (rankOf(king) <= 1 && df <= 1 && dr >= 1 && dr <= 3) {
            constexpr double storm[4] = {0, 4, 12, 6};
            v.mg += storm[dr];
        }
        int ownerRank = 7 - rankOf(s);
        v.eg -= std::max(0, 4 - d) * (2 + ownerRank);
        return v;
    }
    // Tropism by Chebyshev distance 1, 2, 3.
    constexpr double tropism[6][4] = {{0, 0, 0, 0},  {0, 12, 10, 4}, {0, 8, 6, 3},
                                      {0, 12, 8, 4}, {0, 24, 16, 8}, {0, 0, 0, 0}};
    if (d >= 1 && d <= 3) v.mg += tropism[kind][d];
    return v;
}

// ---------------------------------------------------------------------------
// Conversion to PSQT units.

// Middlegame share of a material bucket: 1 in the opening bucket 7, 0 in the
// pawn-ending bucket 0.
double middlegameShare(int bucket) {
    return bucket / 7.0;
}

// The evaluation entry multiplies the raw output n by NNUE_Scale x (1024 + 20
// x pawns) / 102400 at the default NNUE_Scale 72. The pawn count is assumed
// typical for the bucket (16 in the opening, 8 in pawn endings), so that the
// values above come out near their evaluation units in every phase.
double outputScale(int bucket) {
    int pawns = 8 + bucket + (bucket == 7 ? 1 : 0);
    return 72.0 * (1024 + 20 * pawns) / 102400.0;
}

// n = (propagate + psqt) / 16, and psqt is the mean of the two perspectives,
// so one evaluation unit is 16 / outputScale PSQT units.
int32_t toPsqtUnits(Value v, int bucket) {
    double share = middlegameShare(bucket);
    double units = share * v.mg + (1 - share) * v.eg;
    return int32_t(std::lround(units * NETWORK_OUTPUT_DIVISOR / outputScale(bucket)));
}

// pieceOffset of the feature set: own pieces from 0, the opponent's from 64
// higher, kings of both sides share the plane at 640.
int ownOffset(PieceKind kind) {
    return kind == KING_K ? KING_PLANE : 128 * kind;
}
int opponentOffset(PieceKind kind) {
    return kind == KING_K ? KING_PLANE : 128 * kind + 64;
}

// Value of one PSQT feature: own pieces count for the viewer, the opponent's
// against. The final psqt term is the mean of the side to move's view and the
// negated other view, so each piece is valued once from its owner's king and
// once from the enemy king; a king-dependent term that only one of the two
// views can see is therefore entered twice to count in full.
Value ownFeatureValue(PieceKind kind, int s, int king) {
    return MATERIAL[kind] + pieceSquare(kind, s) + 2.0 * ownKingTerm(kind, s, king);
}
Value opponentFeatureValue(PieceKind kind, int s, int king) {
    return MATERIAL[kind] + pieceSquare(kind, s ^ 56) + 2.0 * enemyKingTerm(kind, s, king);
}

void fillPsqt(NetworkImage& net) {
    for (int kb = 0; kb < 32; ++kb) {
        int king = kingSquareOfBucket(kb);
        for (int s = 0; s < 64; ++s) {
            for (int kind = PAWN_K; kind <= KING_K; ++kind) {
                PieceKind k = PieceKind(kind);
                // The shared king plane: the square of the own king holds the
                // own king; every other square holds the enemy king.
                Value own = ownFeatureValue(k, s, king);
                Value opp = opponentFeatureValue(k, s, king);
                bool isOwnKingSquare = s == king;
                for (int b = 0; b < BUCKETS; ++b) {
                    if (k != KING_K || isOwnKingSquare) {
                        net.psqt[size_t(PLANE * kb + ownOffset(k) + s) * BUCKETS + b] = toPsqtUnits(own, b);
                    }
                    if (k != KING_K || !isOwnKingSquare) {
                        net.psqt[size_t(PLANE * kb + opponentOffset(k) + s) * BUCKETS + b] =
                            -toPsqtUnits(opp, b);
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Bishop pair. Accumulator 0 counts the viewer's bishops on one square colour
// and accumulator 768 those on the other, 127 each; their clamped product
// (126) is non-zero only with bishops on both colours. The square colour is
// taken in the oriented frame, which may swap the colours, but it swaps them
// for both bishops alike. The shortcut L1 output 15 adds the pair of the side
// to move and subtracts the other side's, so the layer stacks add
// 126 x weight x 9600 / 8128 / 16 raw units per pair and nothing else.

constexpr int PAIR_NEURON = 0;
constexpr int SHORTCUT_OUTPUT = 15;
constexpr int16_t PAIR_COUNT_WEIGHT = 127;

// The bonus, in evaluation units, per bucket: larger in the endgame.
int8_t bishopPairWeight(int bucket) {
    double share = middlegameShare(bucket);
    double bonus = share * 40 + (1 - share) * 55;
    double rawPerWeight = 126.0 * 9600 / 8128 / NETWORK_OUTPUT_DIVISOR;
    return int8_t(std::lround(bonus / (rawPerWeight * outputScale(bucket))));
}

void fillBishopPair(NetworkImage& net) {
    for (int kb = 0; kb < 32; ++kb) {
        for (int s = 0; s < 64; ++s) {
            int column = (fileOf(s) + rankOf(s)) % 2 == 0 ? PAIR_NEURON : PAIR_NEURON + HALF;
            size_t feature = size_t(PLANE * kb + ownOffset(BISHOP_K) + s);
            net.ftWeights[feature * HIDDEN + column] = PAIR_COUNT_WEIGHT;
        }
    }
    for (int b = 0; b < STACKS; ++b) {
        int8_t w = bishopPairWeight(b);
        net.stacks[b].l1Weights[SHORTCUT_OUTPUT * HIDDEN + PAIR_NEURON] = w;
        net.stacks[b].l1Weights[SHORTCUT_OUTPUT * HIDDEN + HALF + PAIR_NEURON] = int8_t(-w);
    }
}

NetworkImage buildNetwork() {
    NetworkImage net;
    fillPsqt(net);
    fillBishopPair(net);
    return net;
}

// ---------------------------------------------------------------------------
// Reference evaluation: the network's integer inference written out plainly
// (a full refresh for both perspectives, no incremental updates), used to
// check a network image independently of the engine's own inference.

struct Board {
    int piece[64] = {};  // colour * 8 + type (1 pawn ... 6 king), 0 empty
    int sideToMove = 0;
};

// Placement and side to move of a FEN; false when the text is not one.
bool parseFen(const std::string& fen, Board& board) {
    int rank = 7, file = 0;
    size_t i = 0;
    for (; i < fen.size() && fen[i] != ' '; ++i) {
        char c = fen[i];
        if (c == '/') {
            --rank;
            file = 0;
        } else if (c >= '1' && c <= '8') {
            file += c - '0';
        } else {
            const char* letters = "pnbrqk";
            const char* found = std::strchr(letters, c | 0x20);
            if (!found || file > 7 || rank < 0) return false;
            int colour = (c & 0x20) ? 1 : 0;
            board.piece[8 * rank + file] = colour * 8 + int(found - letters) + 1;
            ++file;
        }
    }
    board.sideToMove = i + 1 < fen.size() && fen[i + 1] == 'b' ? 1 : 0;
    return true;
}

// The same position with colours swapped and the board turned upside down.
Board colourFlipped(const Board& board) {
    Board flipped;
    for (int s = 0; s < 64; ++s) {
        int p = board.piece[s];
        flipped.piece[s ^ 56] = p ? p ^ 8 : 0;
    }
    flipped.sideToMove = board.sideToMove ^ 1;
    return flipped;
}

struct Evaluation {
    int32_t raw = 0;       // network output n, side to move's view
    int32_t psqtPart = 0;  // the PSQT term's share of n
    int bucket = 0;
    int phase = 0;
    int pawns = 0;
};

// The shared integer reference, plus the phase and pawn count the
// evaluation entry's scaling needs.
Evaluation evaluateBoard(const NetworkImage& net, const Board& board) {
    Evaluation e;
    constexpr int phaseWeight[8] = {0, 0, 3, 4, 8, 18, 0, 0};
    for (int s = 0; s < 64; ++s) {
        e.phase += phaseWeight[board.piece[s] & 7];
        e.pawns += (board.piece[s] & 7) == 1;
    }
    ReferenceEvaluation r = referenceEvaluate(net, board.piece, board.sideToMove);
    e.raw = r.raw;
    e.psqtPart = r.psqtPart / NETWORK_OUTPUT_DIVISOR;
    e.bucket = r.bucket;
    return e;
}

// The evaluation entry's scaling of n at the default NNUE_Scale, before and
// after the damping of small scores by phase (side to move's view).
int32_t scaledOutput(const Evaluation& e) {
    return (e.raw * 72 * (1024 + 20 * e.pawns)) / 102400;
}
int32_t dampedOutput(const Evaluation& e) {
    int32_t t = scaledOutput(e), c = std::clamp(t, -100, 100);
    return (c * (48 + e.phase / 2)) / 96 + (t - c);
}

struct CheckPosition {
    const char* name;
    const char* fen;
};

constexpr CheckPosition CHECK_POSITIONS[] = {
    {"start", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"},
    {"start, black to move", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1"},
    {"start minus black e-pawn", "rnbqkbnr/pppp1ppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"},
    {"start minus black a-pawn", "rnbqkbnr/1ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"},
    {"start minus black knight", "r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"},
    {"start minus black bishop", "rn1qkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"},
    {"start minus black rook", "1nbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"},
    {"start minus black queen", "rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"},
    {"start minus white knight, black to move", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/R1BQKBNR b KQkq - 0 1"},
    {"after 1.e4", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1"},
    {"after 1.Nf3", "rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq - 1 1"},
    {"after 1.Nh3", "rnbqkbnr/pppppppp/8/8/8/7N/PPPPPPPP/RNBQKB1R b KQkq - 1 1"},
    {"castled vs king walk", "rnbq1bnr/ppppkppp/8/4p3/4P3/5N2/PPPPBPPP/RNBQ1RK1 w - - 0 1"},
    {"KPK, pawn on e2", "8/8/4k3/8/8/8/4P3/4K3 w - - 0 1"},
    {"KPK, pawn on e6", "8/8/4P3/8/8/2k5/8/4K3 w - - 0 1"},
    {"KPK, pawn on e7, kings close", "8/3kP3/8/4K3/8/8/8/8 w - - 0 1"},
    {"KRK", "8/8/4k3/8/8/8/8/R3K3 w - - 0 1"},
    {"rook on the 7th", "6k1/1R3ppp/8/8/8/8/5PPP/6K1 w - - 0 1"},
    {"rook on the 1st", "6k1/5ppp/8/8/8/8/5PPP/1R4K1 w - - 0 1"},
    {"bishop pair vs bishop and knight", "4k3/pppb1ppp/4n3/8/8/2BB4/PPP2PPP/4K3 w - - 0 1"},
    {"two same-coloured bishops", "4k3/pppb1ppp/4n3/8/8/4B3/PPPB1PPP/4K3 w - - 0 1"},
    {"queen near the enemy king", "q5k1/5ppp/8/7Q/8/8/5PPP/6K1 w - - 0 1"},
    {"queen far from the enemy king", "q5k1/5ppp/8/8/Q7/8/5PPP/6K1 w - - 0 1"},
    {"queen's gambit declined", "rnbq1rk1/ppp1bppp/4pn2/3p2B1/2PP4/2N1PN2/PP3PPP/R2QKB1R b KQ - 0 6"},
};

// Prints the reference evaluation of the check positions and their
// colour-flipped twins; false when a twin disagrees (the network would then
// favour one colour).
bool printChecks(const NetworkImage& net) {
    bool ok = true;
    std::printf("%-42s %6s %6s %6s %6s %4s\n", "position (side to move's view)", "n", "psqt", "scaled",
                "final", "bkt");
    for (const CheckPosition& pos : CHECK_POSITIONS) {
        Board board;
        if (!parseFen(pos.fen, board)) {
            std::fprintf(stderr, "bad check FEN: %s\n", pos.fen);
            return false;
        }
        Evaluation e = evaluateBoard(net, board);
        Evaluation twin = evaluateBoard(net, colourFlipped(board));
        std::printf("%-42s %6d %6d %6d %6d %4d\n", pos.name, e.raw, e.psqtPart, scaledOutput(e),
                    dampedOutput(e), e.bucket);
        if (twin.raw != e.raw) {
            std::printf("  colour-flipped twin differs: %d\n", twin.raw);
            ok = false;
        }
    }
    return ok;
}

// ---------------------------------------------------------------------------

// Prints the reference raw output of every FEN line of the file; false when
// the file cannot be read or a line is not a FEN.
bool printEvaluations(const NetworkImage& net, const std::string& path) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        Board board;
        if (!parseFen(line, board)) return false;
        std::printf("%d\n", evaluateBoard(net, board).raw);
    }
    return true;
}

int usage() {
    std::fprintf(
        stderr,
        "usage: make_network [--input PLAIN] [--plain OUT] [--block OUT] [--check] [--evaluate FENS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string inputPath, plainPath, blockPath, fenPath;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--check") {
            check = true;
        } else if (arg == "--input" && i + 1 < argc) {
            inputPath = argv[++i];
        } else if (arg == "--plain" && i + 1 < argc) {
            plainPath = argv[++i];
        } else if (arg == "--block" && i + 1 < argc) {
            blockPath = argv[++i];
        } else if (arg == "--evaluate" && i + 1 < argc) {
            fenPath = argv[++i];
        } else {
            return usage();
        }
    }
    if (plainPath.empty() && blockPath.empty() && fenPath.empty() && !check) return usage();

    std::vector<uint8_t> plain;
    if (inputPath.empty()) {
        plain = writePlainImage(buildNetwork());
    } else {
        NetworkImage net;
        if (!readFileBytes(inputPath, plain) || !readPlainImage(plain, net)) {
            std::fprintf(stderr, "%s: not a plain network image\n", inputPath.c_str());
            return 1;
        }
    }
    if (!fenPath.empty()) {
        NetworkImage net;
        readPlainImage(plain, net);
        if (!printEvaluations(net, fenPath)) {
            std::fprintf(stderr, "%s: cannot read the FENs\n", fenPath.c_str());
            return 1;
        }
    }
    if (!plainPath.empty() && !writeFileBytes(plainPath, plain)) {
        std::fprintf(stderr, "cannot write %s\n", plainPath.c_str());
        return 1;
    }
    if (blockPath.empty() && !check) return 0;

    std::vector<uint8_t> block = compressBlock(plain);
    if (block.empty()) {
        std::fprintf(stderr, "compression failed\n");
        return 1;
    }
    std::printf("plain image %zu bytes, built-in block %zu bytes\n", plain.size(), block.size());
    if (!blockPath.empty() && !writeFileBytes(blockPath, block)) {
        std::fprintf(stderr, "cannot write %s\n", blockPath.c_str());
        return 1;
    }
    if (!check) return 0;

    // Read everything back the way the engine will: inflate, parse, and make
    // sure that writing the parsed network gives the same bytes again.
    std::vector<uint8_t> inflated;
    NetworkImage net;
    if (!inflateBlock(block, inflated) || inflated != plain) {
        std::fprintf(stderr, "check: the block does not inflate to the image\n");
        return 1;
    }
    if (inflated.size() != PLAIN_IMAGE_FIXED_BYTES + std::strlen(NETWORK_DESCRIPTION) ||
        !readPlainImage(inflated, net) || writePlainImage(net) != inflated) {
        std::fprintf(stderr, "check: the image is not a plain network of the expected size\n");
        return 1;
    }
    if (!printChecks(net)) {
        std::fprintf(stderr, "check: colour-flipped positions disagree\n");
        return 1;
    }
    return 0;
}
