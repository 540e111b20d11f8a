// A stand-in for varnel, built only for the bridge's tests, that makes the
// bridge's side of the call visible and its input chosen byte for byte:
//  - Varnel writes the bytes it received (each text in hex on a line of its
//    own, then the log level and the buffer length) to workDir + logFile;
//  - it copies the bytes of the file workDir + argFile into the message
//    buffer as they are, NUL bytes included, padded with NULs, and returns
//    7000 + the file's size; when that file is missing it leaves the buffer
//    untouched and returns 99;
//  - VarnelGetVersion fills its whole buffer, without a NUL.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

void PutHex(std::string& out, const char* text) {
  static const char kDigits[] = "0123456789abcdef";
  for (const char* p = text; *p != '\0'; ++p) {
    const auto b = static_cast<unsigned char>(*p);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  out += '\n';
}

}  // namespace

FAKE_EXPORT int Varnel(const char* argFile, const char* libraryDir, const char* workDir,
                       const char* logFile, const char* submitFile, const char* downloadFile,
                       int logLevel, char* message, uint64_t messageLength) {
  std::string record;
  for (const char* text : {argFile, libraryDir, workDir, logFile, submitFile, downloadFile}) {
    PutHex(record, text);
  }
  record +=
      "level " + std::to_string(logLevel) + "\nlength " + std::to_string(messageLength) + "\n";
  std::ofstream(std::string(workDir) + logFile, std::ios::binary) << record;

  std::ifstream in(std::string(workDir) + argFile, std::ios::binary);
  if (!in) return 99;
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  for (uint64_t i = 0; i < messageLength; ++i) message[i] = i < bytes.size() ? bytes[i] : '\0';
  return 7000 + static_cast<int>(bytes.size());
}

#ifndef FAKE_WITHOUT_VERSION
FAKE_EXPORT void VarnelGetVersion(char* buffer, uint64_t length) {
  const std::string text = "fake varnel, buffer of " + std::to_string(length) + " bytes";
  for (uint64_t i = 0; i < length; ++i) buffer[i] = i < text.size() ? text[i] : '.';
}
#endif
