// Searches magic numbers for rook and bishop attacks with fixed shifts (52 and 55)
// and packs all per-square sub-tables into one shared array, letting them overlap
// wherever the slots they share would hold the same attack set. Prints
// src/board/magic_numbers.h.
//
// Usage: magic_finder [-t TRIES] [-k KEEP] [-s SEED] [OUTPUT]
//   TRIES  random magics tried per square (default 3000000; scaled per square,
//          see jobTries). This is the effort knob: more is slower and packs
//          tighter. The default takes about a minute and a quarter.
//   KEEP   candidates per square tried against the shared array: the KEEP best
//          by score plus a random sample of KEEP more (default 256).
//   SEED   random seed (default 1). The same arguments give the same file.
//   OUTPUT file to write; standard output when absent. Progress goes to stderr.
//
// Method: for each square (largest sub-tables first) draw many sparse random
// magics, keep the valid ones (no two occupancies with different attack sets on
// one index), and place the candidate whose image ends lowest in the shared
// array at the lowest offset where each of its slots is free or already holds
// the same attack set.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using u64 = uint64_t;

constexpr int ROOK_BITS = 12;
constexpr int BISHOP_BITS = 9;

// xorshift64*: small, fast and fully determined by its seed.
struct Rng {
    u64 s;
    u64 next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 2685821657736338717ULL;
    }
    u64 sparse() { return next() & next() & next(); }
};

