// The few threading tools the engine needs, kept small so the rest of the
// code does not depend on how the platform spells them.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using Mutex = std::mutex;
using MutexLock = std::lock_guard<std::mutex>;

// A thread that runs one function and must be joined before it is destroyed.
class Thread {
  public:
    // Starts `body` on a new thread. Must not be running already.
    void start(std::function<void()> body);
    // Waits for the thread to finish; does nothing if it was never started or
    // is already joined.
    void join();
    // Whether the thread was started and not yet joined.
    bool joinable() const { return handle.joinable(); }
    // Whether the caller is this thread (a thread cannot join itself).
    bool isCurrent() const { return handle.get_id() == std::this_thread::get_id(); }

  private:
    std::thread handle;
};

// A one-bit wake-up call between two threads: raise() sets the ready flag and
// wakes a waiter; wait() blocks until the flag is set, then clears it. A
// raise() with nobody waiting is kept until the next wait(), so a wake-up
// cannot be lost between a check and the wait.
class WakeSignal {
  public:
    void raise();
    void wait();

  private:
    std::mutex mutex;
    std::condition_variable condition;
    int ready = 0;
};

void sleepMilliseconds(int milliseconds);

// Lets another thread run before the caller goes on (a short busy wait).
void yieldThread();
