// File and path helpers.
#include "files.h"

// (to be built)
