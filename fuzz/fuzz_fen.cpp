// Fuzz target: FEN set-up, FEN writing, move text and move generation on
// whatever the input makes of a position.
//
// The input is split at its first newline: the first part is the FEN text, the
// rest is a list of move texts to play. The side-to-move field is forced to a
// valid letter, since a bad one ends the process by design.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/movegen.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "search/perft.h"

namespace {

// Replaces the side-to-move field (the word after the placement) with w or b.
std::string withValidSide(std::string fen) {
    size_t i = 0;
    auto blank = [&](size_t k) {
        return fen[k] == ' ' || fen[k] == '\t' || fen[k] == '\n' || fen[k] == '\r';
    };
    while (i < fen.size() && blank(i)) i++;
    while (i < fen.size() && !blank(i)) i++;
    while (i < fen.size() && blank(i)) i++;
    if (fen.find_first_not_of(" \t\n\r") == std::string::npos) return "8/8/8/8/8/8/8/8 w";
    if (i >= fen.size()) return fen + " w";
    fen[i] = (fen[i] & 1) ? 'b' : 'w';
    return fen;
}

Position chain[64];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        initSlidingAttacks();
        initRayTables();
        ready = true;
    }
    std::string input(reinterpret_cast<const char*>(data), size);
    input.erase(std::find(input.begin(), input.end(), '\0'), input.end());
    size_t newline = input.find('\n');
    // Set-up reads at most 254 characters; keep the side field inside them.
    std::string fen = withValidSide(input.substr(0, std::min<size_t>(newline, 200)));
    std::string moves = newline == std::string::npos ? "" : input.substr(newline + 1);

    setFromFen(chain[0], fen.c_str());
    char text[128];
    writeFen(chain[0], text);
    if (positionProblem(chain[0])) return 0;

    // Play the listed moves while they are legal, then look around the last position.
    int ply = 0;
    size_t pos = 0;
    while (ply < 63 && pos < moves.size()) {
        size_t end = moves.find(' ', pos);
        std::string move = moves.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? moves.size() : end + 1;
        if (!parseAndMakeMove(chain[ply], chain[ply + 1], move.c_str())) break;
        ply++;
    }
    const Position& last = chain[ply];
    MoveEntry list[MAX_MOVES];
    int n = generateAll(last, list);
    for (int i = 0; i < n; i++) {
        Move m = list[i].move;
        givesCheck(last, m);
        seeBad(last, m);
        squareUnsafe(last, m);
    }
    if (last.checkers) generateEvasions(last, list);
    perftLeafCount = 0;
    perft(last, 2);
    return 0;
}
