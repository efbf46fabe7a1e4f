// Native methods for the Gen2 and ISO 18000-6B tag commands.
#include <jni.h>

#include "core_loader.h"
#include "marshal.h"
#include "morvent.h"

using namespace tessaly;

namespace {

constexpr int kDataBufferSize = 8000;    // Gen2 read and write data, inventory records
constexpr int kData6BBufferSize = 600;   // 6B read data
constexpr int kWrite6BBufferSize = 100;  // 6B write data
constexpr int kRecord6BSize = 9;

// The outcome of the commands that report only a status and the tag's
// error code (0 where the core left it unwritten).
jintArray statusAndCode(JNIEnv* env, int status, int code) {
    Result result(status);
    result.add(code);
    return result.toJava(env);
}

// On success the data bytes; otherwise status and error code.
jintArray dataOrCode(JNIEnv* env, int status, const unsigned char* data, int count, int code) {
    if (status != MORVENT_OK) return statusAndCode(env, status, code);
    Result result(status);
    result.addBytes(data, count);
    return result.toJava(env);
}

// The input of a Gen2 command with tag addressing, read part by part in the
// order of the method's layout: address and EPC run first, then the
// method's own bytes, password and (where the method has one) write data,
// and the mask block and port last.
struct TagInput {
    unsigned char address = 0;
    EpcRun epc;
    unsigned char fields[3] = {};  // bank, word pointer, word count; or the method's codes
    unsigned char data[kDataBufferSize] = {};
    unsigned char password[4] = {};
    MaskBlock mask;
    int port = 0;
};

// The three places of the password among a Gen2 method's own bytes.
enum class Password {
    kFirst,        // right after the EPC run, before the fields (erase, kill, lock, EAS, block lock)
    kAfterFields,  // after bank, word pointer and word count (read)
    kAfterData,    // after those fields and the 2C write-data bytes (write, block write)
};

// Reads the input of a Gen2 method with tag addressing and `fields` bytes of
// its own; false when the array is short.
bool readTagInput(JNIEnv* env, jintArray array, int fields, Password password, TagInput& tag) {
    InputReader in(env, array);
    tag.address = in.byte();
    readEpcRun(in, tag.epc);
    if (password == Password::kFirst) in.bytes(tag.password, 4);
    in.bytes(tag.fields, fields);
    if (password == Password::kAfterData) in.bytes(tag.data, 2 * tag.fields[2]);
    if (password != Password::kFirst) in.bytes(tag.password, 4);
    readMaskBlock(in, tag.mask);
    tag.port = in.whole();
    return in.finish();
}

// Calls a Gen2 export whose arguments run: reader address, EPC, the
// method's own (`own`), mask block, error code, port. out: status, code.
template <typename Fn, typename... Own>
jintArray callMasked(JNIEnv* env, Fn* command, TagInput& tag, Own... own) {
    int code = 0;
    const int status = command(&tag.address, tag.epc.bytes, tag.epc.words, own..., tag.mask.bank, tag.mask.address,
                               tag.mask.bit_length, tag.mask.bytes, &code, tag.port);
    return statusAndCode(env, status, code);
}

// Write and block write share one layout and signature: memory fields,
// 2C data bytes, password.
using WriteG2 = decltype(WriteData_G2);

jintArray writeG2(JNIEnv* env, jintArray array, WriteG2* write) {
    TagInput tag;
    if (!readTagInput(env, array, 3, Password::kAfterData, tag) || write == nullptr) return nullptr;

    int code = 0;
    int status =
        write(&tag.address, tag.epc.bytes, tag.fields[2], tag.epc.words, tag.fields[0], tag.fields[1], tag.data,
              tag.password, tag.mask.bank, tag.mask.address, tag.mask.bit_length, tag.mask.bytes, &code, tag.port);
    return statusAndCode(env, status, code);
}

// Kill and privacy by EPC: password only.
using PasswordG2 = decltype(KillTag_G2);

jintArray passwordG2(JNIEnv* env, jintArray array, PasswordG2* command) {
    TagInput tag;
    if (!readTagInput(env, array, 0, Password::kFirst, tag) || command == nullptr) return nullptr;
    return callMasked(env, command, tag, tag.password);
}

// EAS configuration and block lock: password, then one code byte.
using CodeG2 = decltype(EASConfigure_G2);

jintArray passwordCodeG2(JNIEnv* env, jintArray array, CodeG2* command) {
    TagInput tag;
    if (!readTagInput(env, array, 1, Password::kFirst, tag) || command == nullptr) return nullptr;
    return callMasked(env, command, tag, tag.password, tag.fields[0]);
}

// Privacy set and reset of the tag in the field: password, port.
using FieldPrivacy = decltype(SetPrivacyWithoutEPC_G2);

jintArray fieldPrivacy(JNIEnv* env, jintArray array, FieldPrivacy* command) {
    RunInput<4> password;
    if (!readRunInput(env, array, password) || command == nullptr) return nullptr;

    int code = 0;
    int status = command(&password.address, password.bytes, &code, password.port);
    return statusAndCode(env, status, code);
}

// The input of the 6B methods that address one tag: after the reader
// address the tag's uid, then the address in its memory the method names
// (where it reads or writes, or the byte it locks); both read on
// construction.
class Uid6BInput : public MethodInput {
public:
    Uid6BInput(JNIEnv* env, jintArray array) : MethodInput(env, array) {
        bytes(uid, 8);
        at = byte();
    }

