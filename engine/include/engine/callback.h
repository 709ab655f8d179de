// The old name of engine/status_callback.h, kept for the code outside the engine that still includes
// it (the batch, the benchmarks). Include engine/status_callback.h; this file goes once nothing includes it.
#pragma once

#include "engine/status_callback.h"
