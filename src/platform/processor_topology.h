// Where search threads run: the machine's NUMA nodes, cores and logical
// processors, the node each search thread is given, and binding the calling
// thread to the processors of one node.
//
// With many threads, keeping each one on a fixed node keeps its tables in
// that node's memory. The assignment fills every node's physical cores
// first, then hands out the second logical processors of SMT cores in turn.
#pragma once

#include <bitset>
#include <cstdint>

// Enough for any machine the engine meets; larger processor numbers are ignored.
constexpr int MAX_LOGICAL_PROCESSORS = 1024;
constexpr int MAX_NUMA_NODES = 64;
// Only search-thread indices are ever looked up, and there are at most 256.
constexpr int MAX_NODE_LIST = 256;

using ProcessorSet = std::bitset<MAX_LOGICAL_PROCESSORS>;

// What the node assignment needs to know about a machine. Nodes are numbered
// 0 .. nodeCount - 1 in the order of the system's own node numbers, which
// nodeIds holds (they need not be contiguous).
struct ProcessorTopology {
    int nodeCount = 0;
    int coreCount = 0;
    int logicalCount = 0;
    int nodeIds[MAX_NUMA_NODES] = {};
    ProcessorSet nodeProcessors[MAX_NUMA_NODES];
};

// The node of each search-thread index, in index order.
struct NumaNodeList {
    int count = 0;
    int16_t node[MAX_NODE_LIST] = {};
};

// Builds the assignment: for each node n >= firstNode, n appears
// coreCount / nodeCount times; then the extra logical processors (logical
// minus cores) follow, alternating over all nodes (j mod nodeCount). A
// topology without nodes gives an empty list.
NumaNodeList buildNumaNodeList(const ProcessorTopology& topology, int firstNode);

// The node of thread `index`, or -1 when the list does not reach it.
int numaNodeForThread(const NumaNodeList& list, int index);

// Parses a Linux processor list such as "0-7,16-23" into a set. Returns false
// (and leaves what was parsed so far) on malformed text.
bool parseProcessorList(const char* text, ProcessorSet& out);

// Reads the topology under `systemDir` (normally /sys/devices/system): the
// node*/cpulist files give the nodes and their processors, cpu/online the
// logical processors, and each cpu*/topology/thread_siblings_list the
// processors sharing a core. Missing files leave the counts at 0, which
// means "bind nothing".
ProcessorTopology readProcessorTopology(const char* systemDir = "/sys/devices/system");

// Restricts the calling thread to the processors of node `node` (an index
// into the topology). Returns false when the node is unknown or the system
// refuses; the thread then stays unbound.
bool bindCurrentThreadToNode(const ProcessorTopology& topology, int node);
