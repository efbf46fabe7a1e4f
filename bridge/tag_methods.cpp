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

void readHead(InputReader& in, TagInput& tag) {
    tag.address = in.byte();
    readEpcRun(in, tag.epc);
}

void readFields(InputReader& in, TagInput& tag, int count) { in.bytes(tag.fields, count); }

void readPassword(InputReader& in, TagInput& tag) { in.bytes(tag.password, 4); }

void readMaskAndPort(InputReader& in, TagInput& tag) {
    readMaskBlock(in, tag.mask);
    tag.port = in.whole();
}

// Write and block write share one layout and signature: memory fields,
// 2C data bytes, password.
using WriteG2 = decltype(WriteData_G2);

jintArray writeG2(JNIEnv* env, jintArray array, WriteG2* write) {
    InputReader in(env, array);
    TagInput tag;
    readHead(in, tag);
    readFields(in, tag, 3);
    in.bytes(tag.data, 2 * tag.fields[2]);
    readPassword(in, tag);
    readMaskAndPort(in, tag);
    if (!in.finish() || write == nullptr) return nullptr;

    int code = 0;
    int status = write(&tag.address, tag.epc.bytes, tag.fields[2], tag.epc.words, tag.fields[0],
                       tag.fields[1], tag.data, tag.password, tag.mask.bank, tag.mask.address,
                       tag.mask.bit_length, tag.mask.bytes, &code, tag.port);
    return statusAndCode(env, status, code);
}

// Kill and privacy by EPC: password only.
using PasswordG2 = decltype(KillTag_G2);

jintArray passwordG2(JNIEnv* env, jintArray array, PasswordG2* command) {
    InputReader in(env, array);
    TagInput tag;
    readHead(in, tag);
    readPassword(in, tag);
    readMaskAndPort(in, tag);
    if (!in.finish() || command == nullptr) return nullptr;

    int code = 0;
    int status = command(&tag.address, tag.epc.bytes, tag.epc.words, tag.password, tag.mask.bank,
                         tag.mask.address, tag.mask.bit_length, tag.mask.bytes, &code, tag.port);
    return statusAndCode(env, status, code);
}

// EAS configuration and block lock: password, then one code byte.
using CodeG2 = decltype(EASConfigure_G2);

jintArray passwordCodeG2(JNIEnv* env, jintArray array, CodeG2* command) {
    InputReader in(env, array);
    TagInput tag;
    readHead(in, tag);
    readPassword(in, tag);
    readFields(in, tag, 1);
    readMaskAndPort(in, tag);
    if (!in.finish() || command == nullptr) return nullptr;

    int code = 0;
    int status = command(&tag.address, tag.epc.bytes, tag.epc.words, tag.password, tag.fields[0],
                         tag.mask.bank, tag.mask.address, tag.mask.bit_length, tag.mask.bytes, &code,
                         tag.port);
    return statusAndCode(env, status, code);
}

// Privacy set and reset of the tag in the field: password, port.
using FieldPrivacy = decltype(SetPrivacyWithoutEPC_G2);

jintArray fieldPrivacy(JNIEnv* env, jintArray array, FieldPrivacy* command) {
    InputReader in(env, array);
    unsigned char address = in.byte();
    unsigned char password[4] = {};
    in.bytes(password, 4);
    int port = in.whole();
    if (!in.finish() || command == nullptr) return nullptr;

    int code = 0;
    int status = command(&address, password, &code, port);
    return statusAndCode(env, status, code);
}

// 6B lock: uid, lock address, port.
struct LockTarget6B {
    unsigned char address = 0;
    unsigned char uid[8] = {};
    unsigned char lock_address = 0;
    int port = 0;
};

bool readLockTarget(JNIEnv* env, jintArray array, LockTarget6B& target) {
    InputReader in(env, array);
    target.address = in.byte();
    in.bytes(target.uid, 8);
    target.lock_address = in.byte();
    target.port = in.whole();
    return in.finish();
}

}  // namespace

