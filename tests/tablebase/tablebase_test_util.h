// Shared by the tablebase tests: where the tables are, random legal
// positions of a table's material, and the fathom library as the independent
// prober the answers are compared with.
#pragma once

#include <gtest/gtest.h>
#include <tbprobe.h>

#include <dirent.h>
#include <unistd.h>
#include <algorithm>
#include <cstdint>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "board/bitboard.h"
#include "board/movegen.h"
#include "board/position.h"

// The few small tables the suite always has.
inline std::string repoTablebaseDir() {
    return std::string(SABLE_DATA_DIR) + "/syzygy";
}
// The larger optional set beside the repository (3-, 4- and some 5-piece
// tables); tests that need it skip themselves without it.
inline std::string sharedTablebaseDir() {
    return std::string(SABLE_DATA_DIR) + "/../../../shared/data/syzygy";
}

// Table names (e.g. "KRPvKR") of the WDL files in a folder, sorted.
inline std::vector<std::string> tableNamesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* f = readdir(d)) {
            std::string file = f->d_name;
            if (file.size() > 5 && file.substr(file.size() - 5) == ".rtbw")
                names.push_back(file.substr(0, file.size() - 5));
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// FEN placement of a 64-square board of FEN letters (0 = empty), a1 first.
inline std::string placementText(const char board[64]) {
    std::string fen;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            char c = board[makeSquare(file, rank)];
            if (!c) {
                empty++;
                continue;
            }
            if (empty) fen += char('0' + empty);
            empty = 0;
            fen += c;
        }
        if (empty) fen += char('0' + empty);
        if (rank) fen += '/';
    }
    return fen;
}

// A random legal position with the material of table `name`: either colour
// may hold the side written first, either side may move, and where both
// sides have pawns about half the positions carry an en-passant right.
// Returns the FEN.
inline std::string randomTablePosition(const std::string& name, std::mt19937_64& rng) {
    size_t v = name.find('v');
    std::string sides[2] = {name.substr(0, v), name.substr(v + 1)};
    bool bothPawns = sides[0].find('P') != std::string::npos && sides[1].find('P') != std::string::npos;
    for (;;) {
        char board[64] = {};
        int firstColour = int(rng() & 1);
        Color toMove = Color(rng() & 1);
        auto letter = [&](int colour, char c) { return colour == WHITE ? c : char(c - 'A' + 'a'); };
        std::string ep = "-";
        std::string remaining[2] = {sides[0], sides[1]};  // by table side
        if (bothPawns && (rng() & 1)) {
            // The side not to move has just pushed a pawn two squares past an
            // enemy pawn.
            Color pusher = ~toMove;
            int file = int(rng() % 8), beside = file + ((rng() & 1) ? 1 : -1);
            if (beside < 0 || beside > 7) continue;
            int rank = pusher == WHITE ? 3 : 4, behind = pusher == WHITE ? 2 : 5,
                start = pusher == WHITE ? 1 : 6;
            board[makeSquare(file, rank)] = letter(pusher, 'P');
            board[makeSquare(beside, rank)] = letter(toMove, 'P');
            board[makeSquare(file, behind)] = '.';
            board[makeSquare(file, start)] = '.';
            for (int colour = 0; colour < 2; colour++) {
                std::string& r = remaining[colour ^ firstColour];
                r.erase(r.find('P'), 1);
            }
            ep = std::string(1, char('a' + file)) + char('1' + behind);
        }
        for (int side = 0; side < 2; side++)
            for (char c : remaining[side]) {
                int colour = side ^ firstColour;
                int s;
                do {
                    s = int(rng() % 64);
                } while (board[s] || (c == 'P' && (rankOf(s) == 0 || rankOf(s) == 7)));
                board[s] = letter(colour, c);
            }
        for (char& c : board)
            if (c == '.') c = 0;
        std::string fen = placementText(board) + (toMove == WHITE ? " w - " : " b - ") + ep + " 0 1";
        Position pos = fromFen(fen.c_str());
        Color them = ~toMove;
        if (attackersTo(pos, pos.kingSquare[them], pos.occupied) & pos.pieces[toMove][0]) continue;
        if (KingAttacks[pos.kingSquare[WHITE]] & squareBB(pos.kingSquare[BLACK])) continue;
        return fen;
    }
}

