// Finding the tables: the forms of "SyzygyPath", the canonical names up to
// seven pieces, incomplete and damaged files, and what each costs the probes.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tablebase/tablebase_probe.h"
#include "tablebase/tablebase_registry.h"
#include "tablebase_test_util.h"

namespace {

class TablebaseRegistry : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initBoardTables(); }
    void TearDown() override { initTablebases(""); }

    // Registers `path` and returns what it printed on standard output.
    static std::string registerPath(const std::string& path) {
        testing::internal::CaptureStdout();
        initTablebases(path);
        return testing::internal::GetCapturedStdout();
    }

    static bool wdlProbeWorks(const char* fen) {
        Position pos = fromFen(fen);
        ProbeResult r;
        probeWdl(pos, &r);
        return r != PROBE_FAILED;
    }
    static bool dtzProbeWorks(const char* fen) {
        Position pos = fromFen(fen);
        ProbeResult r;
        probeDtz(pos, &r);
        return r != PROBE_FAILED;
    }
};

constexpr const char* KQVK_FEN = "8/8/8/4k3/8/8/8/KQ6 w - - 0 1";
constexpr const char* KRVK_FEN = "8/8/8/4k3/8/8/8/KR6 b - - 0 1";

// The separators, empty pieces, missing folders and the order of the
// folders: a table in two folders is read from the first (here the second
// folder's KQvK is damaged, so a probe tells which one was read).
TEST_F(TablebaseRegistry, FoldersOfTheSyzygyPath) {
    ScratchFolder first("first"), second("second");
    for (const char* file : {"KQvK.rtbw", "KQvK.rtbz"})
        first.write(file, readFile(repoTablebaseDir() + "/" + file));
    std::string damaged = readFile(repoTablebaseDir() + "/KQvK.rtbw");
    damaged[0] ^= 0x55;
    second.write("KQvK.rtbw", damaged);
    for (const char* file : {"KRvK.rtbw", "KRvK.rtbz"})
        second.write(file, readFile(repoTablebaseDir() + "/" + file));

    const std::string two = "info string Found 2 WDL and 2 DTZ tablebase files (up to 3-man).\n";
    struct Case {
        std::string path;
        std::string output;
        bool kqvkReadable;
    };
    const Case cases[] = {
        {"", "", false},
        {"<empty>", "", false},
        {"/no/such/folder", "info string Found 0 WDL and 0 DTZ tablebase files (up to 0-man).\n", false},
        {first.path, "info string Found 1 WDL and 1 DTZ tablebase files (up to 3-man).\n", true},
        {first.path + ";" + second.path, two, true},
        {first.path + ":" + second.path, two, true},
        {";" + first.path + ";;/no/such/folder:" + second.path + ";", two, true},
        {second.path + ";" + first.path, two, false},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(registerPath(c.path), c.output) << c.path;
        EXPECT_EQ(tbLargest, c.kqvkReadable || c.output.find("Found 2") != std::string::npos ? 3 : 0)
            << c.path;
        EXPECT_EQ(wdlProbeWorks(KQVK_FEN), c.kqvkReadable) << c.path;
        std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors, c.path.rfind(second.path, 0) == 0 ? "Corrupted table.\n" : "") << c.path;
    }
    EXPECT_EQ(registerPath(""), "");
    EXPECT_EQ(tbLargest, 0);
    EXPECT_FALSE(wdlProbeWorks(KQVK_FEN));
}