    unsigned char uid[8] = {};
    unsigned char at = 0;
};

}  // namespace

extern "C" {

// ---- Gen2 with tag addressing ---------------------------------------------

// in: address, EPC run, bank, word pointer, word count C, 2C data bytes,
// password, mask block, port.
TESSALY_LAYOUT(WriteData_1G2, writeG2, WriteData_G2)
TESSALY_LAYOUT(BlockWrite_1G2, writeG2, BlockWrite_G2)
// in: address, EPC run, password, mask block, port.
TESSALY_LAYOUT(KillTag_1G2, passwordG2, KillTag_G2)
TESSALY_LAYOUT(SetPrivacyByEPC_1G2, passwordG2, SetPrivacyByEPC_G2)
// in: address, EPC run, password, the EAS state or block lock code, mask block, port.
TESSALY_LAYOUT(EASConfigure_1G2, passwordCodeG2, EASConfigure_G2)
TESSALY_LAYOUT(BlockLock_1G2, passwordCodeG2, BlockLock_G2)

// in: address, EPC run, bank, word pointer, word count C, password, mask
// block, port. out: status 0: status and 2C data bytes; else status, code.
JNIEXPORT jintArray JNICALL Java_Tessaly_ReadData_1G2(JNIEnv* env, jclass, jintArray array) {
    auto read = TESSALY_BIND(ReadData_G2);
    TagInput tag;
    if (!readTagInput(env, array, 3, Password::kAfterFields, tag) || read == nullptr) return nullptr;

    int code = 0;
    int status =
        read(&tag.address, tag.epc.bytes, tag.epc.words, tag.fields[0], tag.fields[1], tag.fields[2], tag.password,
             tag.mask.bank, tag.mask.address, tag.mask.bit_length, tag.mask.bytes, tag.data, &code, tag.port);
    return dataOrCode(env, status, tag.data, 2 * tag.fields[2], code);
}

// in: address, EPC run (the new EPC), password, port. The password comes
// after the EPC here but goes to the core before it.
JNIEXPORT jintArray JNICALL Java_Tessaly_WriteEPC_1G2(JNIEnv* env, jclass, jintArray array) {
    auto write_epc = TESSALY_BIND(WriteEPC_G2);
    MethodInput in(env, array);
    EpcRun epc;
    readEpcRun(in, epc);
    unsigned char password[4] = {};
    in.bytes(password, 4);
    if (!in.finishWithPort() || write_epc == nullptr) return nullptr;

    int code = 0;
    int status = write_epc(&in.address, password, epc.bytes, epc.words, &code, in.port);
    return statusAndCode(env, status, code);
}

// in: address, EPC run, password, bank, word pointer, word count, mask block, port.
JNIEXPORT jintArray JNICALL Java_Tessaly_BlockErase_1G2(JNIEnv* env, jclass, jintArray array) {
    auto erase = TESSALY_BIND(BlockErase_G2);
    TagInput tag;
    if (!readTagInput(env, array, 3, Password::kFirst, tag) || erase == nullptr) return nullptr;
    return callMasked(env, erase, tag, tag.fields[0], tag.fields[1], tag.fields[2], tag.password);
}

// in: address, EPC run, password, lock target, lock mode, mask block, port.
JNIEXPORT jintArray JNICALL Java_Tessaly_Lock_1G2(JNIEnv* env, jclass, jintArray array) {
    auto lock = TESSALY_BIND(Lock_G2);
    TagInput tag;
    if (!readTagInput(env, array, 2, Password::kFirst, tag) || lock == nullptr) return nullptr;
    return callMasked(env, lock, tag, tag.fields[0], tag.fields[1], tag.password);
}

// ---- Gen2 without tag addressing --------------------------------------------

// in: address, password, port.
TESSALY_LAYOUT(SetPrivacyWithoutEPC_1G2, fieldPrivacy, SetPrivacyWithoutEPC_G2)
TESSALY_LAYOUT(ResetPrivacy_1G2, fieldPrivacy, ResetPrivacy_G2)

// in: address, mask block, mask flag, TID address, TID length, TID flag,
// port. out: status, tag count N, then (N > 0) frame info, byte count T and
// the T record bytes, or zeros; always T + 4 elements.
JNIEXPORT jintArray JNICALL Java_Tessaly_Inventory_1G2(JNIEnv* env, jclass, jintArray array) {
    auto inventory = TESSALY_BIND(Inventory_G2);
    MethodInput in(env, array);
    MaskBlock mask;
    readMaskBlock(in, mask);
    unsigned char mask_flag = in.byte();
    unsigned char tid_address = in.byte();
    unsigned char tid_length = in.byte();
    unsigned char tid_flag = in.byte();
    if (!in.finishWithPort() || inventory == nullptr) return nullptr;

    unsigned char records[kDataBufferSize] = {};
    unsigned char frame_info = 0;
    int total = 0;
    int tags = 0;
    Result result(inventory(&in.address, mask.bank, mask.address, mask.bit_length, mask.bytes, mask_flag, tid_address,
                            tid_length, tid_flag, records, &frame_info, &total, &tags, in.port));
    total = clampCount(total, kDataBufferSize);
    result.add(tags);
    if (tags > 0) {
        result.add(frame_info);
        result.add(total);
        result.addBytes(records, total);
    } else {
        result.addZeros(total + 2);
    }
    return result.toJava(env);
}

// out: status 0: status, privacy state; else status, error code.
JNIEXPORT jintArray JNICALL Java_Tessaly_CheckPrivacy_1G2(JNIEnv* env, jclass, jintArray array) {
    auto check = TESSALY_BIND(CheckPrivacy_G2);
    Target target;
    if (!readTarget(env, array, target) || check == nullptr) return nullptr;

    unsigned char state = 0;
    int code = 0;
    int status = check(&target.address, &state, &code, target.port);
    return dataOrCode(env, status, &state, 1, code);
}

JNIEXPORT jintArray JNICALL Java_Tessaly_EASAlarm_1G2(JNIEnv* env, jclass, jintArray array) {
    auto alarm = TESSALY_BIND(EASAlarm_G2);
    Target target;
    if (!readTarget(env, array, target) || alarm == nullptr) return nullptr;

    int code = 0;
    int status = alarm(&target.address, &code, target.port);
    return statusAndCode(env, status, code);
}

// ---- ISO 18000-6B ----------------------------------------------------------

// out: status, the nine bytes of the tag record.
TESSALY_LAYOUT(InventorySingle_16B, bytesQuery<kRecord6BSize>, InventorySingle_6B)

// in: address, condition, start address, compare mask, eight compare bytes,
// port. out: status, tag count N, then N nine-byte records.
JNIEXPORT jintArray JNICALL Java_Tessaly_InventoryMultiple_16B(JNIEnv* env, jclass, jintArray array) {
    auto inventory = TESSALY_BIND(InventoryMultiple_6B);
    MethodInput in(env, array);
    unsigned char condition = in.byte();
    unsigned char start = in.byte();
    unsigned char compare_mask = in.byte();
    unsigned char compare_data[8] = {};
    in.bytes(compare_data, 8);
    if (!in.finishWithPort() || inventory == nullptr) return nullptr;

    unsigned char records[kDataBufferSize] = {};
    int tags = 0;
    Result result(inventory(&in.address, condition, start, compare_mask, compare_data, records, &tags, in.port));
    tags = clampCount(tags, kDataBufferSize / kRecord6BSize);
    result.add(tags);
    result.addBytes(records, tags * kRecord6BSize);
    return result.toJava(env);
}

// in: address, uid, start address, byte count B, port.
// out: status 0: status and B bytes; else status, error code.
JNIEXPORT jintArray JNICALL Java_Tessaly_ReadData_16B(JNIEnv* env, jclass, jintArray array) {
    auto read = TESSALY_BIND(ReadData_6B);
    Uid6BInput in(env, array);
    unsigned char count = in.byte();
    if (!in.finishWithPort() || read == nullptr) return nullptr;

    unsigned char data[kData6BBufferSize] = {};
    int code = 0;
    int status = read(&in.address, in.uid, in.at, count, data, &code, in.port);
    return dataOrCode(env, status, data, count, code);
}

// in: address, uid, start address, length B, B bytes, port. A B above the
// 100-byte write buffer is refused with [255, 0] before anything is sent.
JNIEXPORT jintArray JNICALL Java_Tessaly_WriteData_16B(JNIEnv* env, jclass, jintArray array) {
    auto write = TESSALY_BIND(WriteData_6B);
    Uid6BInput in(env, array);
    unsigned char length = in.byte();
    if (length > kWrite6BBufferSize) {
        if (!in.finish() || write == nullptr) return nullptr;
        return statusAndCode(env, MORVENT_PARAM_RANGE, 0);
    }
    unsigned char data[kWrite6BBufferSize] = {};
    in.bytes(data, length);
    if (!in.finishWithPort() || write == nullptr) return nullptr;

    unsigned char written = 0;
    int code = 0;
    int status = write(&in.address, in.uid, in.at, data, length, &written, &code, in.port);
    return statusAndCode(env, status, code);
}

JNIEXPORT jintArray JNICALL Java_Tessaly_Lock_16B(JNIEnv* env, jclass, jintArray array) {
    auto lock = TESSALY_BIND(Lock_6B);
    Uid6BInput in(env, array);
    if (!in.finishWithPort() || lock == nullptr) return nullptr;

    int code = 0;
    int status = lock(&in.address, in.uid, in.at, &code, in.port);
    return statusAndCode(env, status, code);
}

// out: status 0: status, lock state; else status, error code.
JNIEXPORT jintArray JNICALL Java_Tessaly_CheckLock_16B(JNIEnv* env, jclass, jintArray array) {
    auto check = TESSALY_BIND(CheckLock_6B);
    Uid6BInput in(env, array);
    if (!in.finishWithPort() || check == nullptr) return nullptr;

    unsigned char state = 0;
    int code = 0;
    int status = check(&in.address, in.uid, in.at, &state, &code, in.port);
    return dataOrCode(env, status, &state, 1, code);
}

}  // extern "C"
