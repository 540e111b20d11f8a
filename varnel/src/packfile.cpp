// The packed FB file reader.
#include "packfile.h"

// (to be built)
