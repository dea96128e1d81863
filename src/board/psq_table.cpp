#include "board/psq_table.h"

int64_t PsqTable[16][64];
