#include "platform/processor_topology.h"

#include <dirent.h>
#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

NumaNodeList buildNumaNodeList(const ProcessorTopology& topology, int firstNode) {
    NumaNodeList list;
    int nodes = topology.nodeCount;
    if (nodes <= 0) return list;
    auto append = [&list](int node) {
        if (list.count < MAX_NODE_LIST) list.node[list.count++] = int16_t(node);
    };
    int coresPerNode = topology.coreCount / nodes;
    for (int n = std::max(firstNode, 0); n < nodes; n++)
        for (int k = 0; k < coresPerNode; k++) append(n);
    for (int j = 0; j < topology.logicalCount - topology.coreCount; j++) append(j % nodes);
    return list;
}

int numaNodeForThread(const NumaNodeList& list, int index) {
    return index >= 0 && index < list.count ? list.node[index] : -1;
}

bool parseProcessorList(const char* text, ProcessorSet& out) {
    const char* p = text;
    while (*p && *p != '\n') {
        char* end = nullptr;
        long first = std::strtol(p, &end, 10);
        if (end == p || first < 0) return false;
        long last = first;
        p = end;
        if (*p == '-') {
            last = std::strtol(p + 1, &end, 10);
            if (end == p + 1 || last < first) return false;
            p = end;
        }
        for (long cpu = first; cpu <= last && cpu < MAX_LOGICAL_PROCESSORS; cpu++) out.set(size_t(cpu));
        if (*p == ',')
            p++;
        else if (*p && *p != '\n')
            return false;
    }
    return true;
}

namespace {

// Reads the first line of a small system file into `buffer`; false when the
// file cannot be read.
bool readSmallFile(const char* path, char* buffer, size_t size) {
    FILE* file = std::fopen(path, "r");
    if (!file) return false;
    bool ok = std::fgets(buffer, int(size), file) != nullptr;
    std::fclose(file);
    return ok;
}

bool readProcessorFile(const char* path, ProcessorSet& out) {
    char text[4096];
    return readSmallFile(path, text, sizeof text) && parseProcessorList(text, out);
}

// The system's node numbers (the N of each nodeN directory), ascending.
int listNodeIds(const char* systemDir, int* ids) {
    char path[512];
    std::snprintf(path, sizeof path, "%s/node", systemDir);
    DIR* dir = opendir(path);
    if (!dir) return 0;
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, "node", 4) != 0 || name[4] < '0' || name[4] > '9') continue;
        if (count < MAX_NUMA_NODES) ids[count++] = std::atoi(name + 4);
    }
    closedir(dir);
    std::sort(ids, ids + count);
    return count;
}

}  // namespace

// A core is counted once, at the lowest-numbered processor among its siblings.
ProcessorTopology readProcessorTopology(const char* systemDir) {
    ProcessorTopology topology;
    char path[512];
    int ids[MAX_NUMA_NODES];
    int nodes = listNodeIds(systemDir, ids);
    for (int n = 0; n < nodes; n++) {
        std::snprintf(path, sizeof path, "%s/node/node%d/cpulist", systemDir, ids[n]);
        ProcessorSet processors;
        if (!readProcessorFile(path, processors) || processors.none()) continue;
        topology.nodeIds[topology.nodeCount] = ids[n];
        topology.nodeProcessors[topology.nodeCount++] = processors;
    }

    ProcessorSet online;
    std::snprintf(path, sizeof path, "%s/cpu/online", systemDir);
    if (!readProcessorFile(path, online)) return ProcessorTopology{};
    for (int cpu = 0; cpu < MAX_LOGICAL_PROCESSORS; cpu++) {
        if (!online.test(size_t(cpu))) continue;
        topology.logicalCount++;
        ProcessorSet siblings;
        std::snprintf(path, sizeof path, "%s/cpu/cpu%d/topology/thread_siblings_list", systemDir, cpu);
        if (!readProcessorFile(path, siblings) || siblings.none()) {
            topology.coreCount++;
            continue;
        }
        int lowest = 0;
        while (!siblings.test(size_t(lowest))) lowest++;
        if (lowest == cpu) topology.coreCount++;
    }
    return topology;
}

bool bindCurrentThreadToNode(const ProcessorTopology& topology, int node) {
    if (node < 0 || node >= topology.nodeCount) return false;
    const ProcessorSet& processors = topology.nodeProcessors[node];
    cpu_set_t mask;
    CPU_ZERO(&mask);
    for (int cpu = 0; cpu < MAX_LOGICAL_PROCESSORS && cpu < CPU_SETSIZE; cpu++)
        if (processors.test(size_t(cpu))) CPU_SET(cpu, &mask);
    return sched_setaffinity(0, sizeof mask, &mask) == 0;
}
