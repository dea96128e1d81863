// Shared helpers for the board tests: table set-up, the perft suite file, and
// positions reached by random legal moves.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/movegen.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "uci/option_values.h"

inline void initBoardTables() {
    static bool done = false;
    if (done) return;
    initSlidingAttacks();
    initRayTables();
    done = true;
}

// A position set up from FEN (the tables are built on first use).
inline Position fromFen(const char* fen) {
    initBoardTables();
    Position pos;
    setFromFen(pos, fen);
    return pos;
}

struct PerftCase {
    std::string fen;
    std::vector<uint64_t> counts;  // counts[d - 1] = leaves at depth d
    bool chess960;
};

inline std::vector<PerftCase> loadPerftSuite() {
    std::vector<PerftCase> cases;
    std::string path = std::string(SABLE_DATA_DIR) + "/perft.epd";
    std::ifstream in(path);
    // The suite is part of the repository: without it every loop over it
    // would pass without looking at a position.
    if (!in) ADD_FAILURE() << "cannot read " << path;
    std::string line;
    while (std::getline(in, line)) {
        PerftCase c{line.substr(0, line.find(';')), {}, false};
        while (!c.fen.empty() && c.fen.back() == ' ') c.fen.pop_back();
        std::stringstream fields(line.substr(line.find(';')));
        std::string field;
        while (std::getline(fields, field, ';')) {
            if (field.rfind("960", 0) == 0) c.chess960 = true;
            if (field.size() > 1 && field[0] == 'D')
                c.counts.push_back(std::stoull(field.substr(field.find(' ') + 1)));
        }
        cases.push_back(c);
    }
    if (cases.empty()) ADD_FAILURE() << path << " holds no positions";
    return cases;
}

// Legal moves of pos, in generation order.
inline std::vector<Move> legalMoves(const Position& pos) {
    MoveEntry list[MAX_MOVES];
    int n = generateAll(pos, list);
    std::vector<Move> moves;
    Position child;
    for (int i = 0; i < n; i++)
        if (makeMove(pos, child, list[i].move)) moves.push_back(list[i].move);
    return moves;
}

// Plays random legal moves from fen and calls visit(parent, child, move) on each.
// Positions live in a caller-visible chain so that parent links stay valid.
template <typename Visit>
void randomWalk(const std::string& fen, int plies, std::mt19937& rng, Visit visit) {
    static Position chain[512];
    setFromFen(chain[0], fen.c_str());
    for (int ply = 0; ply < plies && ply < 511; ply++) {
        std::vector<Move> moves = legalMoves(chain[ply]);
        if (moves.empty()) return;
        Move m = moves[rng() % moves.size()];
        makeMove(chain[ply], chain[ply + 1], m);
        chain[ply + 1].checkers = computeCheckers(chain[ply + 1]);
        visit(chain[ply], chain[ply + 1], m);
    }
}

inline std::string moveText(Move m) {
    char text[8];
    moveToText(m, text);
    return text;
}

// Whether the move of a "bestmove" line is legal after `moves` from the start.
inline bool bestMoveIsLegal(const std::string& line, const std::vector<std::string>& moves) {
    initBoardTables();
    static Position game[16];  // up to 15 moves
    setFromFen(game[0], START_FEN);
    for (size_t i = 0; i < moves.size(); i++)
        if (!parseAndMakeMove(game[i], game[i + 1], moves[i].c_str())) return false;
    std::istringstream words(line);
    std::string word, move;
    words >> word >> move;
    Position child;
    return parseAndMakeMove(game[moves.size()], child, move.c_str());
}