// fathom's answers for a position (the tables given to tb_init).
struct OracleAnswer {
    bool wdlKnown;
    int wdl;  // -2..2
    bool dtzKnown;
    int dtz;  // signed like the WDL value; 0 for a draw
};

inline OracleAnswer oracleProbe(const Position& pos, int epSquare) {
    Bitboard white = pos.pieces[WHITE][0], black = pos.pieces[BLACK][0];
    auto both = [&](PieceType t) { return pos.pieces[WHITE][t] | pos.pieces[BLACK][t]; };
    bool turn = pos.sideToMove() == WHITE;
    unsigned ep = epSquare >= 0 ? unsigned(epSquare) : 0;
    OracleAnswer a{};
    unsigned wdl = tb_probe_wdl(white, black, both(KING), both(QUEEN), both(ROOK), both(BISHOP), both(KNIGHT),
                                both(PAWN), 0, 0, ep, turn);
    if (wdl != TB_RESULT_FAILED) {
        a.wdlKnown = true;
        a.wdl = int(wdl) - 2;
    }
    unsigned root = tb_probe_root(white, black, both(KING), both(QUEEN), both(ROOK), both(BISHOP),
                                  both(KNIGHT), both(PAWN), 0, 0, ep, turn, nullptr);
    // Mates and stalemates come back as special codes, not as table values.
    if (root != TB_RESULT_FAILED && root != TB_RESULT_CHECKMATE && root != TB_RESULT_STALEMATE) {
        int label = int(TB_GET_WDL(root)) - 2;
        int distance = int(TB_GET_DTZ(root));
        a.dtzKnown = true;
        a.dtz = label > 0 ? distance : label < 0 ? -distance : 0;
    }
    return a;
}

// The en-passant square of a FEN, -1 when none.
inline int fenEpSquare(const std::string& fen) {
    std::vector<std::string> fields;
    size_t at = 0;
    while (at < fen.size()) {
        size_t next = fen.find(' ', at);
        if (next == std::string::npos) next = fen.size();
        fields.push_back(fen.substr(at, next - at));
        at = next + 1;
    }
    if (fields.size() < 4 || fields[3] == "-") return -1;
    return makeSquare(fields[3][0] - 'a', fields[3][1] - '1');
}

// A fresh folder under /tmp, removed with its files when the test ends.
struct ScratchFolder {
    std::string path;
    std::vector<std::string> files;

    explicit ScratchFolder(const std::string& tag) {
        std::string pattern = "/tmp/sable-tb-" + tag + "-XXXXXX";
        std::vector<char> text(pattern.begin(), pattern.end());
        text.push_back('\0');
        path = mkdtemp(text.data()) ? text.data() : "";
    }
    ~ScratchFolder() {
        for (const std::string& f : files) std::remove((path + "/" + f).c_str());
        rmdir(path.c_str());
    }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(path + "/" + name, std::ios::binary) << bytes;
        files.push_back(name);
    }
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A KNvK WDL file whose every position has the value `whiteToMove` with the
// knight's side to move and `blackToMove` otherwise (two single-value
// sub-tables), padded to a valid file size.
inline std::string singleValueTable(int whiteToMove, int blackToMove) {
    std::string bytes = {'\x71', '\xe8',
                         '\x23', '\x5d',
                         '\x31', '\x00',
                         '\xee', '\x66',
                         '\x22', '\x00',
                         '\x80', char(whiteToMove + 2),
                         '\x80', char(blackToMove + 2)};
    bytes.resize(80, '\0');
    return bytes;
}
