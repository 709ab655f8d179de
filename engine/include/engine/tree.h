// The old name of engine/directory_tree.h, kept for the code outside the engine that still includes
// it (the batch, the benchmarks). Include engine/directory_tree.h; this file goes once nothing includes it.
#pragma once

#include "engine/directory_tree.h"
