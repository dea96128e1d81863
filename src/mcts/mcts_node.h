// One node of the Monte-Carlo tree and the atomic accesses to its fields.
//
// The tree is one array shared by every playout thread (node_store.h). A
// node's statistics change under concurrent playouts, so they are read and
// written through std::atomic_ref; the record itself stays a plain struct,
// which lets the store hand out zeroed memory without constructing anything
// and lets tree reuse move nodes with a copy.
#pragma once

#include <atomic>
#include <cstdint>

#include "board/types.h"

struct alignas(64) MctsNode {
    int32_t firstChild;   // index of the first child; 0 while not expanded (node 0 is the root)
    int32_t nextSibling;  // index of the next child of the same parent; 0 for the last
    // Sum of the results backed up through the node, each a win probability
    // for the player who made the move leading here.
    double valueSum;
    // Weight of those results: 1 per finished playout, plus a virtual loss
    // of MCTS_VIRTUAL_LOSS_WEIGHT while a playout is under way below.
    double playouts;
    uint64_t visits;  // finished visits
    Key key;          // position key of the node's position
    uint32_t move;    // the move leading here (0 at the root)
    float prior;      // exploration weight among its siblings (they sum to 1)
    uint8_t busy;     // a thread is expanding the node
    // What selection asks of the move on every visit, worked out once when
    // the node is made (MOVE_CAPTURES, MOVE_GIVES_CHECK).
    uint8_t moveFlags;
};
constexpr uint8_t MOVE_CAPTURES = 1;
constexpr uint8_t MOVE_GIVES_CHECK = 2;

static_assert(sizeof(MctsNode) == 64, "a megabyte of store holds 16384 nodes");

// ---- Atomic field access ------------------------------------------------------

template <typename T>
inline T loadField(T& field) {
    return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}

template <typename T>
inline void storeField(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

// Adds to a floating-point statistic with a compare-and-swap loop, so that
// concurrent playouts never lose each other's updates.
inline void addToField(double& field, double amount) {
    std::atomic_ref<double> ref(field);
    double old = ref.load(std::memory_order_relaxed);
    while (
        !ref.compare_exchange_weak(old, old + amount, std::memory_order_acq_rel, std::memory_order_relaxed)) {
    }
}

// Adds to the visit count; returns the count before the addition.
inline uint64_t addToVisits(MctsNode& node, int64_t amount) {
    return std::atomic_ref<uint64_t>(node.visits).fetch_add(uint64_t(amount), std::memory_order_acq_rel);
}

// Takes the node's expansion lock; false when another thread holds it.
inline bool tryTakeBusy(MctsNode& node) {
    return std::atomic_ref<uint8_t>(node.busy).exchange(1, std::memory_order_acquire) == 0;
}

inline void releaseBusy(MctsNode& node) {
    std::atomic_ref<uint8_t>(node.busy).store(0, std::memory_order_release);
}

inline bool isBusy(MctsNode& node) {
    return loadField(node.busy) != 0;
}

// The node's value for the search's choices (finished and in-flight
// playouts) and for reports (finished visits only).
inline double selectionValue(MctsNode& node) {
    double weight = loadField(node.playouts);
    return weight > 0 ? loadField(node.valueSum) / weight : 0.0;
}

inline double visitValue(MctsNode& node) {
    uint64_t visits = loadField(node.visits);
    return visits > 0 ? loadField(node.valueSum) / double(visits) : 0.0;
}
