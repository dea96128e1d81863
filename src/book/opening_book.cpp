#include "book/opening_book.h"

#include <sys/types.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/make_move.h"
#include "board/movegen.h"
#include "book/book_key.h"
#include "core/options.h"
#include "core/output.h"

int32_t bookMovesLimit = 1000;

namespace {

constexpr int ENTRY_BYTES = 16;

FILE* bookStream = nullptr;

struct BookEntry {
    uint64_t key;
    uint16_t move;
    uint16_t weight;
};

enum class ReadResult { OK, SEEK_FAILED, READ_FAILED };

void closeBookStream() {
    if (bookStream) std::fclose(bookStream);
    bookStream = nullptr;
}

// A book that fails while it is being read is given up: the message goes to
// standard error once and the game continues without a book.
int giveUpBook(const char* message, bool withSystemError) {
    if (withSystemError) printTo(stderr, "%s\n", std::strerror(errno));
    printTo(stderr, "%s", message);
    closeBookStream();
    return 0;
}

uint64_t bigEndian(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; i++) value = (value << 8) | bytes[i];
    return value;
}

ReadResult readNextEntry(BookEntry& entry) {
    unsigned char raw[ENTRY_BYTES];
    if (std::fread(raw, 1, ENTRY_BYTES, bookStream) != size_t(ENTRY_BYTES)) return ReadResult::READ_FAILED;
    entry.key = bigEndian(raw, 8);
    entry.move = uint16_t(bigEndian(raw + 8, 2));
    entry.weight = uint16_t(bigEndian(raw + 10, 2));
    return ReadResult::OK;
}

ReadResult readEntry(int64_t index, BookEntry& entry) {
    if (fseeko(bookStream, off_t(index) * ENTRY_BYTES, SEEK_SET) != 0) return ReadResult::SEEK_FAILED;
    return readNextEntry(entry);
}

// The index of an entry with `key`, or -1 (also on a read failure, after
// giving the book up).
int64_t findKey(uint64_t key, int64_t count) {
    int64_t lo = 0, hi = count - 1;
    while (true) {
        int64_t mid = lo + (hi - lo) / 2;
        BookEntry entry;
        ReadResult result = readEntry(mid, entry);
        if (result == ReadResult::SEEK_FAILED) {
            giveUpBook("info Error with fseek in binary search\n", true);
            return -1;
        }
        if (result == ReadResult::READ_FAILED) {
            giveUpBook("info Error with fread opening book\n", false);
            return -1;
        }
        // The bounds keep an unsorted file inside [0, count) and end the
        // search after at most log2(count) + 1 reads.
        if (key < entry.key) {
            if (hi - lo < 2) return -1;
            hi = mid - 1;
        } else if (key > entry.key) {
            if (hi <= mid) return -1;
            lo = mid + 1;
        } else {
            return mid;
        }
    }
}

// The legal move of `legal` that the book's move code names, or MOVE_NONE.
// Books write castling as the king taking its own rook; the king's two-square
// step is accepted as well where it cannot be an ordinary king move.
Move matchLegalMove(uint16_t code, const Move* legal, int legalCount) {
    Square to = Square(code & 63), from = Square((code >> 6) & 63);
    int promotion = (code >> 12) & 7;
    // Book codes 1..4 are knight, bishop, rook, queen; 5..7 name no piece.
    static constexpr PieceType BookPromotion[5] = {NO_PIECE_TYPE, KNIGHT, BISHOP, ROOK, QUEEN};
    if (promotion > 4) return MOVE_NONE;
    for (int i = 0; i < legalCount; i++) {
        Move m = legal[i];
        if (moveFrom(m) != from) continue;
        PieceType promoted = isPromotion(m) ? promotionType(m) : NO_PIECE_TYPE;
        if (promoted != BookPromotion[promotion]) continue;
        if (moveTo(m) == to) return m;
        if (moveKind(m) == CASTLING) {
            Square kingTarget = makeSquare(fileOf(moveTo(m)) > fileOf(from) ? 6 : 2, rankOf(from));
            if (to == kingTarget && std::abs(fileOf(kingTarget) - fileOf(from)) >= 2) return m;
        }
    }
    return MOVE_NONE;
}