// A file whose size is not a whole number of 64-byte blocks plus the 16-byte
// checksum is reported and skipped: without its WDL file a table is not
// registered, without its DTZ file it probes WDL only. DTM files count but
// are never opened.
TEST_F(TablebaseRegistry, IncompleteFilesAndDtmFiles) {
    ScratchFolder dir("incomplete");
    dir.write("KQvK.rtbw", readFile(repoTablebaseDir() + "/KQvK.rtbw").substr(0, 200));
    dir.write("KQvK.rtbz", readFile(repoTablebaseDir() + "/KQvK.rtbz"));
    dir.write("KRvK.rtbw", readFile(repoTablebaseDir() + "/KRvK.rtbw"));
    dir.write("KRvK.rtbz", readFile(repoTablebaseDir() + "/KRvK.rtbz") + "x");
    dir.write("KRvK.rtbm", std::string(80, '\0'));

    testing::internal::CaptureStderr();
    std::string output = registerPath(dir.path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Incomplete tablebase file KQvK.rtbw\nIncomplete tablebase file KRvK.rtbz\n");
    EXPECT_EQ(output,
              "info string Incomplete tablebase file KQvK.rtbw\n"
              "info string Incomplete tablebase file KRvK.rtbz\n"
              "info string Found 1 WDL and 0 DTZ tablebase files (up to 3-man).\n");
    TablebaseCounts counts = tablebaseCounts();
    EXPECT_EQ(counts.dtm, 1);
    EXPECT_EQ(counts.largestDtm, 3);
    EXPECT_FALSE(wdlProbeWorks(KQVK_FEN));
    EXPECT_TRUE(wdlProbeWorks(KRVK_FEN));
    EXPECT_FALSE(dtzProbeWorks(KRVK_FEN));
}

// Every canonical name up to seven pieces is looked for, and nothing else: a
// folder with one plausible file per name finds the complete set of 1511
// tables, and names in another order (the weaker side first) are ignored.
TEST_F(TablebaseRegistry, EveryTableUpToSevenPieces) {
    ScratchFolder dir("names");
    const char letters[] = "QRBNP";
    std::vector<std::string> sides[6];  // sides[n]: n pieces besides the king, strongest first
    sides[0] = {""};
    for (int n = 1; n <= 5; n++)
        for (const std::string& shorter : sides[n - 1])
            for (int i = 0; i < 5; i++)
                if (shorter.empty() || std::string(letters).find(shorter.back()) <= size_t(i))
                    sides[n].push_back(shorter + letters[i]);
    auto stronger = [&](const std::string& a, const std::string& b) {
        for (size_t i = 0; i < a.size() && i < b.size(); i++)
            if (a[i] != b[i]) return std::string(letters).find(a[i]) < std::string(letters).find(b[i]);
        return true;  // the same pieces: a symmetric table
    };
    int expected = 0;
    for (int a = 1; a <= 5; a++)
        for (int b = 0; b <= a && a + b <= 5; b++)
            for (const std::string& first : sides[a])
                for (const std::string& second : sides[b])
                    if (a > b || stronger(first, second)) {
                        dir.write("K" + first + "vK" + second + ".rtbw", std::string(80, '\0'));
                        expected++;
                    }
    ASSERT_EQ(expected, MAX_TABLE_ENTRIES);
    dir.write("KRvKQ.rtbw", std::string(80, '\0'));
    dir.write("KvKQ.rtbw", std::string(80, '\0'));
    EXPECT_EQ(registerPath(dir.path),
              "info string Found 1511 WDL and 0 DTZ tablebase files (up to 7-man).\n");
    EXPECT_EQ(tbLargest, 7);
}

// Damaged files of the right size: each makes the probes that need the file
// fail (with one "Corrupted table." per registration, not per probe) or,
// where only the compressed data is garbage, answer something; none reads
// outside the file (the sanitizer builds check that).
TEST_F(TablebaseRegistry, DamagedTablesFailTheirProbesSafely) {
    struct Damage {
        const char* name;
        const char* table;  // KPvK or KQvK
        bool header;        // the damage is found when the file is opened
        void (*apply)(std::string& file);
    };
    const Damage damages[] = {
        {"wrong magic", "KPvK.rtbw", true, [](std::string& f) { f[1] ^= 1; }},
        {"DTZ magic in a WDL file", "KQvK.rtbw", true,
         [](std::string& f) { f.replace(0, 4, "\xd7\x66\x0c\xa5"); }},
        {"pawn flag on a pawnless table", "KQvK.rtbw", true, [](std::string& f) { f[4] |= 2; }},
        {"another material's pieces", "KQvK.rtbw", true, [](std::string& f) { f[7] = 0x44; }},
        {"order beyond the groups", "KPvK.rtbw", true, [](std::string& f) { f[5] = 0x77; }},
        {"file cut after the headers", "KPvK.rtbw", true, [](std::string& f) { f.resize(1040); }},
        {"huge block count", "KPvK.rtbw", true, [](std::string& f) { f[28] = f[29] = char(0x7f); }},
        {"index span out of range", "KPvK.rtbz", true, [](std::string& f) { f[24] = 0x7f; }},
        {"zeroed data", "KPvK.rtbw", false,
         [](std::string& f) {
             for (size_t i = 1024; i + 16 < f.size(); i++) f[i] = 0;
         }},
        {"random data", "KPvK.rtbz", false,
         [](std::string& f) {
             std::mt19937 rng(3);
             for (size_t i = 512; i + 16 < f.size(); i++) f[i] = char(rng());
         }},
    };
    for (const Damage& d : damages) {
        ScratchFolder dir("damaged");
        std::string table = d.table;
        std::string stem = table.substr(0, 4);
        for (const char* ext : {".rtbw", ".rtbz"}) {
            std::string file = readFile(repoTablebaseDir() + "/" + stem + ext);
            if (stem + ext == table) d.apply(file);
            dir.write(stem + ext, file);
        }
        registerPath(dir.path);
        testing::internal::CaptureStderr();
        std::mt19937_64 rng(11);
        bool wdlTable = table.find(".rtbw") != std::string::npos;
        int failures = 0;
        for (int i = 0; i < 200; i++) {
            Position pos = fromFen(randomTablePosition(stem, rng).c_str());
            ProbeResult r;
            wdlTable ? probeWdl(pos, &r) : probeDtz(pos, &r);
            failures += r == PROBE_FAILED;
        }
        std::string errors = testing::internal::GetCapturedStderr();
        if (d.header) {
            // Draws and pawn moves settle many distances without the file.
            if (wdlTable)
                EXPECT_EQ(failures, 200) << d.name;
            else
                EXPECT_GT(failures, 0) << d.name;
            EXPECT_EQ(errors, "Corrupted table.\n") << d.name;
        }
    }
}

}  // namespace
