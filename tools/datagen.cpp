// Self-play data generation for training the evaluation network.
//
//   datagen --out DIR [--workers 2] [--games N] [--nodes 5000] [--hard 20000]
//           [--generation 1] [--weights FILE] [--regular] [--openings FILE]
//           [--chess960 10] [--seed S]
//
// Each worker process plays one game at a time with the engine's own search
// and evaluation (one thread, 16 MB table, no contempt, no noise): a fixed
// node budget per move (the iteration that passes --nodes is the last, and
// --hard stops any search), openings from a few random plies after the start
// position, after a line of --openings, or after a random Chess960 start
// (--chess960 percent of the games). An opening whose first search is far from
// balanced is thrown away. Games end by mate, stalemate, the fifty-move rule,
// threefold repetition, insufficient material, or adjudication (a side keeps a
// decisive score, or a long quiet draw). Every searched position becomes a
// record (tools/training/training_record.h) with the game's result.
//
// Worker k appends whole games to DIR/gen<G>_w<k>.bin, so a killed run loses
// at most the games in progress and a restarted run carries on. The parent
// prints a progress line every ten seconds. Run it under nice for hours.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "board/make_move.h"
#include "board/movegen.h"
#include "board/position.h"
#include "control/think.h"
#include "control/time_budget.h"
#include "core/options.h"
#include "platform/clock.h"
#include "platform/console_signals.h"
#include "platform/worker_processes.h"
#include "search/draw_detection.h"
#include "search/search_move.h"
#include "search/search_session.h"
#include "search/search_thread.h"
#include "training/training_record.h"
#include "tt/transposition_table.h"
#include "uci/engine_startup.h"
#include "uci/option_table.h"

