// The bridge's input-array reader for every native method that takes an
// int array, through a fake JNIEnv (no JVM): arbitrary array lengths and
// element values, and a null array now and then. The core behind it is the
// statically linked one, on the in-memory reader, which answers each
// request with a frame that echoes it.
//
// Input: method selector, two length bytes (0xFFFF: a null array), then one
// byte per element: below 0xF0 its value, 0xF0 and up a special value (a
// live port index, -1, the int limits, 0x103, 65535) or, for 0xFF, the next
// four bytes as a whole int. What is left is the reader's answer data.
//
// Checks: every element pointer handed out is released; a method that
// refuses its array returns -1 or null and puts nothing on the link; a
// result array holds the status code first (a GS1 method's result) and
// stays within the result buffer; an int result is a status code.
#include <jni.h>

#include <climits>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "fuzz/harness.h"
#include "link/ports.h"
#include "morvent.h"

#define INT_METHODS(X)                                                                                      \
    X(SetRegion) X(SetAddress) X(SetInventoryScanTime) X(SetBaudRate) X(SetRfPower) X(BuzzerAndLEDControl) \
    X(SetWorkMode) X(SetEASSensitivity) X(SetTriggerTime) X(SetResponsePamametersofAuto_1runningMode)       \
    X(SetInventoryInterval) X(SelectTagType) X(SetAntennaMultiplexing) X(SetBeepNotification)              \
    X(SetTIDParameter) X(SetRelay) X(SetGPIO) X(SetNotificationPulseOutput) X(ChangeATMode)                \
    X(ClearTagBuffer) X(SetReal_1timeClock) X(SetMask)

#define ARRAY_METHODS(X)                                                                                     \
    X(GetReaderInformation) X(GetSystemParameter) X(GetTime) X(GetTagBufferInfo) X(GetGPIOStatus)          \
    X(ReadActiveModeData) X(TransparentCMD) X(GetSeriaNo) X(Inventory_1G2) X(ReadData_1G2)                 \
    X(WriteData_1G2) X(BlockWrite_1G2) X(WriteEPC_1G2) X(BlockErase_1G2) X(KillTag_1G2)                    \
    X(SetPrivacyByEPC_1G2) X(Lock_1G2) X(EASConfigure_1G2) X(BlockLock_1G2) X(SetPrivacyWithoutEPC_1G2)    \
    X(ResetPrivacy_1G2) X(CheckPrivacy_1G2) X(EASAlarm_1G2) X(InventorySingle_16B)                         \
    X(InventoryMultiple_16B) X(ReadData_16B) X(WriteData_16B) X(Lock_16B) X(CheckLock_16B) X(MorventEpcDecode)

#define DECLARE_INT(name) JNIEXPORT jint JNICALL Java_Tessaly_##name(JNIEnv*, jclass, jintArray);
#define DECLARE_ARRAY(name) JNIEXPORT jintArray JNICALL Java_Tessaly_##name(JNIEnv*, jclass, jintArray);
extern "C" {
INT_METHODS(DECLARE_INT)
ARRAY_METHODS(DECLARE_ARRAY)
}

