#include "platform/worker_processes.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

static std::vector<pid_t> workerIds;

void* allocateSharedMemory(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

int startWorkerProcesses(int count, void (*work)(int)) {
    int started = 0;
    for (int k = 0; k < count; k++) {
        pid_t id = fork();
        if (id == 0) {
            // The worker dies with the default action on SIGTERM, so a stop
            // loses at most what it had not yet written.
            signal(SIGTERM, SIG_DFL);
            signal(SIGINT, SIG_IGN);
            work(k);
            std::_Exit(0);
        }
        if (id > 0) {
            workerIds.push_back(id);
            started++;
        }
    }
    return started;
}

bool workersRunning() {
    for (size_t i = 0; i < workerIds.size();) {
        int status = 0;
        if (waitpid(workerIds[i], &status, WNOHANG) == workerIds[i]) {
            workerIds.erase(workerIds.begin() + long(i));
            continue;
        }
        i++;
    }
    return !workerIds.empty();
}

void stopWorkerProcesses() {
    for (pid_t id : workerIds) kill(id, SIGTERM);
    for (pid_t id : workerIds) waitpid(id, nullptr, 0);
    workerIds.clear();
}

void lowerPriority(int increment) {
    errno = 0;
    int now = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) setpriority(PRIO_PROCESS, 0, now + increment);
}
