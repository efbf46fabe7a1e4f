// Native methods that open and close links and read the reader information.
#include <jni.h>

#include <cstring>

#include "core_loader.h"
#include "marshal.h"
#include "morvent.h"

using namespace tessaly;

namespace {

constexpr int kMaxIpLength = 19;     // the IP text buffer holds 20 bytes with its terminator
constexpr int kMaxHostLength = 253;  // the longest name the name service knows
constexpr int kDeviceRoom = 512;
constexpr int kDottedRoom = 16;

// Adds the length of a NUL-terminated text, then its bytes.
void addText(Result& result, const char* text) {
    const int length = static_cast<int>(std::strlen(text));
    result.add(length);
    result.addBytes(reinterpret_cast<const unsigned char*>(text), length);
}

// in: COM number, address, baud code.
// out: status, answering reader's address, port index (-1 on failure).
template <class Open>
jintArray openComPort(JNIEnv* env, jintArray array, Open open) {
    InputReader in(env, array);
    int com_port = in.whole();
    unsigned char address = in.byte();
    unsigned char baud = in.byte();
    if (!in.finish() || open == nullptr) return nullptr;

    int port_handle = -1;
    Result result(open(com_port, &address, baud, &port_handle));
    result.add(address);
    result.add(port_handle);
    return result.toJava(env);
}

}  // namespace

extern "C" {

// The address is not used by the core.
TESSALY_LAYOUT(OpenComPort, openComPort, OpenComPort)
// The handshake asks the reader at the address alone (a reader on a bus).
TESSALY_LAYOUT(OpenComPortAt, openComPort, OpenComPortAt)

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
    return result.toJava(env);
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
JNIEXPORT jintArray JNICALL Java_Tessaly_OpenNetPort(JNIEnv* env, jclass, jint /*unused*/, jint tcp_port, jstring ip) {
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
    return result.toJava(env);
}

// out: what is at the device (MORVENT_DEVICE_*, or 0x37), then the length
// of its name and the name's bytes (length 0 for 0x37).
JNIEXPORT jintArray JNICALL Java_Tessaly_MorventSerialDevice(JNIEnv* env, jclass, jint com_port) {
    auto look = TESSALY_BIND(MorventSerialDevice);
    if (look == nullptr) return nullptr;
    char device[kDeviceRoom] = {};
    Result result(look(com_port, device, kDeviceRoom));
    addText(result, device);
    return result.toJava(env);
}

// A host name is ASCII: a longer name, or one with another character, is
// refused with null rather than looked up as some other name.
// out: status, then the length of the dotted address and its characters
// (length 0 on failure).
JNIEXPORT jintArray JNICALL Java_Tessaly_MorventResolveHost(JNIEnv* env, jclass, jstring host) {
    auto resolve = TESSALY_BIND(MorventResolveHost);
    if (resolve == nullptr || host == nullptr) return nullptr;
    const jsize length = env->GetStringLength(host);
    if (length > kMaxHostLength) return nullptr;
    jchar units[kMaxHostLength] = {};
    env->GetStringRegion(host, 0, length, units);
    char text[kMaxHostLength + 1] = {};
    for (jsize i = 0; i < length; ++i) {
        if (units[i] == 0 || units[i] > 0x7F) return nullptr;
        text[i] = static_cast<char>(units[i]);
    }
    char ip[kDottedRoom] = {};
    Result result(resolve(text, ip));
    addText(result, ip);
    return result.toJava(env);
}

// in: address, port. out: status, then the 11 information bytes in order.
JNIEXPORT jintArray JNICALL Java_Tessaly_GetReaderInformation(JNIEnv* env, jclass, jintArray array) {
    auto get_info = TESSALY_BIND(GetReaderInformation);
    Target target;
    if (!readTarget(env, array, target) || get_info == nullptr) return nullptr;

    unsigned char info[11] = {};  // the pair, then nine single bytes
    Result result(get_info(&target.address, &info[0], &info[2], &info[3], &info[4], &info[5], &info[6], &info[7],
                           &info[8], &info[9], &info[10], target.port));
    result.addBytes(info, 11);
    return result.toJava(env);
}

}  // extern "C"
