#include "uci/engine_startup.h"

#include "board/bitboard.h"
#include "board/sliding_attacks.h"
#include "control/search_globals.h"
#include "control/search_thread.h"
#include "control/thread_pool.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/network/network_manager.h"
#include "eval/special_material.h"
#include "search/search_tables.h"
#include "tt/transposition_table.h"
#include "uci/engine_state.h"
#include "uci/option_table.h"
#include "uci/option_values.h"

void startUpEngine() {
    buildRandomSeed();
    fillPowerTables();
    seedSearchRandom();
    initSlidingAttacks();
    fillRule50Scale();
    // One search thread until "Threads" says otherwise. The Monte-Carlo node
    // store and the thread pool are built here once they exist.
    activeThreads = 1;

    // Values read before the option table exists.
    hashSizeMb = 256;
    nodeLimit = -1;
    // The opening book is opened here once it exists.
    initRayTables();
    buildOptionTable();
    initSearchTables();
    // Evaluation tables: weights, special material table, the KPK bitbase and
    // the thread pool for one thread (thread 0's material and pawn hash).
    // Then the tablebases (once they exist), the transposition table and the
    // built-in network, in that order.
    initMaterialWeights();
    buildSpecialMaterialTable();
    buildKpkBitbase();
    resizeThreads();
    installTTOptionHooks();
    if (hashSizeMb > 0) {
        transpositionTable.resize(hashSizeMb);
        hashAllocatedMb = hashSizeMb;
    }
    loadNetwork();
}
