// The driver data query VarnelGetDriverData.
#include "varnel.h"

// (to be built)
