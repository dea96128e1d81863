// The start-up steps that in-process search tests need: evaluation tables,
// thread 0's hash tables, search tables, the built-in network, a small
// transposition table and the command processor's game.
#pragma once

#include "core/options.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/network/network_manager.h"
#include "eval/special_material.h"
#include "search/history.h"
#include "search/search_session.h"
#include "search/search_state.h"
#include "search/search_tables.h"
#include "search/search_thread.h"
#include "tt/transposition_table.h"
#include "uci/command_loop.h"

// Thread 0 as a fresh search finds it: empty table, histories and search
// state at their start, no stop, no nodes counted, on `iteration`.
inline void resetThreadZeroForSearch(int iteration) {
    SearchThread& thread = *searchThreads[0];
    transpositionTable.clear();
    resetHistoryTable(thread.history);
    resetSearchState();
    thread.stop.store(false);
    thread.nodes.store(0);
    thread.iteration = iteration;
}

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
