#include "eval/special_material.h"

#include <cstring>

#include "board/zobrist.h"

SpecialMaterialEntry SpecialMaterialTable[SPECIAL_MATERIAL_ENTRIES];

namespace {

// One configuration: upper-case letters are White's pieces, lower-case
// Black's; B is a bishop on a light square, C one on a dark square, N, P, Q,
// R as usual, and any other letter (k) stands for nothing.
struct SpecialMaterialRow {
    const char* letters;
    int32_t value;
    float scale;
    EndgameEvaluator evaluator;
};

constexpr SpecialMaterialRow SpecialMaterialRows[] = {
    {"", 0, 0.0f, nullptr},           {"B", 10, 0.0f, nullptr},
    {"C", 10, 0.0f, nullptr},         {"BCb", 60, 0.02f, nullptr},
    {"BCc", 60, 0.02f, nullptr},      {"BC", 6000, 1.0f, nullptr},
    {"BCn", 1000, 0.5f, nullptr},     {"BN", 5000, 0.0f, evaluateKbnk},
    {"CN", 5000, 0.0f, evaluateKbnk}, {"BNb", 30, 0.03f, nullptr},
    {"CNb", 30, 0.03f, nullptr},      {"BNc", 30, 0.03f, nullptr},
    {"CNc", 30, 0.03f, nullptr},      {"BNn", 40, 0.03f, nullptr},
    {"CNn", 40, 0.03f, nullptr},      {"NP", 2000, 0.35f, evaluateKnpk},
    {"Bb", 0, 0.0f, nullptr},         {"Cb", 0, 0.0f, nullptr},
    {"Bc", 0, 0.0f, nullptr},         {"Cc", 0, 0.0f, nullptr},
    {"Bn", 0, 0.0f, nullptr},         {"Cn", 0, 0.0f, nullptr},
    {"Bp", -20, 0.05f, nullptr},      {"Bpp", -125, 0.15f, nullptr},
    {"Cpp", -125, 0.15f, nullptr},    {"Bppp", -400, 0.35f, nullptr},
    {"Cppp", -400, 0.35f, nullptr},   {"Cp", -20, 0.05f, nullptr},
    {"N", 10, 0.0f, nullptr},         {"NN", 25, 0.02f, nullptr},
    {"NNb", 20, 0.02f, nullptr},      {"NNc", 20, 0.02f, nullptr},
    {"NNp", 400, 0.05f, nullptr},     {"NNn", 20, 0.02f, nullptr},
    {"Nn", 0, 0.0f, nullptr},         {"Np", -80, 0.1f, nullptr},
    {"Npp", -700, 0.5f, nullptr},     {"P", 0, 0.0f, evaluateKpk},
    {"Q", 8000, 1.0f, nullptr},       {"Qb", 6000, 1.0f, nullptr},
    {"Qc", 6000, 1.0f, nullptr},      {"Qn", 5000, 1.0f, nullptr},
    {"Qq", 0, 0.05f, nullptr},        {"Qr", 3000, 0.75f, nullptr},
    {"R", 7000, 1.0f, nullptr},       {"RPr", 500, 0.5f, evaluateKrpkr},
    {"RNr", 400, 0.25f, nullptr},     {"RNrp", 200, 0.35f, nullptr},
    {"RBr", 500, 0.25f, nullptr},     {"RCr", 500, 0.25f, nullptr},
    {"RBrp", 250, 0.35f, nullptr},    {"RCrp", 250, 0.35f, nullptr},
    {"Rbp", 150, 0.35f, nullptr},     {"Rcp", 150, 0.35f, nullptr},
    {"Rnp", 125, 0.35f, nullptr},     {"Rb", 300, 0.15f, nullptr},
    {"Rc", 300, 0.15f, nullptr},      {"Rn", 250, 0.15f, nullptr},
    {"Rr", 0, 0.05f, nullptr},        {"RRNqb", 54, 0.03f, nullptr},
    {"RRNqc", 54, 0.03f, nullptr},    {"RBNrb", 867, 0.43f, nullptr},
    {"RBNrc", 867, 0.43f, nullptr},   {"RCNrb", 867, 0.43f, nullptr},
    {"RCNrc", 867, 0.43f, nullptr},   {"RBNqn", 704, 0.35f, nullptr},
    {"RBNrn", 1146, 0.57f, nullptr},  {"RCNqn", 704, 0.35f, nullptr},
    {"RCNrn", 1146, 0.57f, nullptr},  {"RBNqb", 677, 0.34f, nullptr},
    {"RBNqc", 677, 0.34f, nullptr},   {"RCNqb", 677, 0.34f, nullptr},
    {"RCNqc", 677, 0.34f, nullptr},   {"QBNqn", 550, 0.28f, nullptr},
    {"QCNqn", 550, 0.28f, nullptr},   {"QBNqb", 432, 0.22f, nullptr},
    {"QBNqc", 432, 0.22f, nullptr},   {"QCNqb", 432, 0.22f, nullptr},
    {"QCNqc", 432, 0.22f, nullptr},   {"RNNrb", 595, 0.3f, nullptr},
    {"RNNrc", 595, 0.3f, nullptr},    {"RNNqn", 608, 0.3f, nullptr},
    {"RNNqb", 741, 0.37f, nullptr},   {"RNNqc", 741, 0.37f, nullptr},
    {"RNNqr", 453, 0.23f, nullptr},   {"RNNrn", 971, 0.49f, nullptr},
    {"BNNnn", 451, 0.23f, nullptr},   {"CNNnn", 451, 0.23f, nullptr},
    {"QBNqr", 24, 0.01f, nullptr},    {"QCNqr", 24, 0.01f, nullptr},
    {"BNNrr", 789, 0.39f, nullptr},   {"CNNrr", 789, 0.39f, nullptr},
    {"QNNqb", 260, 0.13f, nullptr},   {"QNNqc", 260, 0.13f, nullptr},
    {"RBNqr", 1050, 0.53f, nullptr},  {"RCNqr", 1050, 0.53f, nullptr},
    {"RNNrr", 34, 0.02f, nullptr},    {"RRBqn", 248, 0.12f, nullptr},
    {"RRCqn", 248, 0.12f, nullptr},   {"RRNrr", 734, 0.37f, nullptr},
    {"BNNqn", 1319, 0.66f, nullptr},  {"CNNqn", 1319, 0.66f, nullptr},
    {"RRBqr", 319, 0.16f, nullptr},   {"RRCqr", 319, 0.16f, nullptr},
    {"BNNbn", 373, 0.19f, nullptr},   {"BNNcn", 373, 0.19f, nullptr},
    {"CNNbn", 373, 0.19f, nullptr},   {"CNNcn", 373, 0.19f, nullptr},
    {"QNNqr", 147, 0.07f, nullptr},   {"BNNkrn", 98, 0.05f, nullptr},
    {"CNNkrn", 98, 0.05f, nullptr},   {"RRBrr", 981, 0.49f, nullptr},
    {"RRCrr", 981, 0.49f, nullptr},   {"RRBqb", 80, 0.04f, nullptr},
    {"RRBqc", 80, 0.04f, nullptr},    {"QNNqn", 351, 0.18f, nullptr},
    {"RRNqn", 133, 0.07f, nullptr},   {"RBNrr", 103, 0.05f, nullptr},
    {"RCNrr", 103, 0.05f, nullptr},   {"BNNrb", 244, 0.12f, nullptr},
    {"BNNrc", 244, 0.12f, nullptr},   {"CNNrb", 244, 0.12f, nullptr},
    {"CNNrc", 244, 0.12f, nullptr},   {"qrbkqr", 521, 0.26f, nullptr},
    {"qrckqr", 521, 0.26f, nullptr},  {"qrnkqr", 391, 0.2f, nullptr},
};

// The material signature of one letter, with Black's and White's letters
// exchanged when `swapColours` is set.
Key letterKey(char letter, bool swapColours) {
    Color colour = (letter >= 'a' && letter <= 'z') ? BLACK : WHITE;
    if (swapColours) colour = ~colour;
    switch (letter | 0x20) {
        case 'p':
            return Key(MaterialSignature[colour][PAWN][0]);
        case 'n':
            return Key(MaterialSignature[colour][KNIGHT][0]);
        case 'b':
            return Key(MaterialSignature[colour][BISHOP][0]);
        case 'c':
            return Key(MaterialSignature[colour][BISHOP][1]);
        case 'r':
            return Key(MaterialSignature[colour][ROOK][0]);
        case 'q':
            return Key(MaterialSignature[colour][QUEEN][0]);
        default:
            return 0;
    }
}

// The material key of a configuration: the same wrapping sum that positions
// keep, so that bare kings (no letters) give 0.
Key rowKey(const char* letters, bool swapColours) {
    Key key = 0;
    for (const char* p = letters; *p; p++) key += letterKey(*p, swapColours);
    return key;
}

}  // namespace

// Every row is written as listed and then with the colours swapped, in list
// order; a later row that lands in an occupied slot replaces the earlier one.
void buildSpecialMaterialTable() {
    std::memset(static_cast<void*>(SpecialMaterialTable), 0, sizeof(SpecialMaterialTable));
    for (const SpecialMaterialRow& row : SpecialMaterialRows) {
        for (bool swapColours : {false, true}) {
            Key key = rowKey(row.letters, swapColours);
            int32_t value = swapColours ? -row.value : row.value;
            SpecialMaterialTable[key & (SPECIAL_MATERIAL_ENTRIES - 1)] = {key, value, row.scale,
                                                                          row.evaluator};
        }
    }
}
