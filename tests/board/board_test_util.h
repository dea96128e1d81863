// Shared helpers for the board tests: table set-up, the perft suite file, and
// positions reached by random legal moves.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/movegen.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "core/options.h"

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

// Whether an engine's answer names a legal move in the position reached by
// `moves` from `fen`, with a legal "ponder" reply if it names one. The answer
// is the "bestmove" line, with or without its first word.
inline testing::AssertionResult legalBestMove(const std::string& answer, const char* fen = START_FEN,
                                              const std::vector<std::string>& moves = {}) {
    initBoardTables();
    static Position line[64];  // the set-up moves, the best move and the reply
    if (moves.size() + 2 >= std::size(line)) return testing::AssertionFailure() << "too many set-up moves";
    setFromFen(line[0], fen);
    for (size_t i = 0; i < moves.size(); i++)
        if (!parseAndMakeMove(line[i], line[i + 1], moves[i].c_str()))
            return testing::AssertionFailure() << "set-up move " << moves[i] << " is not legal";
    std::istringstream words(answer);
    std::string best, ponderWord, ponder, extra;
    words >> best;
    if (best == "bestmove") words >> best;
    size_t ply = moves.size();
    if (!parseAndMakeMove(line[ply], line[ply + 1], best.c_str()))
        return testing::AssertionFailure() << "best move '" << best << "' is not legal in '" << answer << "'";
    if (!(words >> ponderWord)) return testing::AssertionSuccess();
    if (ponderWord != "ponder" || !(words >> ponder) || (words >> extra))
        return testing::AssertionFailure() << "malformed answer '" << answer << "'";
    if (!parseAndMakeMove(line[ply + 1], line[ply + 2], ponder.c_str()))
        return testing::AssertionFailure()
               << "ponder move '" << ponder << "' is not a legal reply in '" << answer << "'";
    return testing::AssertionSuccess();
}
