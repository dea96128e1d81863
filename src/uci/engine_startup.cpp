#include "uci/engine_startup.h"

#include "board/bitboard.h"
#include "board/sliding_attacks.h"
#include "book/opening_book.h"
#include "control/think.h"
#include "control/thread_pool.h"
#include "core/engine_state.h"
#include "core/options.h"
#include "eval/eval_styles.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/network/network_manager.h"
#include "eval/special_material.h"
#include "mcts/node_store.h"
#include "mcts/tree_output.h"
#include "search/periodic_check.h"
#include "search/search_session.h"
#include "search/search_tables.h"
#include "search/search_thread.h"
#include "tablebase/tablebase_registry.h"
#include "tt/hash_file.h"
#include "tt/transposition_table.h"
#include "uci/command_loop.h"
#include "uci/option_table.h"

void installEngineHooks() {
    onHashResize = [](int mb) { resizeTTFromOption(mb, searching.load() != 0); };
    onHashClear = [] { transpositionTable.clear(); };
    onHashSave = saveHashToFile;
    onHashLoad = loadHashFromFile;
    onWeightsFileChange = loadNetwork;
    onBookFileChange = reopenBook;
    onSyzygyPathChange = [] { initTablebases(syzygyPath); };
    largestTablebase = [] { return tbLargest; };
    processQueuedInput = processOneCommand;
    reportMonteCarloProgress = reportTreeProgress;
    onMctsHashResize = resizeNodeStore;
    shutDownBeforeExit = shutDownEngine;
}

void startUpEngine() {
    installEngineHooks();
    buildRandomSeed();
    fillPowerTables();
    seedSearchRandom();
    initSlidingAttacks();
    fillRule50Scale();
    // One search thread until "Threads" says otherwise.
    activeThreads = 1;

    initRayTables();
    // The default book, when there is one (usually there is not).
    reopenBook();
    buildOptionTable();
    initSearchTables();
    // Evaluation tables: weights, special material table, the KPK bitbase,
    // then the tablebases ("SyzygyPath" is empty at start, so none yet) and
    // the thread pool for one thread (thread 0's material and pawn hash).
    // Then the transposition table and the network, in that order.
    initMaterialWeights();
    applyEvaluationSettings();
    buildSpecialMaterialTable();
    buildKpkBitbase();
    initTablebases(syzygyPath);
    // The Monte-Carlo node store waits for the first tree search.
    resizeThreads();
    if (hashSizeMb > 0) {
        transpositionTable.resize(hashSizeMb);
        hashAllocatedMb = hashSizeMb;
    }
    loadNetwork();
}
