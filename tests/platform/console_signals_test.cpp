// Console signals: they raise a flag instead of killing the process, and a
// signal that hits a blocked read loses none of the input.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/console_signals.h"
#include "uci/command_loop.h"

namespace {

TEST(ConsoleSignals, SignalsOnlyRaiseTheFlag) {
    installConsoleSignalHandlers();
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        consoleClosed.store(false);
        ASSERT_EQ(raise(sig), 0);
        EXPECT_TRUE(consoleClosed.load()) << sig;
    }
    consoleClosed.store(false);
}

TEST(ConsoleSignals, AClosedOutputPipeIsAnErrorNotDeath) {
    installConsoleSignalHandlers();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    errno = 0;
    EXPECT_EQ(write(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(fds[1]);
}

// A signal arriving while the reader waits in the middle of a line: the line
// still comes out whole.
TEST(ConsoleSignals, BlockedReadSurvivesASignal) {
    installConsoleSignalHandlers();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* in = fdopen(fds[0], "r");
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(write(fds[1], "hel", 3), 3);

    std::string line;
    bool truncated = true, gotLine = false;
    std::thread reader([&] { gotLine = readInputLine(in, line, truncated); });
    usleep(100 * 1000);
    pthread_kill(reader.native_handle(), SIGINT);
    usleep(100 * 1000);
    ASSERT_EQ(write(fds[1], "lo\nrest", 7), 7);
    reader.join();
    EXPECT_TRUE(gotLine);
    EXPECT_EQ(line, "hello");
    EXPECT_FALSE(truncated);

    close(fds[1]);
    EXPECT_TRUE(readInputLine(in, line, truncated));  // a last line without newline counts
    EXPECT_EQ(line, "rest");
    EXPECT_FALSE(readInputLine(in, line, truncated));
    std::fclose(in);
    consoleClosed.store(false);
}

TEST(ReadInputLine, LongLinesAreCutAndFlagged) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* in = fdopen(fds[0], "r");
    std::string input = std::string(MAX_LINE_LENGTH, 'a') + "b\n" + std::string(MAX_LINE_LENGTH, 'c') + "\n";
    std::thread writer([&] {
        ASSERT_EQ(write(fds[1], input.data(), input.size()), ssize_t(input.size()));
        close(fds[1]);
    });
    std::string line;
    bool truncated = false;
    ASSERT_TRUE(readInputLine(in, line, truncated));
    EXPECT_EQ(line, std::string(MAX_LINE_LENGTH, 'a'));
    EXPECT_TRUE(truncated);
    ASSERT_TRUE(readInputLine(in, line, truncated));
    EXPECT_EQ(line, std::string(MAX_LINE_LENGTH, 'c'));
    EXPECT_FALSE(truncated);
    writer.join();
    std::fclose(in);
}

}  // namespace
