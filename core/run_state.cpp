// Definition of the one run-state record (static storage, so it starts zero-filled).
#include "core/run_state.h"

RunState runState;