namespace {

struct Settings {
    std::string outDir;
    int workers = 2;
    long long games = 0;  // per worker; 0 = until stopped
    int64_t softNodes = 5000;
    int64_t hardNodes = 20000;
    int generation = 1;
    std::string weights;
    bool regularEval = false;
    std::string openingsFile = "../shared/tools/match/openings.epd";
    int chess960Percent = 10;
    uint64_t seed = 0;
};

// What the workers tell the parent, one slot each.
struct WorkerCounters {
    std::atomic<long long> games, positions, whiteWins, draws, blackWins, discarded;
};
constexpr int MAX_WORKERS = 64;

Settings settings;
WorkerCounters* counters = nullptr;
std::vector<std::string> openingLines;

// The game being played, linked through the records' parent pointers (the
// search follows them for repetitions). Kept apart from the command loop's
// game history, which the search's input polling may set up on its own.
constexpr int MAX_GAME_RECORDS = 1024;
Position game[MAX_GAME_RECORDS];
int gameIndex = 0;

// Adjudication: a win once the score has stayed beyond WIN_SCORE for the same
// side over WIN_PLIES plies; a draw from DRAW_FROM_PLY on once it has stayed
// within DRAW_SCORE over DRAW_PLIES plies; a draw at MAX_GAME_PLIES.
constexpr int WIN_SCORE = 2500, WIN_PLIES = 8;
constexpr int DRAW_SCORE = 15, DRAW_PLIES = 12, DRAW_FROM_PLY = 80;
constexpr int MAX_GAME_PLIES = 500;
// A first search beyond this (score units) means an unbalanced opening.
constexpr int OPENING_LIMIT = 350;
// Scores at or beyond this are mates or tablebase results, never targets.
constexpr int RECORD_SCORE_LIMIT = 25000;

// The legal moves of pos.
int legalMoves(Position& pos, Move* out) {
    MoveEntry list[MAX_MOVES];
    pos.checkers = computeCheckers(pos);
    int n = pos.checkers ? generateEvasions(pos, list) : generateAll(pos, list);
    static Position scratch;
    int count = 0;
    for (int i = 0; i < n; i++)
        if (makeMove(pos, scratch, list[i].move)) out[count++] = list[i].move;
    return count;
}

// Appends the move to the game history.
void playMove(Move m) {
    makeMove(game[gameIndex], game[gameIndex + 1], m);
    linkContinuation(game[gameIndex], game[gameIndex + 1]);
    gameIndex++;
    game[gameIndex].checkers = computeCheckers(game[gameIndex]);
}

// A random Chess960 back rank in Shredder-FEN form with both sides' rights.
std::string chess960Fen(std::mt19937_64& rng) {
    char rank[9] = "........";
    auto placeOn = [&](char piece, int parity) {  // parity -1 = any square
        for (;;) {
            int f = int(rng() % 8);
            if (rank[f] == '.' && (parity < 0 || f % 2 == parity)) {
                rank[f] = piece;
                return;
            }
        }
    };
    placeOn('B', 0);
    placeOn('B', 1);
    placeOn('Q', -1);
    placeOn('N', -1);
    placeOn('N', -1);
    // Rook, king, rook on the three squares left, in that order.
    const char rest[3] = {'R', 'K', 'R'};
    int k = 0, rookFiles[2], r = 0;
    for (int f = 0; f < 8; f++)
        if (rank[f] == '.') {
            rank[f] = rest[k++];
            if (rank[f] == 'R') rookFiles[r++] = f;
        }
    std::string white = rank, black = rank;
    for (char& c : black) c = char(c + ('a' - 'A'));
    std::string rights;
    rights += char('A' + rookFiles[1]);
    rights += char('A' + rookFiles[0]);
    rights += char('a' + rookFiles[1]);
    rights += char('a' + rookFiles[0]);
    return black + "/pppppppp/8/8/8/8/PPPPPPPP/" + white + " w " + rights + " - 0 1";
}

// Sets up the game's opening: a base position and some random plies. False
// when the random plies ran into a finished game.
bool setUpOpening(std::mt19937_64& rng) {
    std::string fen = START_FEN;
    int randomPlies = 8 + int(rng() % 2);
    chess960 = 0;
    if (int(rng() % 100) < settings.chess960Percent) {
        fen = chess960Fen(rng);
        chess960 = 1;
        randomPlies = 4 + int(rng() % 3);
    } else if (!openingLines.empty() && rng() % 2 == 0) {
        fen = openingLines[rng() % openingLines.size()];
        randomPlies = 2 + int(rng() % 3);
    }
    gameIndex = 0;
    setFromFen(game[0], fen.c_str());
    game[0].parent = nullptr;
    game[0].checkers = computeCheckers(game[0]);
    for (int i = 0; i < randomPlies; i++) {
        Move moves[MAX_MOVES];
        int n = legalMoves(game[gameIndex], moves);
        if (n == 0) return false;
        playMove(moves[rng() % n]);
    }
    Move moves[MAX_MOVES];
    return legalMoves(game[gameIndex], moves) > 0;
}

// Whether m captures (en passant included) or promotes.
bool isNoisy(const Position& pos, Move m) {
    if (isPromotion(m) || moveKind(m) == EN_PASSANT) return true;
    return moveKind(m) != CASTLING && pos.board[moveTo(m)] != NO_PIECE;
}

// The end of a game by the rules, from the position to move: +1 white won,
// -1 black won, 0 drawn, 2 not over.
int ruleResult(Position& pos) {
    Move moves[MAX_MOVES];
    if (legalMoves(pos, moves) == 0) {
        if (!pos.checkers) return 0;
        return pos.sideToMove() == WHITE ? -1 : 1;
    }
    if (fiftyMoveDraw(pos) || repeatsEarlierPosition(pos, 2) || insufficientMaterial(pos)) return 0;
    return 2;
}

// Plays one game and appends its records to `out`. Returns false when the
// opening was thrown away.
bool playGame(std::mt19937_64& rng, FILE* out, WorkerCounters& mine) {
    if (!setUpOpening(rng)) return false;
    transpositionTable.clear();
    std::vector<TrainingRecord> records;
    int whiteResult = 2, winPlies = 0, winSign = 0, drawPlies = 0;
    for (int searched = 0; whiteResult == 2; searched++) {
        Position& pos = game[gameIndex];
        whiteResult = ruleResult(pos);
        if (whiteResult != 2) break;
        if (gameIndex >= MAX_GAME_PLIES || gameIndex >= MAX_GAME_RECORDS - 2) {
            whiteResult = 0;
            break;
        }
        think(pos, NO_TIME_LIMIT, 98, "", NO_TIME_LIMIT, false);
        Move best = resultMove;
        int score = resultScore;
        if (best == MOVE_NONE || score == SCORE_NONE) {
            Move moves[MAX_MOVES];
            legalMoves(pos, moves);
            best = moves[0];
            score = 0;
        }
        if (searched == 0 && std::abs(score) > OPENING_LIMIT) return false;
        int whiteScore = pos.sideToMove() == WHITE ? score : -score;
        if (std::abs(score) < RECORD_SCORE_LIMIT)
            records.push_back(packRecord(pos, score, RESULT_DRAW, isNoisy(pos, best), settings.generation));

        int sign = whiteScore >= WIN_SCORE ? 1 : whiteScore <= -WIN_SCORE ? -1 : 0;
        winPlies = sign != 0 && sign == winSign ? winPlies + 1 : (sign != 0 ? 1 : 0);
        winSign = sign;
        drawPlies = std::abs(score) <= DRAW_SCORE ? drawPlies + 1 : 0;
        if (winPlies >= WIN_PLIES) whiteResult = winSign;
        if (gameIndex >= DRAW_FROM_PLY && drawPlies >= DRAW_PLIES) whiteResult = 0;
        playMove(best);
    }
    for (TrainingRecord& r : records) {
        int stmResult = r.sideToMove() == WHITE ? whiteResult : -whiteResult;
        r.result = uint8_t(stmResult + 1);
    }
    if (!records.empty()) {
        std::fwrite(records.data(), sizeof(TrainingRecord), records.size(), out);
        std::fflush(out);
    }
    mine.games++;
    mine.positions += (long long)records.size();
    (whiteResult > 0 ? mine.whiteWins : whiteResult < 0 ? mine.blackWins : mine.draws)++;
    return true;
}

// Opens the worker's file for appending, first cutting off a partial record
// that a killed run may have left.
FILE* openWorkerFile(int worker) {
    std::string path = settings.outDir + "/gen" + std::to_string(settings.generation) + "_w" +
                       std::to_string(worker) + ".bin";
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && info.st_size % TRAINING_RECORD_BYTES != 0)
        if (truncate(path.c_str(), info.st_size - info.st_size % TRAINING_RECORD_BYTES) != 0)
            std::fprintf(stderr, "datagen: cannot repair %s\n", path.c_str());
    FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) std::fprintf(stderr, "datagen: cannot open %s for appending\n", path.c_str());
    return f;
}

