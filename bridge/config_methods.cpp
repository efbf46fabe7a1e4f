// Native methods for the reader's configuration and management commands.
#include <jni.h>

#include "core_loader.h"
#include "marshal.h"
#include "morvent.h"

using namespace tessaly;

namespace {

// The setting exports: address by reference, K value bytes, port. The input
// array is the address, the K bytes in argument order, then the port.
using Setter0 = int(unsigned char*, int);
using Setter1 = int(unsigned char*, unsigned char, int);
using Setter2 = int(unsigned char*, unsigned char, unsigned char, int);
using Setter3 = int(unsigned char*, unsigned char, unsigned char, unsigned char, int);

int callSetter(Setter0* set, unsigned char* address, const unsigned char*, int port) { return set(address, port); }
int callSetter(Setter1* set, unsigned char* address, const unsigned char* v, int port) {
    return set(address, v[0], port);
}
int callSetter(Setter2* set, unsigned char* address, const unsigned char* v, int port) {
    return set(address, v[0], v[1], port);
}
int callSetter(Setter3* set, unsigned char* address, const unsigned char* v, int port) {
    return set(address, v[0], v[1], v[2], port);
}

constexpr int valueCount(Setter0*) { return 0; }
constexpr int valueCount(Setter1*) { return 1; }
constexpr int valueCount(Setter2*) { return 2; }
constexpr int valueCount(Setter3*) { return 3; }

template <typename Fn>
jint setting(JNIEnv* env, jintArray array, const char* name) {
    Fn* set = bind<Fn>(name);
    MethodInput in(env, array);
    unsigned char values[3] = {};
    in.bytes(values, valueCount(set));
    if (!in.finishWithPort() || set == nullptr) return kUnavailable;
    return callSetter(set, &in.address, values, in.port);
}

// Status, count, then the first `count` bytes of the buffer.
jintArray countedRun(JNIEnv* env, int status, int count, const unsigned char* buffer, int capacity) {
    count = clampCount(count, capacity);
    Result result(status);
    result.add(count);
    result.addBytes(buffer, count);
    return result.toJava(env);
}

constexpr int kRunBufferSize = 8000;

}  // namespace

#define TESSALY_SETTING(jni_name, export_name)                                             \
    JNIEXPORT jint JNICALL Java_Tessaly_##jni_name(JNIEnv* env, jclass, jintArray array) { \
        return setting<decltype(export_name)>(env, array, #export_name);                   \
    }

