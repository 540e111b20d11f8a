/* varnel: the download linker of a controller module.
 *
 * A host calls these four functions with plain C arguments, from any thread.
 * Varnel, FbFit and VarnelGetDriverData run one at a time: a call made while
 * another runs waits until it ends.  VarnelGetVersion never waits.  A link
 * call (Varnel, FbFit) also holds its working directory for its whole run,
 * so a call of another process on the same directory waits until it ends. */
#ifndef VARNEL_H
#define VARNEL_H

#include <stdint.h>

#if defined(_WIN32)
#define VARNEL_API
#else
#define VARNEL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Links the FBs of one module and writes the download file.  Returns 0, or
 * the result code of the failure; the message buffer receives its text. */
VARNEL_API int Varnel(const char* argFile, const char* libraryDir, const char* workDir,
                      const char* logFile, const char* submitFile, const char* downloadFile,
                      int logLevel, char* message, uint64_t messageLength);

/* Runs the same stages without a download file and returns the memory
 * summary in the message buffer. */
VARNEL_API int FbFit(const char* argFile, const char* libraryDir, const char* workDir,
                     const char* logFile, const char* submitFile, const char* unused6,
                     int logLevel, char* message, uint64_t messageLength, uint64_t unused10,
                     uint16_t execMajor, uint64_t unused12, uint16_t moduleType, int memoryK);

/* Tells which Exec versions, memory sizes and module type a module driver
 * supports.  Returns 1 when the driver is known, else 0. */
VARNEL_API int VarnelGetDriverData(const char* driverName, const char* dir, char* versions,
                                   char* sizes, uint16_t* moduleType, char* typeName,
                                   uint32_t bufferLength);

/* Copies the version text into the buffer. */
VARNEL_API void VarnelGetVersion(char* buffer, uint64_t length);

#ifdef __cplusplus
}
#endif

#endif
