#include "support/packer.h"

// (to be built)
