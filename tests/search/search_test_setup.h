// The start-up steps that in-process search tests need: evaluation tables,
// thread 0's hash tables, search tables, the built-in network, a small
// transposition table and the command processor's game.
#pragma once

#include "control/search_thread.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/network/network_manager.h"
#include "eval/special_material.h"
#include "search/search_tables.h"
#include "tt/transposition_table.h"
#include "uci/command_loop.h"
#include "uci/option_values.h"

inline void initSearchTestEngine() {
    initMaterialWeights();
    buildSpecialMaterialTable();
    buildKpkBitbase();
    allocateEvalHashTables(*searchThreads[0]);
    initSearchTables();
    weightsFile.clear();
    loadNetwork();
    transpositionTable.resize(16);
    // The command processor sets up its game on first use; do that now
    // rather than from inside a search's periodic check.
    processOneCommand();
}
