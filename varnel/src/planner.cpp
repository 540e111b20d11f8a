// The download planner (stage 1).
#include "planner.h"

namespace varnel {

// (to be built)
int RunPlanner(PlanParams*) { return 3; }

FbList& PlannerFbList() {
  static FbList list;
  return list;
}

}  // namespace varnel
