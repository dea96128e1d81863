// Runs the real engine binary as a child process and talks to it over pipes,
// the way a chess front-end does. Every wait has a timeout, so an engine that
// hangs fails the test instead of blocking it.
//
//   EngineProcess engine;
//   ASSERT_TRUE(engine.start());
//   engine.send("isready");
//   EXPECT_TRUE(engine.waitForLine("readyok"));
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class EngineProcess {
  public:
    static constexpr int DEFAULT_TIMEOUT_MS = 10000;
    // How long a search may take: sanitizer builds run the protocol tests too.
    static constexpr int SEARCH_TIMEOUT_MS = 120000;

    EngineProcess() = default;
    EngineProcess(const EngineProcess&) = delete;
    EngineProcess& operator=(const EngineProcess&) = delete;
    ~EngineProcess() { kill(); }

    // Starts SABLE_BINARY (or `binary`) with the given arguments.
    // Starts the engine with no arguments and waits until the built-in network
    // is loaded, as the search tests need.
    bool startWithNetwork() { return start() && waitForLine("info string embedded NN is loaded"); }

    bool start(const std::vector<std::string>& args = {}, const std::string& binary = SABLE_BINARY) {
        // A child that dies while we write to it must fail the test, not kill it.
        ::signal(SIGPIPE, SIG_IGN);
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0) return false;
        if (pipe2(out, O_CLOEXEC) != 0) return false;
        if (pipe2(err, O_CLOEXEC) != 0) return false;
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(binary.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        toEngine = in[1];
        fromEngine = out[0];
        errorsFromEngine = err[0];
        return true;
    }

    // Sends one line; a newline is added. Returns false if the pipe is closed.
    bool send(const std::string& line) { return sendRaw(line + "\n"); }

    // Sends bytes exactly as given.
    bool sendRaw(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(toEngine, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += size_t(n);
        }
        return true;
    }

    // Closes the engine's standard input (the end of input).
    void closeInput() {
        if (toEngine >= 0) close(toEngine);
        toEngine = -1;
    }

    // The next line of standard output, without its newline, or nothing when
    // the timeout passes or the output ends first.
    std::optional<std::string> readLine(int timeoutMs = DEFAULT_TIMEOUT_MS) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t end = outBuffer.find('\n');
            if (end != std::string::npos) {
                std::string line = outBuffer.substr(0, end);
                outBuffer.erase(0, end + 1);
                lines.push_back(line);
                return line;
            }
            if (!pump(deadline)) return std::nullopt;
        }
    }

    // Reads lines until one satisfies `match`; returns it, or nothing on timeout
    // or end of output. Every line read stays in lines().
    std::optional<std::string> waitFor(const std::function<bool(const std::string&)>& match,
                                       int timeoutMs = DEFAULT_TIMEOUT_MS) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int left =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            std::optional<std::string> line = readLine(left > 0 ? left : 0);
            if (!line) return std::nullopt;
            if (match(*line)) return line;
        }
    }

    // Reads lines until one equals `text` exactly.
    bool waitForLine(const std::string& text, int timeoutMs = DEFAULT_TIMEOUT_MS) {
        return waitFor([&](const std::string& l) { return l == text; }, timeoutMs).has_value();
    }

    // Reads lines until one starts with `prefix`; returns that line.
    std::optional<std::string> waitForPrefix(const std::string& prefix, int timeoutMs = DEFAULT_TIMEOUT_MS) {
        return waitFor([&](const std::string& l) { return l.compare(0, prefix.size(), prefix) == 0; },
                       timeoutMs);
    }

    // Waits for the process to end. Returns its exit status, 128 + the signal
    // number when a signal killed it, or -1 when it is still running after the
    // timeout. Output keeps being collected meanwhile, so a child blocked on a
    // full pipe cannot stall the wait.
    int waitForExit(int timeoutMs = DEFAULT_TIMEOUT_MS) {
        if (pid <= 0) return exitStatus;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                pid = -1;
                exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                drainAfterExit();
                return exitStatus;
            }
            if (Clock::now() >= deadline) return -1;
            if (!pump(std::min(deadline, Clock::now() + std::chrono::milliseconds(20)))) usleep(5000);
        }
    }

    // Whether the process is still running (collects its status if it ended).
    bool running() { return pid > 0 && waitForExit(0) == -1; }

    // Sends a signal to the process.
    bool sendSignal(int number) { return pid > 0 && ::kill(pid, number) == 0; }

    // Everything the engine wrote to standard error so far.
    std::string errorText() {
        pump(Clock::now());
        return errBuffer;
    }

    // Every complete line read from standard output so far.
    const std::vector<std::string>& linesRead() const { return lines; }

    // Sends the lines and returns what the engine prints after them, up to and
    // including "bestmove" (a test failure when that never comes).
    std::vector<std::string> searchLines(const std::vector<std::string>& commands) {
        size_t before = lines.size();
        for (const std::string& c : commands) send(c);
        EXPECT_TRUE(waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS).has_value());
        return std::vector<std::string>(lines.begin() + long(before), lines.end());
    }

    // Kills the process if it still runs and closes the pipes.
    void kill() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
        for (int* fd : {&toEngine, &fromEngine, &errorsFromEngine})
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
    }

  private:
    using Clock = std::chrono::steady_clock;

    // Reads whatever the child has written to either pipe, waiting until
    // `deadline` for something to arrive. Returns false when nothing came
    // (timeout) or both pipes are at their end.
    bool pump(Clock::time_point deadline) {
        for (;;) {
            pollfd fds[2];
            int count = 0;
            if (fromEngine >= 0) fds[count++] = {fromEngine, POLLIN, 0};
            if (errorsFromEngine >= 0) fds[count++] = {errorsFromEngine, POLLIN, 0};
            if (count == 0) return false;
            int left =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            int ready = poll(fds, nfds_t(count), left > 0 ? left : 0);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return false;
            bool gotOutput = false;
            for (int i = 0; i < count; i++) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                bool isOut = fds[i].fd == fromEngine;
                char chunk[4096];
                ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0) {
                    (isOut ? outBuffer : errBuffer).append(chunk, size_t(n));
                    gotOutput |= isOut;
                } else if (n == 0 || errno != EINTR) {
                    close(fds[i].fd);
                    (isOut ? fromEngine : errorsFromEngine) = -1;
                }
            }
            if (gotOutput) return true;
            if (fromEngine < 0) return false;
        }
    }

    // After the exit, takes what is left in the pipes up to their end.
    void drainAfterExit() {
        auto deadline = Clock::now() + std::chrono::seconds(2);
        while ((fromEngine >= 0 || errorsFromEngine >= 0) && Clock::now() < deadline) pump(deadline);
    }

    pid_t pid = -1;
    int exitStatus = -1;
    int toEngine = -1, fromEngine = -1, errorsFromEngine = -1;
    std::string outBuffer, errBuffer;
    std::vector<std::string> lines;
};