void runWorker(int worker) {
    FILE* out = openWorkerFile(worker);
    if (!out) return;
    startUpEngine();
    setOption("Hash", "16");
    setOption("Contempt", "0");
    setOption("Variety", "0");
    if (!settings.weights.empty()) setOption("WeightsFile", settings.weights);
    if (settings.regularEval) setOption("Use Regular Eval", "true");
    quietSearch = true;
    nodeLimit = settings.hardNodes;
    softNodeLimit = settings.softNodes;
    std::mt19937_64 rng(settings.seed * 0x9E3779B97F4A7C15ull + uint64_t(worker) * 7919 + 1);
    WorkerCounters& mine = counters[worker];
    for (long long played = 0; settings.games == 0 || played < settings.games;) {
        if (playGame(rng, out, mine))
            played++;
        else
            mine.discarded++;
    }
    std::fclose(out);
}

void loadOpenings() {
    FILE* f = std::fopen(settings.openingsFile.c_str(), "r");
    if (!f) {
        std::fprintf(stderr, "datagen: no openings file %s; random plies from the start position only\n",
                     settings.openingsFile.c_str());
        return;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        // The first four fields are the position; the EPD operations are not read.
        std::string fen;
        int fields = 0;
        for (char* word = std::strtok(line, " \t\r\n"); word && fields < 4;
             word = std::strtok(nullptr, " \t\r\n")) {
            if (fields) fen += ' ';
            fen += word;
            fields++;
        }
        if (fields == 4) openingLines.push_back(fen + " 0 1");
    }
    std::fclose(f);
}

