// The training record: what the generator packs is what the trainer unpacks.
#include "training/training_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../board/board_test_util.h"

namespace {

// The first two FEN fields (placement and side), which a record keeps.
std::string boardAndSide(const std::string& fen) {
    size_t first = fen.find(' ');
    return fen.substr(0, fen.find(' ', first + 1));
}

TEST(TrainingRecord, PackedBoardsReadBackAsTheSameFen) {
    struct Case {
        const char* fen;
        bool inCheck;
    };
    const Case cases[] = {
        {START_FEN, false},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", false},
        {"8/8/8/8/8/8/8/K6k b - - 0 1", false},
        {"4k3/8/8/8/8/8/4R3/4K3 b - - 0 1", true},
        {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", true},
    };
    for (const Case& c : cases) {
        Position pos = fromFen(c.fen);
        TrainingRecord r = packRecord(pos, -123, RESULT_WIN, true, 7);
        char fen[128];
        ASSERT_TRUE(recordToFen(r, fen)) << c.fen;
        EXPECT_EQ(boardAndSide(fen), boardAndSide(c.fen));
        EXPECT_EQ(r.score, -123);
        EXPECT_EQ(r.result, RESULT_WIN);
        EXPECT_EQ(r.generation, 7);
        EXPECT_EQ(r.phase, pos.phase);
        EXPECT_EQ(r.sideToMove(), pos.sideToMove());
        EXPECT_TRUE(r.noisyBestMove());
        EXPECT_EQ(r.inCheck(), c.inCheck) << c.fen;
        Piece board[64];
        ASSERT_TRUE(unpackBoard(r, board));
        for (Square s = 0; s < 64; s++) EXPECT_EQ(board[s], pos.board[s]);
    }
}

TEST(TrainingRecord, ImpossibleBoardsAreRefused) {
    Position pos = fromFen(START_FEN);
    TrainingRecord good = packRecord(pos, 0, RESULT_DRAW, false, 1);

    TrainingRecord unknownCode = good;
    unknownCode.pieces[0] = 0x77;  // piece code 7 is no piece
    TrainingRecord emptyCode = good;
    emptyCode.pieces[3] = 0;
    TrainingRecord noBlackKing = good;
    noBlackKing.pieces[14] = uint8_t((noBlackKing.pieces[14] & 0xF0) | 13);  // the king on e8 becomes a queen
    TrainingRecord tooMany = good;
    tooMany.occupancy |= uint64_t(0xFF) << 24;

    Piece board[64];
    char fen[128];
    for (const TrainingRecord& r : {unknownCode, emptyCode, noBlackKing, tooMany}) {
        EXPECT_FALSE(unpackBoard(r, board));
        EXPECT_FALSE(recordToFen(r, fen));
    }
}

}  // namespace
