#include "support/capture_log.h"

#include "format.h"

namespace varnel::testing {

namespace {
CaptureLog* g_active = nullptr;
}

CaptureLog::CaptureLog() { g_active = this; }
CaptureLog::~CaptureLog() {
  if (g_active == this) g_active = nullptr;
}

void CaptureLog::Print(const char* format, va_list args) {
  if (g_active) g_active->text += VFormat(format, args);
}

void CaptureLog::Progress(const char* format, va_list args) {
  if (g_active) g_active->text += VFormat(format, args);
}

void CaptureLog::Error(const char* format, int code, va_list args) {
  if (!g_active) return;
  std::string message = VFormat(format, args);
  g_active->errorCodes.push_back(code);
  g_active->errors.push_back(message);
  g_active->text += Format("[error %d]", code) + message;
}

}  // namespace varnel::testing