const int RookDirs[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
const int BishopDirs[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

// Squares reached from sq along the four directions, each ray stopping at the
// first square of occ (included) or at the edge.
u64 slide(int sq, u64 occ, const int (&dirs)[4][2]) {
    u64 result = 0;
    for (const auto& d : dirs) {
        int f = sq % 8 + d[0], r = sq / 8 + d[1];
        while (f >= 0 && f < 8 && r >= 0 && r < 8) {
            u64 b = u64(1) << (f + 8 * r);
            result |= b;
            if (occ & b) break;
            f += d[0];
            r += d[1];
        }
    }
    return result;
}

// The rays without their last square: a piece on the edge square blocks
// nothing further, so its occupancy never changes the attack set.
u64 relevantMask(int sq, const int (&dirs)[4][2]) {
    u64 result = 0;
    for (const auto& d : dirs) {
        int f = sq % 8 + d[0], r = sq / 8 + d[1];
        while (f + d[0] >= 0 && f + d[0] < 8 && r + d[1] >= 0 && r + d[1] < 8) {
            result |= u64(1) << (f + 8 * r);
            f += d[0];
            r += d[1];
        }
    }
    return result;
}

// One square of one piece kind: its occupancy subsets with their attack sets.
struct Job {
    bool rook;
    int sq;
    int shift;
    u64 mask;
    std::vector<u64> subsets;
    std::vector<u64> attacks;
    // Result.
    u64 magic = 0;
    u64 offset = 0;
};

// A candidate magic's image: the used local indices (ascending) and what each holds.
struct Image {
    std::vector<uint32_t> index;
    std::vector<u64> attack;
    uint32_t span = 0;  // highest used index + 1
};

class Searcher {
  public:
    explicit Searcher(int maxSlots) : local_(maxSlots, 0), stamp_(maxSlots, 0) {}

    // Whether magic maps every subset without a destructive collision; if so,
    // span and used describe its image.
    bool check(const Job& job, u64 magic, uint32_t& span, uint32_t& used) {
        nextEpoch();
        uint32_t top = 0;
        used = 0;
        for (size_t i = 0; i < job.subsets.size(); i++) {
            uint32_t idx = uint32_t((job.subsets[i] * magic) >> job.shift);
            if (stamp_[idx] != epoch_) {
                stamp_[idx] = epoch_;
                local_[idx] = job.attacks[i];
                top = std::max(top, idx);
                used++;
            } else if (local_[idx] != job.attacks[i]) {
                return false;
            }
        }
        span = top + 1;
        return true;
    }

    // The image of a magic that passed check().
    void image(const Job& job, u64 magic, Image& img) {
        nextEpoch();
        img.index.clear();
        for (size_t i = 0; i < job.subsets.size(); i++) {
            uint32_t idx = uint32_t((job.subsets[i] * magic) >> job.shift);
            if (stamp_[idx] != epoch_) {
                stamp_[idx] = epoch_;
                local_[idx] = job.attacks[i];
                img.index.push_back(idx);
            }
        }
        std::sort(img.index.begin(), img.index.end());
        img.attack.resize(img.index.size());
        for (size_t i = 0; i < img.index.size(); i++) img.attack[i] = local_[img.index[i]];
        img.span = img.index.back() + 1;
    }

  private:
    void nextEpoch() {
        if (++epoch_ == 0) {
            std::fill(stamp_.begin(), stamp_.end(), 0);
            epoch_ = 1;
        }
    }

    std::vector<u64> local_;
    std::vector<uint32_t> stamp_;
    uint32_t epoch_ = 0;
};

// The shared array being packed. Attack sets are never empty, so 0 marks a free slot.
class Packer {
  public:
    bool fits(const Image& img, size_t offset) const {
        for (size_t i = 0; i < img.index.size(); i++) {
            size_t slot = offset + img.index[i];
            if (slot >= table_.size()) return true;  // everything beyond the end is free
            u64 v = table_[slot];
            if (v != 0 && v != img.attack[i]) return false;
        }
        return true;
    }

    // Lowest offset where img fits and ends before limit; returns SIZE_MAX when none.
    size_t lowestOffset(const Image& img, size_t limit) const {
        // Every image uses its slot 0 (the empty occupancy), and no two squares
        // share an attack set there, so the search starts at the first free slot.
        for (size_t o = firstFree_; o + img.span < limit; o++)
            if (fits(img, o)) return o;
        return SIZE_MAX;
    }

    void place(const Image& img, size_t offset) {
        size_t end = offset + img.span;
        if (end > table_.size()) table_.resize(end, 0);
        for (size_t i = 0; i < img.index.size(); i++) table_[offset + img.index[i]] = img.attack[i];
        while (firstFree_ < table_.size() && table_[firstFree_] != 0) firstFree_++;
    }

    size_t size() const { return table_.size(); }

    size_t used() const {
        return size_t(std::count_if(table_.begin(), table_.end(), [](u64 v) { return v; }));
    }

  private:
    std::vector<u64> table_;
    size_t firstFree_ = 0;
};

std::vector<Job> makeJobs() {
    std::vector<Job> jobs;
    for (int rook = 1; rook >= 0; rook--) {
        for (int sq = 0; sq < 64; sq++) {
            const auto& dirs = rook ? RookDirs : BishopDirs;
            Job job;
            job.rook = rook;
            job.sq = sq;
            job.shift = 64 - (rook ? ROOK_BITS : BISHOP_BITS);
            job.mask = relevantMask(sq, dirs);
            u64 sub = 0;
            do {
                job.subsets.push_back(sub);
                job.attacks.push_back(slide(sq, sub, dirs));
                sub = (sub - job.mask) & job.mask;
            } while (sub);
            jobs.push_back(std::move(job));
        }
    }
    return jobs;
}

std::string squareName(int sq) {
    return std::string{char('a' + sq % 8), char('1' + sq / 8)};
}

std::string hex(u64 v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%016llXULL", (unsigned long long)v);
    return buf;
}

std::string render(const std::vector<Job>& jobs, size_t tableSize, u64 tries, u64 keep, u64 seed) {
    std::ostringstream out;
    out << "// Generated by tools/magic_finder; do not edit by hand. To regenerate:\n"
        << "//   build/tools/magic_finder -t " << tries << " -k " << keep << " -s " << seed
        << " src/board/magic_numbers.h\n"
        << "//\n"
        << "// Magic numbers for the fixed shifts 52 (rooks) and 55 (bishops). The mask is\n"
        << "// the square's relevant occupancy (its rays without the edge squares at their\n"
        << "// ends) and the offset is where the square's sub-table starts in the shared\n"
        << "// attack array; sub-tables overlap only where they hold the same attack sets.\n"
        << "#pragma once\n\n"
        << "#include <cstddef>\n"
        << "#include <cstdint>\n\n"
        << "struct Magic {\n"
        << "    uint64_t magic;\n"
        << "    uint64_t mask;\n"
        << "    uint64_t offset;\n"
        << "};\n\n"
        << "constexpr size_t SLIDING_TABLE_SIZE = " << tableSize << ";\n";
    for (int rook = 1; rook >= 0; rook--) {
        out << "\ninline constexpr Magic " << (rook ? "RookMagic" : "BishopMagic") << "[64] = {\n";
        // Square names as trailing comments, aligned the way clang-format would.
        std::vector<std::pair<std::string, int>> lines;
        size_t width = 0;
        for (const Job& job : jobs) {
            if (job.rook != bool(rook)) continue;
            lines.emplace_back(
                "    {" + hex(job.magic) + ", " + hex(job.mask) + ", " + std::to_string(job.offset) + "},",
                job.sq);
            width = std::max(width, lines.back().first.size());
        }
        for (const auto& [text, sq] : lines)
            out << text << std::string(width - text.size() + 2, ' ') << "// " << squareName(sq) << "\n";
        out << "};\n";
    }
    return out.str();
}

int usage() {
    std::cerr << "usage: magic_finder [-t TRIES] [-k KEEP] [-s SEED] [OUTPUT]\n";
    return 2;
}

// Tuning found by trial: how much a slot of span counts against a used slot
// when ranking candidates, and how the tries are shared out (see jobTries).
constexpr uint64_t SPAN_WEIGHT = 2;
constexpr u64 TRIES_DIV_12 = 8;
constexpr u64 TRIES_MUL_11 = 4;

struct Candidate {
    u64 magic;
    uint32_t span, used;
    // Compact images with few used slots are the easiest to fit.
    uint64_t score() const { return uint64_t(span) * SPAN_WEIGHT + used; }
};

// Random tries spent on one square. Every valid magic of a 12-bit rook square
// fills all 4096 slots, so searching long there gains nothing; the 11-bit rook
// squares are where compact images are rare and worth the time.
u64 jobTries(const Job& job, u64 tries) {
    if (job.subsets.size() == 4096) return tries / TRIES_DIV_12;
    if (job.subsets.size() == 2048) return tries * TRIES_MUL_11;
    return tries;
}

}  // namespace

int main(int argc, char** argv) {
    u64 tries = 3000000, keep = 256, seed = 1;
    std::string output;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if ((arg == "-t" || arg == "-k" || arg == "-s") && i + 1 < argc) {
            char* end = nullptr;
            unsigned long long v = std::strtoull(argv[++i], &end, 10);
            if (*end != '\0' || v == 0) return usage();
            (arg == "-t" ? tries : arg == "-k" ? keep : seed) = v;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage();
        } else if (output.empty()) {
            output = arg;
        } else {
            return usage();
        }
    }

    auto start = std::chrono::steady_clock::now();
    std::vector<Job> jobs = makeJobs();

    // Largest sub-tables first, as in first-fit-decreasing bin packing: the
    // small ones can later fill the gaps the large ones leave.
    std::vector<Job*> order;
    for (Job& job : jobs) order.push_back(&job);
    std::stable_sort(order.begin(), order.end(),
                     [](const Job* a, const Job* b) { return a->subsets.size() > b->subsets.size(); });

    Rng rng{seed * 0x9E3779B97F4A7C15ULL + 1};
    Searcher searcher(1 << ROOK_BITS);
    Packer packer;
    Image img, best;
    std::vector<Candidate> pool, sample;
    auto byScore = [](const Candidate& a, const Candidate& b) { return a.score() < b.score(); };
    for (Job* job : order) {
        // Keep the best few valid magics out of many random ones (a max-heap on
        // score), and a uniform sample of the rest: the score cannot see images
        // whose gaps another square will fill (say every other run of 256
        // slots), and the sample keeps some of those.
        pool.clear();
        sample.clear();
        u64 valid = 0;
        for (u64 t = 0, n = jobTries(*job, tries); t < n || pool.empty(); t++) {
            Candidate c{rng.sparse(), 0, 0};
            if (!searcher.check(*job, c.magic, c.span, c.used)) continue;
            valid++;
            if (sample.size() < keep)
                sample.push_back(c);
            else if (u64 r = rng.next() % valid; r < keep)
                sample[r] = c;
            if (pool.size() < keep) {
                pool.push_back(c);
                std::push_heap(pool.begin(), pool.end(), byScore);
            } else if (c.score() < pool.front().score()) {
                std::pop_heap(pool.begin(), pool.end(), byScore);
                pool.back() = c;
                std::push_heap(pool.begin(), pool.end(), byScore);
            }
        }
        // Then place the one that ends lowest in the shared array.
        std::sort(pool.begin(), pool.end(), byScore);
        pool.insert(pool.end(), sample.begin(), sample.end());
        size_t bestEnd = SIZE_MAX, bestOffset = 0;
        for (const Candidate& c : pool) {
            searcher.image(*job, c.magic, img);
            size_t o = packer.lowestOffset(img, bestEnd);
            if (o == SIZE_MAX || o + img.span >= bestEnd) continue;
            bestEnd = o + img.span;
            bestOffset = o;
            job->magic = c.magic;
            std::swap(best, img);
        }
        job->offset = bestOffset;
        packer.place(best, bestOffset);
        std::cerr << (job->rook ? "rook   " : "bishop ") << squareName(job->sq) << " used "
                  << best.index.size() << " span " << best.span << " offset " << bestOffset << " table "
                  << packer.size() << "\n";
    }

    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cerr << "table size " << packer.size() << " (" << packer.used() << " slots used), " << secs
              << " s\n";

    std::string text = render(jobs, packer.size(), tries, keep, seed);
    if (output.empty()) {
        std::cout << text;
    } else {
        std::ofstream file(output);
        file << text;
        if (!file) {
            std::cerr << "cannot write " << output << "\n";
            return 1;
        }
    }
    return 0;
}
