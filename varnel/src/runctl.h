// Run control: the link call that runs the stages, the callbacks it puts
// into every stage record, and the lock that keeps calls apart.
#pragma once

#include <cstdarg>

#include "stage.h"

namespace varnel {

constexpr const char* kVersionText = "VARNEL.DLL  v3.03.002";

// The three stage entries run control calls.
struct StageEntries {
  int (*planner)(PlanParams*);
  int (*linker)(LinkParams*);
  int (*imageBuilder)(ImageParams*);
};

#if defined(VARNEL_TEST_SEAMS)
// Test-only: stand-ins for the stages; nullptr restores the real ones.
void SetStageEntries(const StageEntries* entries);

// Test-only: the planner record of the last call; the image record of an
// Exec 5 link points into it.
PlanParams& LastPlanParams();
#endif

// The callbacks run control puts into every record.
void LogPrint(const char* format, va_list args);
void LogPrintf(const char* format, ...);
void ReportError(const char* format, int code, va_list args);
void ReportErrorf(const char* format, int code, ...);

// Held for the whole of each call that uses the process-wide state (Varnel,
// FbFit, VarnelGetDriverData): such calls from several threads run one after
// the other.  Taking it never throws.
class SerialCall {
 public:
  SerialCall() noexcept;
  ~SerialCall();
  SerialCall(const SerialCall&) = delete;
  SerialCall& operator=(const SerialCall&) = delete;
};

}  // namespace varnel
