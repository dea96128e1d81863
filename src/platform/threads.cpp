#include "platform/threads.h"

#include <chrono>

void Thread::start(std::function<void()> body) {
    handle = std::thread(std::move(body));
}

void Thread::join() {
    if (handle.joinable()) handle.join();
}

void WakeSignal::raise() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ready = 1;
    }
    condition.notify_one();
}

void WakeSignal::wait() {
    std::unique_lock<std::mutex> lock(mutex);
    condition.wait(lock, [this] { return ready == 1; });
    ready = 0;
}

void sleepMilliseconds(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void yieldThread() {
    std::this_thread::yield();
}