void printProgress(double seconds) {
    long long games = 0, positions = 0, white = 0, draws = 0, black = 0, discarded = 0;
    for (int k = 0; k < settings.workers; k++) {
        games += counters[k].games;
        positions += counters[k].positions;
        white += counters[k].whiteWins;
        draws += counters[k].draws;
        black += counters[k].blackWins;
        discarded += counters[k].discarded;
    }
    double share = games ? 100.0 / double(games) : 0;
    std::printf(
        "%8.0f s  games %lld  positions %lld  %.0f pos/s  white %.1f%%  draw %.1f%%  black %.1f%%  "
        "openings discarded %lld\n",
        seconds, games, positions, double(positions) / seconds, white * share, draws * share, black * share,
        discarded);
    std::fflush(stdout);
}

bool parseArguments(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--regular") {
            settings.regularEval = true;
            continue;
        }
        if (!hasValue) {
            std::fprintf(stderr, "datagen: %s needs a value\n", a.c_str());
            return false;
        }
        const char* v = argv[++i];
        if (a == "--out")
            settings.outDir = v;
        else if (a == "--workers")
            settings.workers = std::atoi(v);
        else if (a == "--games")
            settings.games = std::atoll(v);
        else if (a == "--nodes")
            settings.softNodes = std::atoll(v);
        else if (a == "--hard")
            settings.hardNodes = std::atoll(v);
        else if (a == "--generation")
            settings.generation = std::atoi(v);
        else if (a == "--weights")
            settings.weights = v;
        else if (a == "--openings")
            settings.openingsFile = v;
        else if (a == "--chess960")
            settings.chess960Percent = std::atoi(v);
        else if (a == "--seed")
            settings.seed = std::strtoull(v, nullptr, 10);
        else {
            std::fprintf(stderr, "datagen: unknown argument %s\n", a.c_str());
            return false;
        }
    }
    if (settings.outDir.empty()) {
        std::fprintf(stderr,
                     "usage: datagen --out DIR [--workers N] [--games N] [--nodes N] [--hard N]\n"
                     "               [--generation G] [--weights FILE] [--regular] [--openings FILE]\n"
                     "               [--chess960 PERCENT] [--seed S]\n");
        return false;
    }
    if (settings.workers < 1 || settings.workers > MAX_WORKERS || settings.softNodes < 1 ||
        settings.hardNodes < settings.softNodes || settings.generation < 0 || settings.generation > 255) {
        std::fprintf(stderr, "datagen: workers 1..%d, 1 <= nodes <= hard, generation 0..255\n", MAX_WORKERS);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!parseArguments(argc, argv)) return 2;
    mkdir(settings.outDir.c_str(), 0755);
    struct stat info;
    if (stat(settings.outDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "datagen: %s is not a directory\n", settings.outDir.c_str());
        return 1;
    }
    // A fresh seed per run, so that a restarted run does not replay its games.
    if (settings.seed == 0)
        settings.seed =
            uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ uint64_t(getpid());
    loadOpenings();
    counters = static_cast<WorkerCounters*>(allocateSharedMemory(sizeof(WorkerCounters) * MAX_WORKERS));
    if (!counters) {
        std::fprintf(stderr, "datagen: no shared memory for the progress counters\n");
        return 1;
    }
    installConsoleSignalHandlers();
    std::printf("datagen: %d workers, nodes %lld/%lld, generation %d, output %s, seed %llu\n",
                settings.workers, (long long)settings.softNodes, (long long)settings.hardNodes,
                settings.generation, settings.outDir.c_str(), (unsigned long long)settings.seed);
    std::fflush(stdout);
    double start = elapsedSeconds();
    startWorkerProcesses(settings.workers, runWorker);
    double nextReport = start + 10;
    while (workersRunning() && !consoleClosed.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (elapsedSeconds() >= nextReport) {
            printProgress(elapsedSeconds() - start);
            nextReport += 10;
        }
    }
    stopWorkerProcesses();
    printProgress(elapsedSeconds() - start);
    return 0;
}
