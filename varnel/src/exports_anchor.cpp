// The shared library's own unit: everything it exports comes from varnel_core.
#include "varnel.h"
