// The planner's built-in tables: memory map, driver table, names, constants.
#include "planner.h"

// (to be built)
