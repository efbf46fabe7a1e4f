/* The machine-dependent JNI definitions for 64-bit Windows, used with a
 * JDK's platform-independent jni.h when cross-compiling the bridge. */
#ifndef MORVENT_JNI_MD_WIN64_H
#define MORVENT_JNI_MD_WIN64_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL   __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