extern "C" {

// ---- Gen2 with tag addressing ---------------------------------------------

// in: address, EPC run, bank, word pointer, word count C, password, mask
// block, port. out: status 0: status and 2C data bytes; else status, code.
JNIEXPORT jintArray JNICALL Java_Tessaly_ReadData_1G2(JNIEnv* env, jclass, jintArray array) {
    auto read = TESSALY_BIND(ReadData_G2);
    InputReader in(env, array);
    TagInput tag;
    readHead(in, tag);
    readFields(in, tag, 3);
    readPassword(in, tag);
    readMaskAndPort(in, tag);
    if (!in.finish() || read == nullptr) return nullptr;

    int code = 0;
    int status = read(&tag.address, tag.epc.bytes, tag.epc.words, tag.fields[0], tag.fields[1],
                      tag.fields[2], tag.password, tag.mask.bank, tag.mask.address, tag.mask.bit_length,
                      tag.mask.bytes, tag.data, &code, tag.port);
    return dataOrCode(env, status, tag.data, 2 * tag.fields[2], code);
}

// in: address, EPC run, bank, word pointer, word count C, 2C data bytes,
// password, mask block, port.
JNIEXPORT jintArray JNICALL Java_Tessaly_WriteData_1G2(JNIEnv* env, jclass, jintArray array) {
    return writeG2(env, array, TESSALY_BIND(WriteData_G2));
}

JNIEXPORT jintArray JNICALL Java_Tessaly_BlockWrite_1G2(JNIEnv* env, jclass, jintArray array) {
    return writeG2(env, array, TESSALY_BIND(BlockWrite_G2));
}

// in: address, EPC run (the new EPC), password, port. The password comes
// after the EPC here but goes to the core before it.
JNIEXPORT jintArray JNICALL Java_Tessaly_WriteEPC_1G2(JNIEnv* env, jclass, jintArray array) {
    auto write_epc = TESSALY_BIND(WriteEPC_G2);
    InputReader in(env, array);
    TagInput tag;
    readHead(in, tag);
    readPassword(in, tag);
    tag.port = in.whole();
    if (!in.finish() || write_epc == nullptr) return nullptr;

    int code = 0;
    int status = write_epc(&tag.address, tag.password, tag.epc.bytes, tag.epc.words, &code, tag.port);
    return statusAndCode(env, status, code);
}

// in: address, EPC run, password, bank, word pointer, word count, mask block, port.
JNIEXPORT jintArray JNICALL Java_Tessaly_BlockErase_1G2(JNIEnv* env, jclass, jintArray array) {
    auto erase = TESSALY_BIND(BlockErase_G2);
    InputReader in(env, array);
    TagInput tag;
    readHead(in, tag);
    readPassword(in, tag);
    readFields(in, tag, 3);
    readMaskAndPort(in, tag);
    if (!in.finish() || erase == nullptr) return nullptr;

    int code = 0;
    int status = erase(&tag.address, tag.epc.bytes, tag.epc.words, tag.fields[0], tag.fields[1],
                       tag.fields[2], tag.password, tag.mask.bank, tag.mask.address, tag.mask.bit_length,
                       tag.mask.bytes, &code, tag.port);
    return statusAndCode(env, status, code);
}

JNIEXPORT jintArray JNICALL Java_Tessaly_KillTag_1G2(JNIEnv* env, jclass, jintArray array) {
    return passwordG2(env, array, TESSALY_BIND(KillTag_G2));
}

JNIEXPORT jintArray JNICALL Java_Tessaly_SetPrivacyByEPC_1G2(JNIEnv* env, jclass, jintArray array) {
    return passwordG2(env, array, TESSALY_BIND(SetPrivacyByEPC_G2));
}

// in: address, EPC run, password, lock target, lock mode, mask block, port.
JNIEXPORT jintArray JNICALL Java_Tessaly_Lock_1G2(JNIEnv* env, jclass, jintArray array) {
    auto lock = TESSALY_BIND(Lock_G2);
    InputReader in(env, array);
    TagInput tag;
    readHead(in, tag);
    readPassword(in, tag);
    readFields(in, tag, 2);
    readMaskAndPort(in, tag);
    if (!in.finish() || lock == nullptr) return nullptr;

    int code = 0;
    int status = lock(&tag.address, tag.epc.bytes, tag.epc.words, tag.fields[0], tag.fields[1],
                      tag.password, tag.mask.bank, tag.mask.address, tag.mask.bit_length, tag.mask.bytes,
                      &code, tag.port);
    return statusAndCode(env, status, code);
}

JNIEXPORT jintArray JNICALL Java_Tessaly_EASConfigure_1G2(JNIEnv* env, jclass, jintArray array) {
    return passwordCodeG2(env, array, TESSALY_BIND(EASConfigure_G2));
}

JNIEXPORT jintArray JNICALL Java_Tessaly_BlockLock_1G2(JNIEnv* env, jclass, jintArray array) {
    return passwordCodeG2(env, array, TESSALY_BIND(BlockLock_G2));
}

// ---- Gen2 without tag addressing --------------------------------------------

// in: address, mask block, mask flag, TID address, TID length, TID flag,
// port. out: status, tag count N, then (N > 0) frame info, byte count T and
// the T record bytes, or zeros; always T + 4 elements.
JNIEXPORT jintArray JNICALL Java_Tessaly_Inventory_1G2(JNIEnv* env, jclass, jintArray array) {
    auto inventory = TESSALY_BIND(Inventory_G2);
    InputReader in(env, array);
    unsigned char address = in.byte();
    MaskBlock mask;
    readMaskBlock(in, mask);
    unsigned char mask_flag = in.byte();
    unsigned char tid_address = in.byte();
    unsigned char tid_length = in.byte();
    unsigned char tid_flag = in.byte();
    int port = in.whole();
    if (!in.finish() || inventory == nullptr) return nullptr;

    unsigned char records[kDataBufferSize] = {};
    unsigned char frame_info = 0;
    int total = 0;
    int tags = 0;
    Result result(inventory(&address, mask.bank, mask.address, mask.bit_length, mask.bytes, mask_flag,
                            tid_address, tid_length, tid_flag, records, &frame_info, &total, &tags,
                            port));
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

JNIEXPORT jintArray JNICALL Java_Tessaly_SetPrivacyWithoutEPC_1G2(JNIEnv* env, jclass, jintArray array) {
    return fieldPrivacy(env, array, TESSALY_BIND(SetPrivacyWithoutEPC_G2));
}

JNIEXPORT jintArray JNICALL Java_Tessaly_ResetPrivacy_1G2(JNIEnv* env, jclass, jintArray array) {
    return fieldPrivacy(env, array, TESSALY_BIND(ResetPrivacy_G2));
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
JNIEXPORT jintArray JNICALL Java_Tessaly_InventorySingle_16B(JNIEnv* env, jclass, jintArray array) {
    auto inventory = TESSALY_BIND(InventorySingle_6B);
    Target target;
    if (!readTarget(env, array, target) || inventory == nullptr) return nullptr;

    unsigned char record[kRecord6BSize] = {};
    Result result(inventory(&target.address, record, target.port));
    result.addBytes(record, kRecord6BSize);
    return result.toJava(env);
}

// in: address, condition, start address, compare mask, eight compare bytes,
// port. out: status, tag count N, then N nine-byte records.
JNIEXPORT jintArray JNICALL Java_Tessaly_InventoryMultiple_16B(JNIEnv* env, jclass, jintArray array) {
    auto inventory = TESSALY_BIND(InventoryMultiple_6B);
    InputReader in(env, array);
    unsigned char address = in.byte();
    unsigned char condition = in.byte();
    unsigned char start = in.byte();
    unsigned char compare_mask = in.byte();
    unsigned char compare_data[8] = {};
    in.bytes(compare_data, 8);
    int port = in.whole();
    if (!in.finish() || inventory == nullptr) return nullptr;

    unsigned char records[kDataBufferSize] = {};
    int tags = 0;
    Result result(inventory(&address, condition, start, compare_mask, compare_data, records, &tags, port));
    tags = clampCount(tags, kDataBufferSize / kRecord6BSize);
    result.add(tags);
    result.addBytes(records, tags * kRecord6BSize);
    return result.toJava(env);
}

// in: address, uid, start address, byte count B, port.
// out: status 0: status and B bytes; else status, error code.
JNIEXPORT jintArray JNICALL Java_Tessaly_ReadData_16B(JNIEnv* env, jclass, jintArray array) {
    auto read = TESSALY_BIND(ReadData_6B);
    InputReader in(env, array);
    unsigned char address = in.byte();
    unsigned char uid[8] = {};
    in.bytes(uid, 8);
    unsigned char start = in.byte();
    unsigned char count = in.byte();
    int port = in.whole();
    if (!in.finish() || read == nullptr) return nullptr;

    unsigned char data[kData6BBufferSize] = {};
    int code = 0;
    int status = read(&address, uid, start, count, data, &code, port);
    return dataOrCode(env, status, data, count, code);
}

// in: address, uid, start address, length B, B bytes, port. A B above the
// 100-byte write buffer is refused with [255, 0] before anything is sent.
JNIEXPORT jintArray JNICALL Java_Tessaly_WriteData_16B(JNIEnv* env, jclass, jintArray array) {
    auto write = TESSALY_BIND(WriteData_6B);
    InputReader in(env, array);
    unsigned char address = in.byte();
    unsigned char uid[8] = {};
    in.bytes(uid, 8);
    unsigned char start = in.byte();
    unsigned char length = in.byte();
    if (length > kWrite6BBufferSize) {
        if (!in.finish() || write == nullptr) return nullptr;
        return statusAndCode(env, MORVENT_PARAM_RANGE, 0);
    }
    unsigned char data[kWrite6BBufferSize] = {};
    in.bytes(data, length);
    int port = in.whole();
    if (!in.finish() || write == nullptr) return nullptr;

    unsigned char written = 0;
    int code = 0;
    int status = write(&address, uid, start, data, length, &written, &code, port);
    return statusAndCode(env, status, code);
}

JNIEXPORT jintArray JNICALL Java_Tessaly_Lock_16B(JNIEnv* env, jclass, jintArray array) {
    auto lock = TESSALY_BIND(Lock_6B);
    LockTarget6B target;
    if (!readLockTarget(env, array, target) || lock == nullptr) return nullptr;

    int code = 0;
    int status = lock(&target.address, target.uid, target.lock_address, &code, target.port);
    return statusAndCode(env, status, code);
}

// out: status 0: status, lock state; else status, error code.
JNIEXPORT jintArray JNICALL Java_Tessaly_CheckLock_16B(JNIEnv* env, jclass, jintArray array) {
    auto check = TESSALY_BIND(CheckLock_6B);
    LockTarget6B target;
    if (!readLockTarget(env, array, target) || check == nullptr) return nullptr;

    unsigned char state = 0;
    int code = 0;
    int status = check(&target.address, target.uid, target.lock_address, &state, &code, target.port);
    return dataOrCode(env, status, &state, 1, code);
}

}  // extern "C"
