// The network built into the program, evaluated through the real loader and
// inference: it must score material for the side that has it, and about the
// right amount. The bounds are loose enough for any sensible network, so that
// they hold after a trained network replaces the generated one.
#include <gtest/gtest.h>

#include <memory>

#include "../../board/board_test_util.h"
#include "eval/network/embedded_network.h"
#include "eval/network/network.h"
#include "eval/network/network_loader.h"

namespace {

struct MaterialCase {
    const char* what;
    const char* fen;
    int lowest, highest;  // raw network output n, side to move's view
};

// About 120 raw units to a pawn in the generated network (190 expected from
// a trained one).
constexpr MaterialCase MATERIAL_CASES[] = {
    {"start", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", -40, 40},
    {"start, black to move", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1", -40, 40},
    {"a pawn up", "rnbqkbnr/pppp1ppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 50, 350},
    {"a pawn down", "rnbqkbnr/pppp1ppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1", -350, -50},
    {"a knight up", "r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 250, 1000},
    {"a knight down", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/R1BQKBNR w KQkq - 0 1", -1000, -250},
    {"a rook up", "1nbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w Kk - 0 1", 500, 1700},
    {"a queen up, black", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNB1KBNR b KQkq - 0 1", 1000, 3500},
    {"rook against king", "8/8/4k3/8/8/8/8/R3K3 w - - 0 1", 500, 3000},
    {"rook against king, defender to move", "8/8/4k3/8/8/8/8/R3K3 b - - 0 1", -3000, -500},
};

TEST(BuiltinNetwork, ScoresMaterialForTheSideThatHasIt) {
    std::unique_ptr<Network> net = loadFromMemory(EmbeddedNetworkBlock, EmbeddedNetworkBlockSize);
    ASSERT_NE(net, nullptr);
    for (const MaterialCase& c : MATERIAL_CASES) {
        Position pos = fromFen(c.fen);
        int n = networkEvaluate(*net, pos);
        EXPECT_GE(n, c.lowest) << c.what;
        EXPECT_LE(n, c.highest) << c.what;
    }
}

}  // namespace
