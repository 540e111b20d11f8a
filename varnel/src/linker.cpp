// The object linker (stage 2).
#include "linker.h"

namespace varnel {

// (to be built)
int RunLinker(LinkParams*) { return 2; }

}  // namespace varnel
