#include "tt/hash_file.h"

#include <sys/types.h>

#include <cstdint>
#include <cstdio>

#include "core/options.h"
#include "core/output.h"
#include "tt/transposition_table.h"

namespace {

// The largest piece handed to one fwrite or fread call: some C libraries
// cannot move 2 GiB or more in one call.
constexpr uint64_t WRITE_PIECE_BYTES = uint64_t(1) << 31;
constexpr uint64_t READ_PIECE_BYTES = uint64_t(1) << 30;

// The length of an open file found by seeking to its end (64-bit offsets),
// leaving the position at the start; -1 when the file cannot seek (a pipe,
// say), which no table size matches.
int64_t fileLength(FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    off_t length = ftello(file);
    if (fseeko(file, 0, SEEK_SET) != 0) return -1;
    return int64_t(length);
}

}  // namespace

void writeHashFile(const TranspositionTable& table, const std::string& fileName) {
    FILE* file = std::fopen(fileName.c_str(), "wb");
    if (!file) {
        printOut("info string failed to open %s\n", fileName.c_str());
        return;
    }
    printOut("info string Saving Hash\n");
    // Deliberate race when a search is running: the image is read while
    // search threads write entries.
    const char* image = reinterpret_cast<const char*>(table.clusters);
    uint64_t total = table.sizeInBytes();
    for (uint64_t done = 0; done < total;) {
        size_t piece = size_t(total - done < WRITE_PIECE_BYTES ? total - done : WRITE_PIECE_BYTES);
        if (std::fwrite(image + done, 1, piece, file) != piece) {
            printOut("info string error writing file %s\n", fileName.c_str());
            std::fclose(file);
            return;
        }
        done += piece;
    }
    // Buffered bytes reach the disk only here, so a full disk may show up
    // as late as the close.
    if (std::fclose(file) != 0) {
        printOut("info string error writing file %s\n", fileName.c_str());
        return;
    }
    printOut("info string Hash Saved\n");
}

void readHashFile(TranspositionTable& table, const std::string& fileName) {
    FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) {
        printOut("info string no such file %s\n", fileName.c_str());
    } else {
        printOut("info string Loading Hash from %s\n", fileName.c_str());
        uint64_t total = table.sizeInBytes();
        const char* result = "info string Hash Loaded\n";
        if (fileLength(file) != int64_t(total)) {
            result = "info string File size does not match Hash size\n";
        } else {
            char* image = reinterpret_cast<char*>(table.clusters);
            for (uint64_t done = 0; done < total;) {
                size_t piece = size_t(total - done < READ_PIECE_BYTES ? total - done : READ_PIECE_BYTES);
                if (std::fread(image + done, 1, piece, file) != piece) {
                    result = "info string Error: could not read full file.\n";
                    break;
                }
                done += piece;
            }
        }
        printOut("%s", result);
        std::fclose(file);
    }
    table.resetGenerations();
}

void saveHashToFile() {
    writeHashFile(transpositionTable, hashFileName);
}

void loadHashFromFile() {
    readHashFile(transpositionTable, hashFileName);
}
