// The UCI option table: one flat row per option, kept in creation order because
// the "uci" answer lists the options in that order. Lookups ignore letter case
// because front-ends disagree on the capitalisation of names.
#include "uci/option_table.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "control/strength_level.h"
#include "core/options.h"
#include "core/output.h"
#include "eval/eval_styles.h"

void (*onHashResize)(int mb) = nullptr;
void (*onHashClear)() = nullptr;
void (*onHashSave)() = nullptr;
void (*onHashLoad)() = nullptr;
void (*onBookFileChange)() = nullptr;
void (*onSyzygyPathChange)() = nullptr;
int (*largestTablebase)() = nullptr;
bool (*onMctsHashResize)(int mb) = nullptr;
void (*onWeightsFileChange)() = nullptr;

int32_t hashAllocatedMb = 0;

namespace {

enum class OptionType { Spin, Check, Combo, Button, String };

// A callback gets the parsed number (spin, check) or the text (string, combo);
// a button gets neither. It replaces the plain store, so it must store itself.
using OptionCallback = void (*)(int32_t number, const std::string& text);

struct OptionRow {
    std::string name;
    OptionType type;
    int32_t* number = nullptr;    // spin and check (check holds 0 or 1)
    std::string* text = nullptr;  // string and combo
    int32_t defaultNumber = 0;
    std::string defaultText{};
    int32_t min = 0, max = 0;
    std::vector<std::string> vars{};  // allowed combo values, in listing order
    OptionCallback onSet = nullptr;
};

std::vector<OptionRow> optionRows;

// ---- Callbacks -------------------------------------------------------------

void reportProbeLimit() {
    int largest = largestTablebase ? largestTablebase() : 0;
    printOut("info string Probing tablebases up to %d-man.\n", std::min(syzygyProbeLimit, largest));
}

void setHash(int32_t mb, const std::string&) {
    hashSizeMb = mb;
    // The same size again (perhaps written differently) is a request for a
    // fresh table, which a clear gives without the cost of reallocating.
    if (mb > 0 && mb == hashAllocatedMb) {
        if (onHashClear) onHashClear();
        return;
    }
    if (onHashResize) onHashResize(mb);
    if (mb > 0) {
        printOut("info string Hash table size is now %d meg\n", mb);
        hashAllocatedMb = mb;
    } else {
        hashAllocatedMb = 0;  // released, nothing built
    }
}

void clearHash(int32_t, const std::string&) {
    if (onHashClear) onHashClear();
    printOut("info string Clearing Hash\n");
}

void saveHash(int32_t, const std::string&) {
    if (onHashSave) onHashSave();
}

void loadHash(int32_t, const std::string&) {
    if (onHashLoad) onHashLoad();
}

void setBookFile(int32_t, const std::string& name) {
    bookFile = name;
    printOut("info string Book file is %s\n", name.c_str());
    if (onBookFileChange) onBookFileChange();
}

// "<empty>" is how the option shows an empty text, so a front-end that echoes
// it back means "no log".
void setLogFileOption(int32_t, const std::string& name) {
    logFileName = name == "<empty>" ? std::string() : name;
    setLogFile(logFileName);
}

void setSyzygyPath(int32_t, const std::string& path) {
    syzygyPath = path;
    if (onSyzygyPathChange) onSyzygyPathChange();
    syzygyProbeLimit = std::clamp(syzygyProbeLimit, 0, 7);
    reportProbeLimit();
}

void setSyzygyProbeLimit(int32_t limit, const std::string&) {
    syzygyProbeLimit = std::clamp(limit, 0, 7);
    reportProbeLimit();
}

// A size the machine cannot provide keeps the old store, and the option
// keeps its old value with it.
void setMctsHash(int32_t mb, const std::string&) {
    if (mb > 0 && onMctsHashResize && !onMctsHashResize(mb)) {
        printOut("info string MCTS Hash of %d meg cannot be allocated, keeping %d meg\n", mb, mctsHashMb);
        return;
    }
    mctsHashMb = mb;
    if (mb > 0) printOut("info string MCTS Hash table size is now %d meg\n", mb);
}

// "<empty>", the listed default that front-ends echo back, means no file.
void setWeightsFile(int32_t, const std::string& name) {
    weightsFile = name == "<empty>" ? std::string() : name;
    if (onWeightsFileChange) onWeightsFileChange();
}

// The evaluation's weights are rebuilt at the next search, never under
// searching threads.
void setKingSafety(int32_t value, const std::string&) {
    kingSafety = value;
    evaluationSettingsChanged.store(true);
}

void setPersonality(int32_t, const std::string& name) {
    personality = name;
    evaluationSettingsChanged.store(true);
}

void setUciElo(int32_t elo, const std::string&) {
    uciElo = std::clamp(elo, 0, 3500);
    configuredStrengthLevel = uciElo / 100;
    currentStrengthLevel = uciElo / 100;
}

void setUciOpponent(int32_t, const std::string& name) {
    uciOpponent = name;
    printOut("info string BUCI_Opponent is %s\n", name.c_str());
}

// ---- Row builders ----------------------------------------------------------

void addSpin(const char* name, int32_t* var, int32_t def, int32_t min, int32_t max,
             OptionCallback onSet = nullptr) {
    optionRows.push_back({.name = name,
                          .type = OptionType::Spin,
                          .number = var,
                          .defaultNumber = def,
                          .min = min,
                          .max = max,
                          .onSet = onSet});
}

void addCheck(const char* name, int32_t* var, bool def) {
    optionRows.push_back({.name = name, .type = OptionType::Check, .number = var, .defaultNumber = def});
}

void addString(const char* name, std::string* var, const char* def, OptionCallback onSet = nullptr) {
    optionRows.push_back(
        {.name = name, .type = OptionType::String, .text = var, .defaultText = def, .onSet = onSet});
}

void addCombo(const char* name, std::string* var, const char* def, std::vector<std::string> vars,
              OptionCallback onSet = nullptr) {
    optionRows.push_back({.name = name,
                          .type = OptionType::Combo,
                          .text = var,
                          .defaultText = def,
                          .vars = std::move(vars),
                          .onSet = onSet});
}

void addButton(const char* name, OptionCallback onSet) {
    optionRows.push_back({.name = name, .type = OptionType::Button, .onSet = onSet});
}

// ---- Helpers ---------------------------------------------------------------

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

OptionRow* findRow(const std::string& name) {
    auto it = std::find_if(optionRows.begin(), optionRows.end(),
                           [&](const OptionRow& row) { return equalsIgnoreCase(row.name, name); });
    return it == optionRows.end() ? nullptr : &*it;
}

const char* typeName(OptionType type) {
    switch (type) {
        case OptionType::Spin:
            return "spin";
        case OptionType::Check:
            return "check";
        case OptionType::Combo:
            return "combo";
        case OptionType::Button:
            return "button";
        case OptionType::String:
            return "string";
    }
    return "";
}

// Text shown in the "uci" answer; also what setoption compares against, so a
// value written exactly as shown is a no-op while "0256" for 256 is not.
std::string shownText(const OptionRow& row) {
    switch (row.type) {
        case OptionType::Spin:
            return std::to_string(*row.number);
        case OptionType::Check:
            return *row.number ? "true" : "false";
        case OptionType::String:
            return row.text->empty() ? "<empty>" : *row.text;
        case OptionType::Combo:
            return std::find(row.vars.begin(), row.vars.end(), *row.text) != row.vars.end() ? *row.text
                                                                                            : "<invalid>";
        case OptionType::Button:
            break;
    }
    return "<none>";
}

// Base-10 reading as strtol does it (leading blanks and a sign allowed, stops at
// the first non-digit, no digits gives 0), saturated to the 32-bit range.
int32_t parseDecimal(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

int32_t parseCheck(const std::string& text) {
    if (equalsIgnoreCase(text, "true")) return 1;
    if (equalsIgnoreCase(text, "false")) return 0;
    return parseDecimal(text) != 0 ? 1 : 0;
}

std::string optionLine(const OptionRow& row) {
    std::string line = "option name " + row.name + " type " + typeName(row.type);
    if (row.type != OptionType::Button) line += " default " + shownText(row);
    if (row.type == OptionType::Spin) {
        line += " min " + std::to_string(row.min) + " max " + std::to_string(row.max);
    }
    for (const std::string& var : row.vars) line += " var " + var;
    return line + "\n";
}

}  // namespace

void buildOptionTable() {
    optionRows.clear();
    addSpin("NUMA Offset", &numaOffset, 0, -1, 32);
    addSpin("Threads", &threadsOption, 1, 1, 256);
    addCheck("Ponder", &ponderOption, true);
    addSpin("Hash", &hashSizeMb, 256, 1, 524288, setHash);
    addButton("Clear Hash", clearHash);
    addSpin("Table Memory", &tableMemoryMb, 64, 1, 1024);
    addSpin("MultiPV", &multiPV, 1, 1, 218);
    addCheck("OwnBook", &ownBook, true);
    addString("Book File", &bookFile, "orrery.bin", setBookFile);
    addSpin("Book Moves", &bookMoves, 1000, 0, 1000);
    addCheck("Best Book Line", &bestBookLine, false);
    addString("Log File", &logFileName, "", setLogFileOption);
    addString("Hash File Name", &hashFileName, "");
    addButton("Save Hash to File", saveHash);
    addButton("Load Hash from File", loadHash);
    addCheck("UCI_Chess960", &chess960, false);
    addCheck("UCI_AnalyseMode", &analyseMode, false);
    addCheck("Use LMR", &useLMR, true);
    addCheck("Null Move Pruning", &nullMovePruning, true);
    addSpin("Overhead ms", &overheadMs, 50, 0, 10000);
    addSpin("Time Usage", &timeUsage, 0, -90, 90);
    addCheck("Use Syzygy", &useSyzygy, true);
    addString("SyzygyPath", &syzygyPath, "", setSyzygyPath);
    addSpin("Syzygy Probe Depth", &syzygyProbeDepth, 1, 0, 99);
    addSpin("Syzygy Probe Limit", &syzygyProbeLimit, 6, 0, 7, setSyzygyProbeLimit);
    addCheck("Syzygy 50 Move Rule", &syzygy50MoveRule, true);
    addCheck("Smart Syzygy", &smartSyzygy, false);
    addSpin("King Safety", &kingSafety, 83, 0, 200, setKingSafety);
    addSpin("Selectivity", &selectivity, 130, 10, 250);
    addSpin("Reduction", &reductionOption, -20, -80, 400);
    addSpin("Dynamism", &dynamism, 100, 0, 400);
    addSpin("Contempt", &contempt, 20, -250, 250);
    addCheck("White Contempt", &whiteContempt, false);
    addSpin("NNUE_Scale", &nnueScale, 72, 10, 500);
    addCheck("Use Regular Eval", &useRegularEval, false);
    addSpin("MCTS Hash", &mctsHashMb, 128, 32, 32768, setMctsHash);
    addCheck("Use MCTS", &useMCTS, false);
    addSpin("MCTS Explore", &mctsExplore, 40, 15, 500);
    addSpin("MCTS Explore Root", &mctsExploreRoot, 60, 15, 500);
    addSpin("MCTS Optimism", &mctsOptimism, 10, -50, 50);
    addString("WeightsFile", &weightsFile, "", setWeightsFile);
    addCombo("Personality", &personality, "Default",
             {"Default", "Aggressive", "Defensive", "Active", "Positional", "Endgame", "Beginner", "Human"},
             setPersonality);
    addCombo("Armageddon", &armageddon, "Off", {"Off", "White Must Win", "Black Must Win"});
    addSpin("Variety", &variety, 0, 0, 100);
    addSpin("UCI Elo", &uciElo, 3500, 1, 3500, setUciElo);
    addCheck("UCI LimitStrength", &limitStrength, false);
    addCheck("Auto Skill", &autoSkill, false);
    addSpin("Skill Time", &skillTime, 1, 0, 10);
    addString("UCI_Opponent", &uciOpponent, "", setUciOpponent);

    // Defaults go straight into the variables; callbacks are for changes made
    // by the front-end (start-up builds the hash table and opens files itself).
    for (const OptionRow& row : optionRows) {
        if (row.number) *row.number = row.defaultNumber;
        if (row.text) *row.text = row.defaultText;
    }
}

void printUciOptions() {
    for (const OptionRow& row : optionRows) printOut("%s", optionLine(row).c_str());
}

SetOptionResult setOption(const std::string& name, const std::string& valueText) {
    OptionRow* row = findRow(name);
    if (!row) return {false, false};
    if (valueText == shownText(*row)) return {true, false};

    switch (row->type) {
        case OptionType::Button:
            if (row->onSet) row->onSet(0, valueText);
            break;
        case OptionType::Check: {
            int32_t on = parseCheck(valueText);
            if (row->onSet) {
                row->onSet(on, valueText);
            } else {
                *row->number = on;
            }
            break;
        }
        case OptionType::Spin: {
            // Callbacks see the value unclamped: "Hash" must be free to request
            // any size, and the others clamp to their own limits.
            int32_t value = parseDecimal(valueText);
            if (row->onSet) {
                row->onSet(value, valueText);
            } else {
                *row->number = std::clamp(value, row->min, row->max);
            }
            break;
        }
        case OptionType::String:
            if (row->onSet) {
                row->onSet(0, valueText);
            } else {
                *row->text = valueText;
            }
            break;
        case OptionType::Combo:
            // Only an exact listed value counts; anything else is dropped silently
            // (still reported as a change, like every value that differs).
            if (std::find(row->vars.begin(), row->vars.end(), valueText) == row->vars.end()) break;
            if (row->onSet) {
                row->onSet(0, valueText);
            } else {
                *row->text = valueText;
            }
            break;
    }
    // The evaluation caches never take more than the transposition table.
    if (tableMemoryMb > hashSizeMb) tableMemoryMb = hashSizeMb;
    return {true, true};
}

std::string optionValueText(const std::string& name) {
    const OptionRow* row = findRow(name);
    return row ? shownText(*row) : std::string();
}
