// A board header that reaches into the search: the layer check must refuse it.
#pragma once

#include "board/types.h"
#include "search/search_thread.h"
