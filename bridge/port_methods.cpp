// Native methods that open and close links and read the reader information.
#include <jni.h>

#include "core_loader.h"
#include "marshal.h"
#include "morvent.h"

using namespace tessaly;

namespace {

constexpr jint kUnavailable = -1;  // int methods: core or export missing, input short
constexpr int kMaxIpLength = 19;   // the core takes the address as a 20-byte text

}  // namespace

extern "C" {

// in: COM number, address (unused by the core), baud code.
// out: status, answering reader's address, port index (-1 on failure).
JNIEXPORT jintArray JNICALL Java_Tessaly_OpenComPort(JNIEnv* env, jclass, jintArray array) {
    auto open = TESSALY_BIND(OpenComPort);
    InputReader in(env, array);
    int com_port = in.whole();
    unsigned char address = in.byte();
    unsigned char baud = in.byte();
    if (!in.finish() || open == nullptr) return nullptr;

    int port_handle = -1;
    Result result(open(com_port, &address, baud, &port_handle));
    result.add(address);
    result.add(port_handle);
    return result.to_java(env);
}

// in: address (unused by the core), baud code.
// out: status, COM number found, reader address, port index.
JNIEXPORT jintArray JNICALL Java_Tessaly_AutoOpenComPort(JNIEnv* env, jclass, jintArray array) {
    auto auto_open = TESSALY_BIND(AutoOpenComPort);
    InputReader in(env, array);
    unsigned char address = in.byte();
    unsigned char baud = in.byte();
    if (!in.finish() || auto_open == nullptr) return nullptr;

    int com_port = -1;
    int port_handle = -1;
    Result result(auto_open(&com_port, &address, baud, &port_handle));
    result.add(com_port);
    result.add(address);
    result.add(port_handle);
    return result.to_java(env);
}

JNIEXPORT jint JNICALL Java_Tessaly_CloseComPort(JNIEnv*, jclass) {
    auto close = TESSALY_BIND(CloseComPort);
    return close ? close() : kUnavailable;
}

JNIEXPORT jint JNICALL Java_Tessaly_CloseSpecComPort(JNIEnv*, jclass, jint com_port) {
    auto close = TESSALY_BIND(CloseSpecComPort);
    return close ? close(com_port) : kUnavailable;
}

JNIEXPORT jint JNICALL Java_Tessaly_CloseNetPort(JNIEnv*, jclass, jint port_index) {
    auto close = TESSALY_BIND(CloseNetPort);
    return close ? close(port_index) : kUnavailable;
}

// The IP text is the low 8 bits of each UTF-16 unit; longer than 19
// characters is refused with null.
JNIEXPORT jintArray JNICALL Java_Tessaly_OpenNetPort(JNIEnv* env, jclass, jint /*unused*/,
                                                     jint tcp_port, jstring ip) {
    auto open = TESSALY_BIND(OpenNetPort);
    if (open == nullptr || ip == nullptr) return nullptr;
    jsize length = env->GetStringLength(ip);
    if (length > kMaxIpLength) return nullptr;

    jchar units[kMaxIpLength] = {};
    env->GetStringRegion(ip, 0, length, units);
    char text[kMaxIpLength + 1] = {};
    for (jsize i = 0; i < length; ++i) text[i] = static_cast<char>(units[i] & 0xFF);

    unsigned char address = 0xFF;
    int port_handle = -1;
    Result result(open(tcp_port, text, &address, &port_handle));
    result.add(address);
    result.add(port_handle);
    return result.to_java(env);
}

// in: address, port. out: status, then the 11 information bytes in order.
JNIEXPORT jintArray JNICALL Java_Tessaly_GetReaderInformation(JNIEnv* env, jclass, jintArray array) {
    auto get_info = TESSALY_BIND(GetReaderInformation);
    Target target;
    if (!read_target(env, array, target) || get_info == nullptr) return nullptr;

    unsigned char info[11] = {};  // the pair, then nine single bytes
    Result result(get_info(&target.address, &info[0], &info[2], &info[3], &info[4], &info[5],
                           &info[6], &info[7], &info[8], &info[9], &info[10], target.port));
    result.add_bytes(info, 11);
    return result.to_java(env);
}

}  // extern "C"
