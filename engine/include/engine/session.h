// The old name of engine/client_session.h, kept for the code outside the engine that still includes
// it (the batch, the benchmarks). Include engine/client_session.h; this file goes once nothing includes it.
#pragma once

#include "engine/client_session.h"