extern "C" {

TESSALY_SETTING(SetRegion, SetRegion)
TESSALY_SETTING(SetAddress, SetAddress)
TESSALY_SETTING(SetInventoryScanTime, SetInventoryScanTime)
TESSALY_SETTING(SetBaudRate, SetBaudRate)
TESSALY_SETTING(SetRfPower, SetRfPower)
TESSALY_SETTING(BuzzerAndLEDControl, BuzzerAndLEDControl)
TESSALY_SETTING(SetWorkMode, SetWorkMode)
TESSALY_SETTING(SetEASSensitivity, SetEASSensitivity)
TESSALY_SETTING(SetTriggerTime, SetTriggerTime)
TESSALY_SETTING(SetResponsePamametersofAuto_1runningMode, SetResponsePamametersofAuto_runningMode)
TESSALY_SETTING(SetInventoryInterval, SetInventoryInterval)
TESSALY_SETTING(SelectTagType, SelectTagType)
TESSALY_SETTING(SetAntennaMultiplexing, SetAntennaMultiplexing)
TESSALY_SETTING(SetBeepNotification, SetBeepNotification)
TESSALY_SETTING(SetTIDParameter, SetTIDParameter)
TESSALY_SETTING(SetRelay, SetRelay)
TESSALY_SETTING(SetGPIO, SetGPIO)
TESSALY_SETTING(SetNotificationPulseOutput, SetNotificationPulseOutput)
TESSALY_SETTING(ChangeATMode, ChangeATMode)
TESSALY_SETTING(ClearTagBuffer, ClearTagBuffer)

// in: address, six clock bytes, port.
JNIEXPORT jint JNICALL Java_Tessaly_SetReal_1timeClock(JNIEnv* env, jclass, jintArray array) {
    auto setClock = TESSALY_BIND(SetReal_timeClock);
    RunInput<6> clock;
    if (!readRunInput(env, array, clock) || setClock == nullptr) return kUnavailable;
    return setClock(&clock.address, clock.bytes, clock.port);
}

// in: address, mask block, port.
JNIEXPORT jint JNICALL Java_Tessaly_SetMask(JNIEnv* env, jclass, jintArray array) {
    auto setMask = TESSALY_BIND(SetMask);
    MethodInput in(env, array);
    MaskBlock mask;
    readMaskBlock(in, mask);
    if (!in.finishWithPort() || setMask == nullptr) return kUnavailable;
    return setMask(&in.address, mask.bank, mask.address, mask.bit_length, mask.bytes, in.port);
}

// out: status, data bytes 0-3 and 5-44 of the parameter record (byte 4 is
// not returned), 45 elements.
JNIEXPORT jintArray JNICALL Java_Tessaly_GetSystemParameter(JNIEnv* env, jclass, jintArray array) {
    auto get_parameters = TESSALY_BIND(GetSystemParameter);
    Target target;
    if (!readTarget(env, array, target) || get_parameters == nullptr) return nullptr;

    unsigned char p[7] = {};  // parameter bytes 1-6 and the mask bank
    unsigned char mask_address[2] = {};
    unsigned char bit_length = 0;
    unsigned char mask[32] = {};
    unsigned char extension[3] = {};
    Result result(get_parameters(&target.address, &p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &p[6], mask_address,
                                 &bit_length, mask, &extension[0], &extension[1], &extension[2], target.port));
    result.addBytes(p, 4);
    result.addBytes(p + 5, 2);
    result.addBytes(mask_address, 2);
    result.add(bit_length);
    result.addBytes(mask, 32);
    result.addBytes(extension, 3);
    return result.toJava(env);
}

// out: status, the six clock bytes.
TESSALY_LAYOUT(GetTime, bytesQuery<6>, GetTime)
// out: status, the GPIO state byte.
TESSALY_LAYOUT(GetGPIOStatus, bytesQuery<1>, GetGPIOStatus)

// out: status, the serial number's four bytes, least significant first.
JNIEXPORT jintArray JNICALL Java_Tessaly_GetSeriaNo(JNIEnv* env, jclass, jintArray array) {
    auto get_serial = TESSALY_BIND(GetSeriaNo);
    Target target;
    if (!readTarget(env, array, target) || get_serial == nullptr) return nullptr;

    int serial = 0;
    Result result(get_serial(&target.address, &serial, target.port));
    for (int shift = 0; shift < 32; shift += 8) result.add((static_cast<unsigned>(serial) >> shift) & 0xFF);
    return result.toJava(env);
}

// out: status, byte count, the records.
JNIEXPORT jintArray JNICALL Java_Tessaly_GetTagBufferInfo(JNIEnv* env, jclass, jintArray array) {
    auto get_records = TESSALY_BIND(GetTagBufferInfo);
    Target target;
    if (!readTarget(env, array, target) || get_records == nullptr) return nullptr;

    unsigned char records[kRunBufferSize] = {};
    int count = 0;
    int status = get_records(&target.address, records, &count, target.port);
    return countedRun(env, status, count, records, kRunBufferSize);
}

// in[0] is read but not passed: this export has no reader address. Every
// byte delivered is returned, up to the buffer's 8000.
JNIEXPORT jintArray JNICALL Java_Tessaly_ReadActiveModeData(JNIEnv* env, jclass, jintArray array) {
    auto read = TESSALY_BIND(ReadActiveModeData);
    InputReader in(env, array);
    in.skip();
    int port = in.whole();
    if (!in.finish() || read == nullptr) return nullptr;

    unsigned char data[kRunBufferSize] = {};
    int count = 0;
    int status = read(data, &count, port);
    return countedRun(env, status, count, data, kRunBufferSize);
}

// in: address, parameter byte, command length c, c bytes, port.
// out: status, then the reply bytes.
JNIEXPORT jintArray JNICALL Java_Tessaly_TransparentCMD(JNIEnv* env, jclass, jintArray array) {
    auto transparent = TESSALY_BIND(TransparentCMD);
    MethodInput in(env, array);
    unsigned char parameter = in.byte();
    unsigned char length = in.byte();
    unsigned char command[300] = {};
    in.bytes(command, length);
    if (!in.finishWithPort() || transparent == nullptr) return nullptr;

    unsigned char reply_length = 0;
    unsigned char reply[300] = {};
    Result result(transparent(&in.address, parameter, length, command, &reply_length, reply, in.port));
    result.addBytes(reply, reply_length);
    return result.toJava(env);
}

}  // extern "C"
