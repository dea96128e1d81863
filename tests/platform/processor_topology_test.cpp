// Processor placement: the node list built from a topology description, the
// Linux processor-list syntax, and the topology read from a fake system
// directory shaped like /sys/devices/system.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/processor_topology.h"

namespace {

ProcessorTopology describe(int nodes, int cores, int logical) {
    ProcessorTopology t;
    t.nodeCount = nodes;
    t.coreCount = cores;
    t.logicalCount = logical;
    return t;
}

// Two nodes, 16 cores, 32 logical processors: the cores of node 0, then
// those of node 1, then the second logical processors alternating.
TEST(PlatformTopology, TwoNodeMachineFillsCoresThenAlternates) {
    NumaNodeList list = buildNumaNodeList(describe(2, 16, 32), 0);
    ASSERT_EQ(list.count, 32);
    for (int i = 0; i < 8; i++) EXPECT_EQ(numaNodeForThread(list, i), 0) << i;
    for (int i = 8; i < 16; i++) EXPECT_EQ(numaNodeForThread(list, i), 1) << i;
    for (int i = 16; i < 32; i++) EXPECT_EQ(numaNodeForThread(list, i), i % 2) << i;
    EXPECT_EQ(numaNodeForThread(list, 32), -1);
    EXPECT_EQ(numaNodeForThread(list, -1), -1);
}

struct NodeListCase {
    const char* name;
    int nodes, cores, logical, firstNode;
    std::vector<int> expected;
};

// The offset skips the cores of the first nodes (not the alternating tail);
// machines without SMT have no tail; uneven core counts round down; a machine
// without node information binds nothing.
const NodeListCase NodeListCases[] = {
    {"OffsetSkipsNodeZeroCores", 2, 4, 8, 1, {1, 1, 0, 1, 0, 1}},
    {"NoSmtNoTail", 2, 4, 4, 0, {0, 0, 1, 1}},
    {"UnevenCoresRoundDown", 3, 7, 7, 0, {0, 0, 1, 1, 2, 2}},
    {"OneNode", 1, 2, 4, 0, {0, 0, 0, 0}},
    {"NoNodes", 0, 8, 16, 0, {}},
};

class PlatformTopologyCases : public ::testing::TestWithParam<NodeListCase> {};

TEST_P(PlatformTopologyCases, NodeList) {
    const NodeListCase& c = GetParam();
    NumaNodeList list = buildNumaNodeList(describe(c.nodes, c.cores, c.logical), c.firstNode);
    std::vector<int> got(list.node, list.node + list.count);
    EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Machines, PlatformTopologyCases, ::testing::ValuesIn(NodeListCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The list stops at the largest thread index that can exist.
TEST(PlatformTopology, HugeMachinesAreCappedAtTheThreadLimit) {
    NumaNodeList list = buildNumaNodeList(describe(8, 512, 1024), 0);
    EXPECT_EQ(list.count, MAX_NODE_LIST);
    EXPECT_EQ(numaNodeForThread(list, MAX_NODE_LIST - 1), 3);
}

TEST(PlatformTopology, ProcessorListSyntax) {
    ProcessorSet set;
    ASSERT_TRUE(parseProcessorList("0-3,8,10-11\n", set));
    EXPECT_EQ(set.count(), 7u);
    EXPECT_TRUE(set.test(0) && set.test(3) && set.test(8) && set.test(11));
    EXPECT_FALSE(set.test(4) || set.test(9));
    ProcessorSet empty;
    EXPECT_TRUE(parseProcessorList("\n", empty));
    EXPECT_TRUE(empty.none());
    for (const char* bad : {"x", "3-1", "1,,2", "2-", "1;2"}) {
        ProcessorSet s;
        EXPECT_FALSE(parseProcessorList(bad, s)) << bad;
    }
}

// A fake system directory: two nodes (numbered 0 and 2, as on machines with
// holes), eight logical processors, SMT pairs (0,4) (1,5) (2,6) (3,7).
class PlatformTopologyFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/sable_topology_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        write("node/node0/cpulist", "0-1,4-5\n");
        write("node/node2/cpulist", "2-3,6-7\n");
        write("node/possible", "0,2\n");
        write("cpu/online", "0-7\n");
        for (int cpu = 0; cpu < 8; cpu++) {
            int core = cpu % 4;
            write("cpu/cpu" + std::to_string(cpu) + "/topology/thread_siblings_list",
                  std::to_string(core) + "," + std::to_string(core + 4) + "\n");
        }
    }

    void TearDown() override {
        std::string command = "rm -rf '" + root + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    void write(const std::string& relative, const std::string& text) {
        std::string path = root + "/" + relative;
        for (size_t at = path.find('/', root.size() + 1); at != std::string::npos;
             at = path.find('/', at + 1))
            mkdir(path.substr(0, at).c_str(), 0755);
        FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr) << path;
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }

    std::string root;
};

TEST_F(PlatformTopologyFiles, ReadsNodesCoresAndLogicalProcessors) {
    ProcessorTopology t = readProcessorTopology(root.c_str());
    EXPECT_EQ(t.nodeCount, 2);
    EXPECT_EQ(t.nodeIds[0], 0);
    EXPECT_EQ(t.nodeIds[1], 2);
    EXPECT_EQ(t.coreCount, 4);
    EXPECT_EQ(t.logicalCount, 8);
    EXPECT_EQ(t.nodeProcessors[1].count(), 4u);
    EXPECT_TRUE(t.nodeProcessors[1].test(6));
    NumaNodeList list = buildNumaNodeList(t, 0);
    std::vector<int> got(list.node, list.node + list.count);
    EXPECT_EQ(got, (std::vector<int>{0, 0, 1, 1, 0, 1, 0, 1}));
}

TEST_F(PlatformTopologyFiles, MissingFilesMeanNoBinding) {
    ProcessorTopology t = readProcessorTopology((root + "/absent").c_str());
    EXPECT_EQ(t.nodeCount, 0);
    EXPECT_EQ(buildNumaNodeList(t, 0).count, 0);
    EXPECT_FALSE(bindCurrentThreadToNode(t, 0));
}

// On this machine: binding a thread to a node it can run on succeeds, and
// the thread then runs only on that node's processors.
TEST(PlatformTopology, BindsAThreadToARealNode) {
    ProcessorTopology t = readProcessorTopology();
    if (t.nodeCount == 0) GTEST_SKIP() << "no NUMA information on this machine";
    bool bound = false;
    std::thread([&] {
        bound = bindCurrentThreadToNode(t, 0);
        if (!bound) return;
        cpu_set_t mask;
        CPU_ZERO(&mask);
        ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
        for (int cpu = 0; cpu < CPU_SETSIZE && cpu < MAX_LOGICAL_PROCESSORS; cpu++)
            if (CPU_ISSET(cpu, &mask)) {
                EXPECT_TRUE(t.nodeProcessors[0].test(size_t(cpu))) << cpu;
            }
    }).join();
    if (!bound) GTEST_SKIP() << "the system refused the binding (restricted processor set)";
}

}  // namespace
