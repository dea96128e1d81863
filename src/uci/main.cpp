// Program entry: brings the subsystems up in a fixed order, then runs the mode
// that the first command-line word chooses (UCI by default).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/bench.h"
#include "control/thread_pool.h"
#include "core/engine_state.h"
#include "core/options.h"
#include "core/output.h"
#include "eval/network/network_manager.h"
#include "eval/network_commands.h"
#include "platform/clock.h"
#include "platform/console_signals.h"
#include "uci/command_loop.h"
#include "uci/engine_startup.h"
#include "uci/option_table.h"

// "nndebug", "nneval" and "nntest": developer checks of the evaluation
// pipeline; each runs, releases the network and exits with status 0.
static int runNetworkCommand(int argc, char** argv) {
    if (std::strcmp(argv[1], "nndebug") == 0)
        runNnDebug();
    else if (std::strcmp(argv[1], "nntest") == 0)
        runNnTest();
    else if (argc != 5)
        printTo(stderr, "usage: %s nneval 16|32 file_with_fens output_file\n", argv[0]);
    else
        runNnEval(argv[3], argv[4]);
    releaseNetwork();
    return 0;
}

// "bench [threads [last depth [repetitions]]]": a thread count is taken only
// if it is 1..64; the last depth defaults to 12, the repetitions to 1 (a
// negative count runs nothing, like 0).
static int runBenchMode(int argc, char** argv) {
    if (argc > 2) {
        int requested = std::atoi(argv[2]);
        if (requested >= 1 && requested <= 64) setOption("Threads", std::to_string(requested));
    }
    int lastDepth = argc > 3 ? std::atoi(argv[3]) : 12;
    int repetitions = argc > 4 ? std::atoi(argv[4]) : 1;
    runBench(lastDepth, repetitions);
    requestQuit();
    shutDownEngine();
    return 0;
}

int main(int argc, char** argv) {
    // Before anything can block: Ctrl-C and friends only ask for a clean quit.
    installConsoleSignalHandlers();
    // Answers must reach the front-end the moment they are written.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::fflush(nullptr);
    entryTime = elapsedSeconds();

    benchMode = argc > 1 && std::strcmp(argv[1], "bench") == 0;
    printOut("%s %s %s\n", ENGINE_NAME, ENGINE_VERSION, BANNER_CREDIT);
    printOut("using hardware POPCNT\n");
    startUpEngine();

    if (argc > 1 && (std::strcmp(argv[1], "nndebug") == 0 || std::strcmp(argv[1], "nneval") == 0 ||
                     std::strcmp(argv[1], "nntest") == 0))
        return runNetworkCommand(argc, argv);
    if (benchMode) return runBenchMode(argc, argv);

    startReaderThread();
    commandLoop();
    shutDownEngine();
    return 0;
}
