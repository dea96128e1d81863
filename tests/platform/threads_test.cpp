// The wake-up signal between the input reader and the main thread, and the
// monotonic clock.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/clock.h"
#include "platform/threads.h"

namespace {

// Runs wake.wait() on a helper thread; whether it returned within five
// seconds. When it did not, the signal is raised again so that the helper
// ends and the test can still finish (and fail) cleanly.
bool waitReturnsInTime(WakeSignal& wake) {
    std::atomic<bool> returned{false};
    Thread waiter;
    waiter.start([&] {
        wake.wait();
        returned.store(true);
    });
    for (int ms = 0; ms < 5000 && !returned.load(); ms += 5) sleepMilliseconds(5);
    bool inTime = returned.load();
    if (!inTime) wake.raise();
    waiter.join();
    return inTime;
}

// A raise with nobody waiting must be kept: the main thread checks the queue,
// finds it empty, and only then waits; a line queued in between must wake it.
TEST(WakeSignal, RaiseBeforeWaitIsNotLost) {
    WakeSignal wake;
    wake.raise();
    EXPECT_TRUE(waitReturnsInTime(wake)) << "a raise before the wait was lost";
}

// The signal is one bit: two raises before a wait wake one wait only, so the
// next wait blocks until the next raise.
TEST(WakeSignal, WaitConsumesTheRaise) {
    WakeSignal wake;
    wake.raise();
    wake.raise();
    ASSERT_TRUE(waitReturnsInTime(wake));
    std::atomic<bool> returned{false};
    Thread waiter;
    waiter.start([&] {
        wake.wait();
        returned.store(true);
    });
    sleepMilliseconds(100);
    EXPECT_FALSE(returned.load()) << "a second wait returned without a raise";
    // The raise while it waits wakes it; raise again until it has returned,
    // so that a lost wake-up fails the test instead of hanging it.
    wake.raise();
    for (int ms = 0; ms < 5000 && !returned.load(); ms += 5) sleepMilliseconds(5);
    EXPECT_TRUE(returned.load()) << "a raise during the wait was lost";
    while (!returned.load()) {
        wake.raise();
        sleepMilliseconds(5);
    }
    waiter.join();
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
