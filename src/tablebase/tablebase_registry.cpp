#include "tablebase/tablebase_registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "board/zobrist.h"
#include "core/output.h"
#include "platform/threads.h"

int tbLargest = 0;

namespace {

std::vector<std::string> folders;
std::unique_ptr<TableEntry[]> entries;
int entryCount = 0;
TablebaseCounts counts{};
// Serialises the opening of table parts; the probes themselves take no lock.
Mutex openMutex;

// Open addressing from material key to entry: twice the keys of a complete
// set, so probes stay short.
constexpr int KEY_SLOTS = 4096;
struct KeySlot {
    Key key;
    int16_t entry;  // -1 = empty
};
KeySlot keyIndex[KEY_SLOTS];

constexpr char PieceLetters[] = " PNBRQK";

void addKey(Key key, int entry) {
    for (uint32_t i = uint32_t(key) & (KEY_SLOTS - 1);; i = (i + 1) & (KEY_SLOTS - 1)) {
        if (keyIndex[i].entry < 0) {
            keyIndex[i] = {key, int16_t(entry)};
            return;
        }
        if (keyIndex[i].key == key) return;  // a symmetric table: both keys are one
    }
}

// The folders of the option's text: ';' separates them, and so does ':' as
// Unix users write search paths; empty pieces are skipped.
std::vector<std::string> splitFolders(const std::string& path) {
    std::vector<std::string> result;
    std::string piece;
    for (char c : path + ";") {
        if (c == ';' || c == ':') {
            if (!piece.empty()) result.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    return result;
}

// Size of the first readable file `name` + `extension` in the folders, -1
// when there is none.
int64_t findFile(const char* name, const char* extension, std::string* foundPath = nullptr) {
    for (const std::string& folder : folders) {
        std::string path = folder + "/" + name + extension;
        int64_t size = readableFileSize(path.c_str());
        if (size < 0) continue;
        if (foundPath) *foundPath = path;
        return size;
    }
    return -1;
}

// Whether the table file exists and has a plausible size: the data is padded
// to 64 bytes and followed by a 16-byte checksum. Reports a file that does
// not fit as incomplete.
bool presentAndComplete(const char* name, const char* extension) {
    int64_t size = findFile(name, extension);
    if (size < 0) return false;
    if (size % 64 == 16) return true;
    printTo(stderr, "Incomplete tablebase file %s%s\n", name, extension);
    printOut("info string Incomplete tablebase file %s%s\n", name, extension);
    return false;
}

Key materialKeyOf(const uint8_t count[2][7], bool exchanged) {
    Key key = 0;
    for (int colour = 0; colour < 2; colour++)
        for (int type = PAWN; type <= QUEEN; type++)
            key += Key(count[colour][type]) * Key(MaterialSignature[colour ^ exchanged][type][0]);
    return key;
}

// Registers the table of the two sides' pieces (piece types, strongest
// first, kings left out) when its WDL file is present.
void registerTable(const std::vector<int>& first, const std::vector<int>& second) {
    char name[16];
    int at = 0;
    name[at++] = 'K';
    for (int t : first) name[at++] = PieceLetters[t];
    name[at++] = 'v';
    name[at++] = 'K';
    for (int t : second) name[at++] = PieceLetters[t];
    name[at] = '\0';
    if (!presentAndComplete(name, ".rtbw") || entryCount == MAX_TABLE_ENTRIES) return;

    TableEntry& e = entries[entryCount];
    std::memcpy(e.name, name, sizeof name);
    TableMaterial& m = e.material;
    m = {};
    m.count[0][KING] = m.count[1][KING] = 1;
    for (int t : first) m.count[0][t]++;
    for (int t : second) m.count[1][t]++;
    m.pieceCount = uint8_t(2 + first.size() + second.size());
    m.hasPawns = m.count[0][PAWN] + m.count[1][PAWN] > 0;
    m.symmetric = first == second;
    e.key = materialKeyOf(m.count, false);
    e.flippedKey = materialKeyOf(m.count, true);
    e.hasDtm = presentAndComplete(name, ".rtbm");
    e.hasDtz = presentAndComplete(name, ".rtbz");
    e.wdlState.store(PART_CLOSED);
    e.dtzState.store(PART_CLOSED);

    counts.wdl++;
    counts.dtz += e.hasDtz;
    counts.dtm += e.hasDtm;
    if (m.pieceCount > tbLargest) tbLargest = m.pieceCount;
    if (e.hasDtm && m.pieceCount > counts.largestDtm) counts.largestDtm = m.pieceCount;
    addKey(e.key, entryCount);
    addKey(e.flippedKey, entryCount);
    entryCount++;
}

// Every side of `size` pieces (no kings), strongest first: queens, rooks,
// bishops, knights, pawns.
void sidesOfSize(int size, int strongest, std::vector<int>& side, std::vector<std::vector<int>>& out) {
    if (int(side.size()) == size) {
        out.push_back(side);
        return;
    }
    for (int t = strongest; t >= PAWN; t--) {
        side.push_back(t);
        sidesOfSize(size, t, side, out);
        side.pop_back();
    }
}

// Every table name up to seven pieces, in canonical form: the side with more
// pieces first, or with as many, the side with the stronger piece at the
// first difference.
void registerEveryPresentTable() {
    for (int a = 1; a <= MAX_TABLE_PIECES - 2; a++)
        for (int b = 0; b <= a && a + b <= MAX_TABLE_PIECES - 2; b++) {
            std::vector<std::vector<int>> firsts, seconds;
            std::vector<int> scratch;
            sidesOfSize(a, QUEEN, scratch, firsts);
            sidesOfSize(b, QUEEN, scratch, seconds);
            for (const auto& first : firsts)
                for (const auto& second : seconds)
                    if (a > b || first >= second) registerTable(first, second);
        }
}

void closeTable(TableEntry& e) {
    unmapFile(e.wdlFile);
    unmapFile(e.dtzFile);
    e.wdl.reset();
    e.dtz.reset();
    e.wdlState.store(PART_CLOSED);
    e.dtzState.store(PART_CLOSED);
}

}  // namespace

TablebaseCounts tablebaseCounts() {
    return counts;
}

void initTablebases(const std::string& path) {
    for (int i = 0; i < entryCount; i++) closeTable(entries[i]);
    entryCount = 0;
    counts = {};
    tbLargest = 0;
    folders.clear();
    for (KeySlot& slot : keyIndex) slot = {0, -1};
    if (path.empty() || path == "<empty>") return;

    folders = splitFolders(path);
    if (!entries) {
        entries.reset(new (std::nothrow) TableEntry[MAX_TABLE_ENTRIES]);
        if (!entries) {
            printTo(stderr, "Out of memory.\n");
            std::exit(1);
        }
    }
    registerEveryPresentTable();
    printOut("info string Found %d WDL and %d DTZ tablebase files (up to %d-man).\n", counts.wdl, counts.dtz,
             tbLargest);
}

TableEntry* findTable(Key materialCountKey) {
    for (uint32_t i = uint32_t(materialCountKey) & (KEY_SLOTS - 1);; i = (i + 1) & (KEY_SLOTS - 1)) {
        if (keyIndex[i].entry < 0) return nullptr;
        if (keyIndex[i].key == materialCountKey) return &entries[keyIndex[i].entry];
    }
}

const TableFile* openTablePart(TableEntry& e, TableKind kind) {
    bool wdl = kind == TableKind::Wdl;
    std::atomic<uint8_t>& state = wdl ? e.wdlState : e.dtzState;
    uint8_t now = state.load(std::memory_order_acquire);
    if (now == PART_READY) return wdl ? e.wdl.get() : e.dtz.get();
    if (now == PART_BROKEN || (!wdl && !e.hasDtz)) return nullptr;

    MutexLock lock(openMutex);
    now = state.load(std::memory_order_relaxed);
    if (now != PART_CLOSED) return now == PART_READY ? (wdl ? e.wdl.get() : e.dtz.get()) : nullptr;

    // A broken part stays broken until the next registration, so its message
    // comes once and later probes fail at once.
    const char* extension = wdl ? ".rtbw" : ".rtbz";
    MappedFile& file = wdl ? e.wdlFile : e.dtzFile;
    std::string path;
    MapStatus status = MapStatus::NotOpened;
    if (findFile(e.name, extension, &path) >= 0) status = mapFileReadOnly(path.c_str(), file);
    if (status != MapStatus::Mapped) {
        if (status == MapStatus::NotMapped)
            printTo(stderr, "Could not map %s%s into memory.\n", e.name, extension);
        state.store(PART_BROKEN, std::memory_order_release);
        return nullptr;
    }
    auto parsed = std::unique_ptr<TableFile>(new (std::nothrow) TableFile);
    if (!parsed || !parseTableFile(file.data, file.size, e.material, kind, *parsed)) {
        printTo(stderr, "Corrupted table.\n");
        unmapFile(file);
        state.store(PART_BROKEN, std::memory_order_release);
        return nullptr;
    }
    (wdl ? e.wdl : e.dtz) = std::move(parsed);
    state.store(PART_READY, std::memory_order_release);
    return wdl ? e.wdl.get() : e.dtz.get();
}
