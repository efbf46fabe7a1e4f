// Native methods over the core's GS1 codec. Texts travel as they do in the
// other methods' results: one element per character.
#include <jni.h>

#include <cstring>

#include "core_loader.h"
#include "marshal.h"
#include "morvent.h"

using namespace tessaly;

namespace {

constexpr int kMaxEpcBytes = 255;         // more than any EPC memory holds
constexpr jsize kMaxIdentityUnits = 300;  // the core refuses texts over 256 characters

void addText(Result& result, const char* text) {
    const int length = static_cast<int>(std::strlen(text));
    result.add(length);
    result.addBytes(reinterpret_cast<const unsigned char*>(text), length);
}

}  // namespace

extern "C" {

// in: part, byte count N (0..255), the N EPC bytes.
// out: status, text length L, the L characters.
JNIEXPORT jintArray JNICALL Java_Tessaly_MorventEpcDecode(JNIEnv* env, jclass, jintArray array) {
    auto decode = TESSALY_BIND(MorventEpcDecode);
    InputReader in(env, array);
    const int part = in.whole();
    const int count = in.whole();
    unsigned char epc[kMaxEpcBytes] = {};
    const bool counted = count >= 0 && count <= kMaxEpcBytes;
    if (counted) in.bytes(epc, count);
    if (!in.finish() || !counted || decode == nullptr) return nullptr;

    char text[MORVENT_EPC_TEXT_ROOM] = {};
    Result result(decode(epc, count, part, text, sizeof text));
    addText(result, text);
    return result.toJava(env);
}

// in: filter, bits, company prefix digits; identity: the text, of which the
// first 300 units reach the core, a zero unit or one beyond ASCII as 0x7F,
// which the core refuses (a zero unit would end the text early).
// out: status, EPC byte count N, the N bytes, message length L, the L characters.
JNIEXPORT jintArray JNICALL Java_Tessaly_MorventEpcEncode(JNIEnv* env, jclass, jintArray array, jstring identity) {
    auto encode = TESSALY_BIND(MorventEpcEncode);
    InputReader in(env, array);
    const int filter = in.whole();
    const int bits = in.whole();
    const int prefix_digits = in.whole();
    if (!in.finish() || identity == nullptr || encode == nullptr) return nullptr;

    const jsize length = env->GetStringLength(identity);
    const jsize taken = length < kMaxIdentityUnits ? length : kMaxIdentityUnits;
    jchar units[kMaxIdentityUnits] = {};
    env->GetStringRegion(identity, 0, taken, units);
    char text[kMaxIdentityUnits + 1] = {};
    for (jsize i = 0; i < taken; ++i) text[i] = units[i] != 0 && units[i] < 0x80 ? static_cast<char>(units[i]) : 0x7F;

    unsigned char epc[MORVENT_EPC_MAX_BYTES] = {};
    int size = 0;
    char message[MORVENT_EPC_TEXT_ROOM] = {};
    Result result(encode(text, filter, bits, prefix_digits, epc, &size, message, sizeof message));
    size = clampCount(size, MORVENT_EPC_MAX_BYTES);
    result.add(size);
    result.addBytes(epc, size);
    addText(result, message);
    return result.toJava(env);
}

}  // extern "C"
