// The wake-up signal between the input reader and the main thread, and the
// monotonic clock.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/clock.h"
#include "platform/threads.h"

namespace {

// A raise with nobody waiting must be kept: the main thread checks the queue,
// finds it empty, and only then waits; a line queued in between must wake it.
TEST(WakeSignal, RaiseBeforeWaitIsNotLost) {
    WakeSignal wake;
    wake.raise();
    wake.wait();  // returns at once; a lost raise would hang here
    SUCCEED();
}

// Hand-off between two threads, the way reader and command loop use it.
TEST(WakeSignal, EveryHandOffWakesTheOtherThread) {
    WakeSignal toMain, toReader;
    std::atomic<int> counter{0};
    Thread reader;
    reader.start([&] {
        for (int i = 0; i < 1000; i++) {
            counter.fetch_add(1);
            toMain.raise();
            toReader.wait();
        }
    });
    for (int i = 0; i < 1000; i++) {
        toMain.wait();
        EXPECT_EQ(counter.load(), i + 1);
        toReader.raise();
    }
    reader.join();
    reader.join();  // joining twice is harmless
    EXPECT_FALSE(reader.joinable());
}

TEST(Clock, ElapsedTimeIsMonotonicAndInSeconds) {
    EXPECT_LE(programStart, monotonicNanoseconds());
    double before = elapsedSeconds();
    sleepMilliseconds(50);
    double after = elapsedSeconds();
    EXPECT_GE(after - before, 0.045);
    EXPECT_GE(before, 0.0);
}

}  // namespace