namespace {

using namespace fuzz;

constexpr int kResultCapacity = 8004;
constexpr std::size_t kMostElements = 1200;

// ---- The fake JNI environment ------------------------------------------------

struct FakeArray {
    std::vector<jint> values;
};

struct Jni {
    std::vector<std::unique_ptr<FakeArray>> arrays;
    std::set<jint*> held;  // element pointers handed out and not yet released
} jni;

FakeArray* fake(jarray array) { return reinterpret_cast<FakeArray*>(array); }

jsize JNICALL getArrayLength(JNIEnv*, jarray array) {
    FUZZ_CHECK(array != nullptr, 0);
    return static_cast<jsize>(fake(array)->values.size());
}

// A copy of exactly the array's length: ASan catches any read past it.
jint* JNICALL getIntArrayElements(JNIEnv*, jintArray array, jboolean* isCopy) {
    FUZZ_CHECK(array != nullptr, 0);
    const std::vector<jint>& v = fake(array)->values;
    jint* copy = static_cast<jint*>(std::malloc((v.size() ? v.size() : 1) * sizeof(jint)));
    if (!v.empty()) std::memcpy(copy, v.data(), v.size() * sizeof(jint));
    if (isCopy) *isCopy = JNI_TRUE;
    jni.held.insert(copy);
    return copy;
}

void JNICALL releaseIntArrayElements(JNIEnv*, jintArray array, jint* elems, jint) {
    FUZZ_CHECK(array != nullptr, 0);
    FUZZ_CHECK(jni.held.erase(elems) == 1, 0);
    std::free(elems);
}

jintArray JNICALL newIntArray(JNIEnv*, jsize length) {
    FUZZ_CHECK(length >= 0 && length <= kResultCapacity, length);
    jni.arrays.push_back(std::make_unique<FakeArray>());
    jni.arrays.back()->values.assign(static_cast<std::size_t>(length), 0);
    return reinterpret_cast<jintArray>(jni.arrays.back().get());
}

void JNICALL setIntArrayRegion(JNIEnv*, jintArray array, jsize start, jsize length, const jint* buf) {
    FUZZ_CHECK(array != nullptr, 0);
    std::vector<jint>& v = fake(array)->values;
    FUZZ_CHECK(start >= 0 && length >= 0 && static_cast<std::size_t>(start) + length <= v.size(), length);
    std::memcpy(v.data() + start, buf, static_cast<std::size_t>(length) * sizeof(jint));
}

JNIEnv* fakeEnv() {
    static JNINativeInterface_ table = [] {
        JNINativeInterface_ t;
        std::memset(&t, 0, sizeof t);  // any other entry called crashes: only these are used
        t.GetArrayLength = getArrayLength;
        t.GetIntArrayElements = getIntArrayElements;
        t.ReleaseIntArrayElements = releaseIntArrayElements;
        t.NewIntArray = newIntArray;
        t.SetIntArrayRegion = setIntArrayRegion;
        return t;
    }();
    static JNIEnv env{&table};
    return &env;
}

// ---- Input ---------------------------------------------------------------------

jint element(Input& in) {
    const std::uint8_t b = in.byte();
    switch (b) {
    case 0xF0: return kSerialPort;
    case 0xF1: return kNetPort;
    case 0xF2: return -1;
    case 0xF3: return INT_MIN;
    case 0xF4: return INT_MAX;
    case 0xF5: return 0x103;
    case 0xF6: return 65535;
    case 0xFF: {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in.byte()) << (8 * i);
        return static_cast<jint>(v);
    }
    default: return b;
    }
}

jintArray inputArray(Input& in) {
    const std::size_t length = in.byte() | static_cast<std::size_t>(in.byte()) << 8;
    if (length == 0xFFFF) return nullptr;
    jni.arrays.push_back(std::make_unique<FakeArray>());
    FakeArray& a = *jni.arrays.back();
    a.values.resize(length % (kMostElements + 1));
    for (jint& v : a.values) v = element(in);
    return reinterpret_cast<jintArray>(&a);
}

// The reader answers every request with status 0 and the data left in the input.
void scriptEcho(const Bytes& data) {
    for (int port : {kSerialPort, kNetPort}) {
        deviceOf(port).clear();
        deviceOf(port).echoEveryRequest(0x00, data.size() > 250 ? Bytes(data.begin(), data.begin() + 250) : data);
    }
}

using IntMethod = jint(JNICALL*)(JNIEnv*, jclass, jintArray);
using ArrayMethod = jintArray(JNICALL*)(JNIEnv*, jclass, jintArray);

#define INT_ENTRY(name) Java_Tessaly_##name,
#define ARRAY_ENTRY(name) Java_Tessaly_##name,
const IntMethod kIntMethods[] = {INT_METHODS(INT_ENTRY)};
const ArrayMethod kArrayMethods[] = {ARRAY_METHODS(ARRAY_ENTRY)};
constexpr std::size_t kIntCount = sizeof kIntMethods / sizeof kIntMethods[0];
constexpr std::size_t kArrayCount = sizeof kArrayMethods / sizeof kArrayMethods[0];

bool nothingSent() { return deviceOf(kSerialPort).writes().empty() && deviceOf(kNetPort).writes().empty(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUp();
    Input in(data, size);
    const std::size_t selector = in.byte() % (kIntCount + kArrayCount);
    jintArray array = inputArray(in);
    scriptEcho(in.rest());
    JNIEnv* env = fakeEnv();
    if (selector < kIntCount) {
        const jint result = kIntMethods[selector](env, nullptr, array);
        FUZZ_CHECK(result >= -1 && result <= 0xFF, result);
        if (result == -1) FUZZ_CHECK(nothingSent(), selector);
    } else {
        const jintArray result = kArrayMethods[selector - kIntCount](env, nullptr, array);
        if (result == nullptr) {
            FUZZ_CHECK(nothingSent(), selector);
        } else {
            const std::vector<jint>& v = fake(result)->values;
            FUZZ_CHECK(!v.empty() && v.size() <= kResultCapacity, v.size());
            // The GS1 methods' results lie above the reader statuses.
            const bool gs1 = kArrayMethods[selector - kIntCount] == Java_Tessaly_MorventEpcDecode;
            FUZZ_CHECK(v[0] >= 0 && v[0] <= (gs1 ? MORVENT_EPC_ROOM : 0xFF), v[0]);
        }
    }
    FUZZ_CHECK(jni.held.empty(), jni.held.size());
    jni.arrays.clear();
    return 0;
}
