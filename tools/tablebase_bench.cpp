// Measures tablebase probes: WDL and DTZ probes per second on random legal
// positions of one table, cold (the table just registered, its files dropped
// from the page cache where the system allows, so every page is a first
// touch) and warm (the same positions again, pages mapped and cached).
//
// Usage: tablebase_bench [FOLDER] [TABLE] [POSITIONS] [RUNS]
//   FOLDER holds the tables (default ../shared/data/syzygy), TABLE names one
//   of them (default KRPvKR; the tables its captures lead to must be there
//   too), POSITIONS random positions per pass (default 20000), RUNS warm
//   passes (default 5; the median is printed).
//
// Cold passes wait on the disk, so they are given in wall-clock time; warm
// passes in this process's processor time, so that other programs on a
// shared machine count less. The load average is printed with them.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "board/bitboard.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "platform/mapped_file.h"
#include "tablebase/tablebase_probe.h"
#include "tablebase/tablebase_registry.h"

namespace {

double seconds(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A position's board part (what making a move copies); a whole record would
// mostly hold network sums the probes never read.
struct BoardPart {
    unsigned char bytes[POSITION_COPY_BYTES];
};

// Random legal positions with the table's material, either colour holding
// either side, either side to move.
std::vector<BoardPart> randomPositions(const std::string& table, int count) {
    size_t v = table.find('v');
    std::string sides[2] = {table.substr(0, v), table.substr(v + 1)};
    const std::string letters = " PNBRQK";
    std::mt19937_64 rng(2026);
    std::vector<BoardPart> positions;
    static Position pos;
    while (int(positions.size()) < count) {
        uint8_t board[64] = {};
        int firstColour = int(rng() & 1);
        for (int side = 0; side < 2; side++)
            for (char c : sides[side]) {
                PieceType type = PieceType(letters.find(c));
                int s;
                do {
                    s = int(rng() % 64);
                } while (board[s] || (type == PAWN && (s < 8 || s >= 56)));
                board[s] = uint8_t(makePiece(Color(side ^ firstColour), type));
            }
        char fen[128];
        char* end = writePlacement(board, fen);
        std::snprintf(end, 16, (rng() & 1) ? " w - - 0 1" : " b - - 0 1");
        setFromFen(pos, fen);
        Color us = pos.sideToMove();
        if (attackersTo(pos, pos.kingSquare[~us], pos.occupied) & pos.pieces[us][0]) continue;
        if (KingAttacks[pos.kingSquare[WHITE]] & squareBB(pos.kingSquare[BLACK])) continue;
        BoardPart part;
        std::memcpy(part.bytes, &pos, sizeof part.bytes);
        positions.push_back(part);
    }
    return positions;
}

// One pass of probes over every position; returns the elapsed seconds of
// `clock` and adds the successful probes to `found`.
double probePass(const std::vector<BoardPart>& positions, bool dtz, clockid_t clock, long& found) {
    static Position pos;
    double start = seconds(clock);
    ProbeResult result;
    for (const BoardPart& part : positions) {
        std::memcpy(static_cast<void*>(&pos), part.bytes, sizeof part.bytes);
        dtz ? probeDtz(pos, &result) : probeWdl(pos, &result);
        found += result != PROBE_FAILED;
    }
    return seconds(clock) - start;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "../shared/data/syzygy";
    std::string table = argc > 2 ? argv[2] : "KRPvKR";
    int count = argc > 3 ? std::atoi(argv[3]) : 20000;
    int runs = argc > 4 ? std::atoi(argv[4]) : 5;
    if (count < 1 || runs < 1) {
        std::fprintf(stderr, "usage: tablebase_bench [FOLDER] [TABLE] [POSITIONS] [RUNS]\n");
        return 1;
    }
    initSlidingAttacks();
    initRayTables();
    std::vector<BoardPart> positions = randomPositions(table, count);
    double load[3] = {0, 0, 0};

    for (bool dtz : {false, true}) {
        const char* kind = dtz ? "DTZ" : "WDL";
        // Cold: the folder registered afresh, so nothing is mapped, and its
        // files dropped from the page cache.
        initTablebases(folder);
        std::error_code error;
        for (const auto& file : std::filesystem::directory_iterator(folder, error))
            dropCachedPages(file.path().c_str());
        long found = 0;
        double cold = probePass(positions, dtz, CLOCK_MONOTONIC, found);
        std::vector<double> warm;
        for (int r = 0; r < runs; r++) {
            long again = 0;
            warm.push_back(probePass(positions, dtz, CLOCK_PROCESS_CPUTIME_ID, again));
        }
        std::sort(warm.begin(), warm.end());
        getloadavg(load, 3);
        std::printf(
            "%s %s: %d positions, %ld answered; cold %.0f probes/s (wall), warm %.0f probes/CPU-s "
            "(median of %d); load %.2f\n",
            table.c_str(), kind, count, found, count / cold, count / warm[warm.size() / 2], runs, load[0]);
    }
    return 0;
}