int legalMoves(const Position& pos, Move* out) {
    static Position work, child;
    std::memcpy(static_cast<void*>(&work), &pos, POSITION_COPY_BYTES);
    work.computed[WHITE] = work.computed[BLACK] = false;
    work.checkers = computeCheckers(work);
    MoveEntry list[MAX_MOVES];
    int n = work.checkers ? generateEvasions(work, list) : generateAll(work, list);
    int count = 0;
    for (int i = 0; i < n; i++)
        if (makeMove(work, child, list[i].move)) out[count++] = list[i].move;
    return count;
}

}  // namespace

void reopenBook() {
    closeBookStream();
    if (bookMoves != 0) bookStream = std::fopen(bookFile.c_str(), "rb");
}

bool bookIsOpen() {
    return bookStream != nullptr;
}

int collectBookMoves(const Position& pos, BookMove* out) {
    if (!bookStream) return 0;
    uint64_t key = bookKey(pos);

    if (fseeko(bookStream, 0, SEEK_END) != 0)
        return giveUpBook("Error with initial fseek of opening book\n", true);
    off_t size = ftello(bookStream);
    if (size < ENTRY_BYTES) return 0;
    // Bytes after the last whole entry are not read.
    int64_t count = int64_t(size) / ENTRY_BYTES;
    int64_t first = findKey(key, count);
    if (first < 0) return 0;

    Move legal[MAX_MOVES];
    int legalCount = legalMoves(pos, legal);

    BookEntry entry;
    while (first > 0) {
        ReadResult result = readEntry(first - 1, entry);
        if (result == ReadResult::SEEK_FAILED) return giveUpBook("Error with fseek in back up\n", true);
        if (result == ReadResult::READ_FAILED) return giveUpBook("Error with fread opening book\n", false);
        if (entry.key != key) break;
        first--;
    }

    int found = 0;
    if (fseeko(bookStream, off_t(first) * ENTRY_BYTES, SEEK_SET) != 0)
        return giveUpBook("Error with fseek in collection\n", true);
    for (int64_t index = first; index < count; index++) {
        if (readNextEntry(entry) != ReadResult::OK)
            return giveUpBook("Error with fread opening book\n", false);
        if (entry.key != key) break;
        if (entry.weight == 0) continue;
        Move m = matchLegalMove(entry.move, legal, legalCount);
        if (m == MOVE_NONE) return 0;
        // Entries beyond the room are still checked for legality above.
        if (found < MAX_BOOK_MOVES) out[found++] = {m, entry.weight};
    }
    return found;
}

Move chooseBookMove(BookMove* moves, int count, bool heaviestOnly, int random15) {
    if (heaviestOnly) {
        std::stable_sort(moves, moves + count,
                         [](const BookMove& a, const BookMove& b) { return a.weight > b.weight; });
        int kept = 1;
        while (kept < count && moves[kept].weight >= moves[kept - 1].weight) kept++;
        count = kept;
    }
    uint64_t total = 0;
    for (int i = 0; i < count; i++) total += moves[i].weight;
    // The top draw (32767) gives a threshold equal to the total, which no
    // running sum exceeds: the walk then ends on the last move.
    uint64_t threshold = uint64_t(random15 & 32767) * total / 32767;
    uint64_t sum = 0;
    for (int i = 0; i < count; i++) {
        sum += moves[i].weight;
        if (sum > threshold) return moves[i].move;
    }
    return moves[count - 1].move;
}

Move probeBook(const Position& pos) {
    if (!bookStream || bookMovesLimit <= int32_t(uint16_t(pos.gamePly) / 2) || !ownBook) return MOVE_NONE;
    BookMove moves[MAX_BOOK_MOVES];
    int count = collectBookMoves(pos, moves);
    if (count == 0) return MOVE_NONE;
    return chooseBookMove(moves, count, bestBookLine != 0, std::rand() % 32768);
}
