/* The machine-dependent part of the JNI for 64-bit Windows, for building
 * jvarnel.dll with mingw-w64: the JDK on the build machine carries only its
 * own platform's.  The JVM calls native methods with the platform's plain
 * calling convention and finds them among the DLL's exports. */
#ifndef JVARNEL_WIN32_JNI_MD_H
#define JVARNEL_WIN32_JNI_MD_H

#include <stdint.h>

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

/* Java's int, long and byte: 32, 64 and 8 bits, signed. */
typedef int32_t jint;
typedef int64_t jlong;
typedef int8_t jbyte;

#endif
