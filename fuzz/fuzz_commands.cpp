// Fuzz target: the command processor, fed one input line at a time as the
// input reader would queue it.
//
// Lines whose documented answer is to end the process ("quit", "position"
// with an unknown word, a FEN with a bad side-to-move letter) are left out, as
// are commands that touch files or allocate large tables; "go" lines go
// through the parser only, so that a search never starts here.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board/bitboard.h"
#include "board/sliding_attacks.h"
#include "control/search_limits.h"
#include "uci/command_loop.h"
#include "uci/option_table.h"

namespace {

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == '\n' || c == '\r' || c == '\f' || c == '\0') break;
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else
            word += c;
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Whether the processor may run this line here.
bool safeToRun(const std::string& line, const std::vector<std::string>& w) {
    if (w.empty()) return true;
    if (lineEndsInput(line)) return false;
    const std::string& command = w[0];
    if (command == "position") {
        if (w.size() < 2) return true;
        if (w[1] != "fen" && w[1] != "startpos") return false;
        if (w[1] == "fen" && w.size() >= 4 && (w[2].size() > 200 || (w[3][0] != 'w' && w[3][0] != 'b')))
            return false;
    }
    if (command == "perft") return w.size() < 2 || std::strtoll(w[1].c_str(), nullptr, 10) <= 2;
    if (command == "setoption") {
        std::string l = lower(line);
        for (const char* risky : {"file", "hash", "threads", "table memory", "syzygypath", "weights"})
            if (l.find(risky) != std::string::npos) return false;
    }
    return command != "go";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        std::freopen("/dev/null", "w", stdout);
        initSlidingAttacks();
        initRayTables();
        buildOptionTable();
        ready = true;
    }
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        std::string line = input.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? input.size() + 1 : end + 1;
        std::vector<std::string> words = splitWords(line);
        if (!words.empty() && words[0] == "go") {
            std::vector<char*> tokens;
            for (std::string& word : words) tokens.push_back(word.data());
            SearchLimits limits;
            parseGoTokens(tokens.data() + 1, int(tokens.size()) - 1, limits);
            continue;
        }
        if (!safeToRun(line, words)) continue;
        queueInputLine(line);
        processOneCommand();
    }
    return 0;
}
