#include "fuzz/operations.h"

#include <cstring>

#include "link/ports.h"
#include "morvent.h"

// The command families are linked in as they are built; an export that is
// not there yet is skipped rather than failing the link.
#pragma weak GetReaderInformation
#pragma weak SingleTagInventory_G2
#pragma weak ReadData_G2
#pragma weak WriteData_G2
#pragma weak BlockWrite_G2
#pragma weak WriteEPC_G2
#pragma weak BlockErase_G2
#pragma weak KillTag_G2
#pragma weak Lock_G2
#pragma weak SetPrivacyByEPC_G2
#pragma weak SetPrivacyWithoutEPC_G2
#pragma weak ResetPrivacy_G2
#pragma weak CheckPrivacy_G2
#pragma weak EASConfigure_G2
#pragma weak EASAlarm_G2
#pragma weak BlockLock_G2
#pragma weak InventorySingle_6B
#pragma weak InventoryMultiple_6B
#pragma weak ReadData_6B
#pragma weak WriteData_6B
#pragma weak Lock_6B
#pragma weak CheckLock_6B
#pragma weak SetRegion
#pragma weak SetAddress
#pragma weak SetInventoryScanTime
#pragma weak SetBaudRate
#pragma weak SetRfPower
#pragma weak BuzzerAndLEDControl
#pragma weak SetWorkMode
#pragma weak GetSystemParameter
#pragma weak SetEASSensitivity
#pragma weak SetMask
#pragma weak SetResponsePamametersofAuto_runningMode
#pragma weak SetInventoryInterval
#pragma weak SelectTagType
#pragma weak SetAntennaMultiplexing
#pragma weak SetBeepNotification
#pragma weak SetTriggerTime
#pragma weak SetTIDParameter
#pragma weak SetRevDelay
#pragma weak GetRevDelay
#pragma weak SetReal_timeClock
#pragma weak GetTime
#pragma weak ClearTagBuffer
#pragma weak SetRelay
#pragma weak SetGPIO
#pragma weak GetGPIOStatus
#pragma weak SetNotificationPulseOutput
#pragma weak InSelfTestMode
#pragma weak SetDAC
#pragma weak GetDAC
#pragma weak CheckPowerParameter
#pragma weak SolidifyDACandPowerlist
#pragma weak GetStartInformation
#pragma weak RfOutput
#pragma weak DeleteRfOutput
#pragma weak SetSeriaNo
#pragma weak GetSeriaNo
#pragma weak ChangeATMode
#pragma weak TransparentCMD

namespace fuzz {

std::uint8_t* Call::out(std::size_t size, std::uint8_t when) {
    outputs.push_back(Output{std::make_unique<Guarded>(size), when});
    return outputs.back().buffer->data();
}

std::uint8_t* Call::in_(std::size_t size) {
    auto buffer = std::make_unique<Guarded>(size, 0);
    in.bytes(buffer->data(), size);
    auto copy = std::make_unique<Guarded>(size, 0);
    std::memcpy(copy->data(), buffer->data(), size);
    inputs.push_back(Input_{std::move(buffer), std::move(copy)});
    return inputs.back().buffer->data();
}

std::uint8_t* Call::address(std::uint8_t when) {
    outputs.push_back(Output{std::make_unique<Guarded>(1, in.byte()), when});
    return outputs.back().buffer->data();
}

namespace {

// The mask argument of an addressed command: the kit reads ceil(bits / 8)
// bytes of it, so it is exactly that long.
struct MaskArgs {
    std::uint8_t bank, bits;
    std::uint8_t* address;
    std::uint8_t* bytes;
};

MaskArgs maskArgs(Call& c) {
    MaskArgs m{};
    m.bank = c.arg();
    m.address = c.in_(2);
    m.bits = c.arg();
    m.bytes = c.in_((m.bits + 7u) / 8u);
    return m;
}

// An EPC argument: the kit reads 2 * words bytes of it when words < 16.
std::uint8_t* epcArg(Call& c, std::uint8_t words) { return c.in_(words < 16 ? 2u * words : 0u); }

constexpr std::uint8_t kErr = kOn0 | kOnFC;

// One-byte setters: Adr, one value, the port.
template <int (*Fn)(unsigned char*, unsigned char, int), std::uint8_t AddressWhen>
int setter(Call& c) {
    std::uint8_t* adr = c.address(AddressWhen);
    const std::uint8_t value = c.arg();
    c.ready();
    return Fn(adr, value, c.port);
}

// Two-byte setters.
template <int (*Fn)(unsigned char*, unsigned char, unsigned char, int), std::uint8_t AddressWhen>
int setter2(Call& c) {
    std::uint8_t* adr = c.address(AddressWhen);
    const std::uint8_t a = c.arg(), b = c.arg();
    c.ready();
    return Fn(adr, a, b, c.port);
}

// Queries that fill one buffer of a fixed size.
template <int (*Fn)(unsigned char*, unsigned char*, int), std::uint8_t AddressWhen, std::size_t Size = 1,
          std::uint8_t OutWhen = kOn0>
int bufferQuery(Call& c) {
    std::uint8_t* adr = c.address(AddressWhen);
    std::uint8_t* out = c.out(Size, OutWhen);
    c.ready();
    return Fn(adr, out, c.port);
}

// Queries that fill one int.
template <int (*Fn)(unsigned char*, int*, int), std::uint8_t AddressWhen, std::uint8_t OutWhen>
int intQuery(Call& c) {
    std::uint8_t* adr = c.address(AddressWhen);
    int* out = c.intOut(OutWhen);
    c.ready();
    return Fn(adr, out, c.port);
}

// Setters that send one buffer of a fixed size.
template <int (*Fn)(unsigned char*, unsigned char*, int), std::size_t Size>
int bufferSetter(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    std::uint8_t* in = c.in_(Size);
    c.ready();
    return Fn(adr, in, c.port);
}

int getReaderInformation(Call& c) {
    std::uint8_t* adr = c.address(kOn0);
    std::uint8_t* pair = c.out(2, kOn0);
    std::uint8_t* b[9];
    for (auto& p : b) p = c.out(1, kOn0);
    c.ready();
    return GetReaderInformation(adr, pair, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], c.port);
}

int singleTagInventory(Call& c) {
    std::uint8_t* adr = c.address(kOn01);
    std::uint8_t* tags = c.out(250, kOn01);
    int* count = c.intOut(kOn01);
    c.ready();
    return SingleTagInventory_G2(adr, tags, nullptr, count, c.port);
}

int readDataG2(Call& c) {
    std::uint8_t* adr = c.address(kOn0);
    const std::uint8_t words = c.arg(), bank = c.arg(), pointer = c.arg(), count = c.arg();
    std::uint8_t* epc = epcArg(c, words);
    std::uint8_t* password = c.in_(4);
    const MaskArgs m = maskArgs(c);
    std::uint8_t* data = c.out(2u * count, kOn0);
    int* error = c.intOut(kErr);
    c.ready();
    return ReadData_G2(adr, epc, words, bank, pointer, count, password, m.bank, m.address, m.bits, m.bytes,
                       data, error, c.port);
}

template <int (*Fn)(unsigned char*, unsigned char*, unsigned char, unsigned char, unsigned char,
                    unsigned char, unsigned char*, unsigned char*, unsigned char, unsigned char*,
                    unsigned char, unsigned char*, int*, int)>
int writeDataG2(Call& c) {
    std::uint8_t* adr = c.address(kOn0);
    const std::uint8_t writeWords = c.arg(), words = c.arg(), bank = c.arg(), pointer = c.arg();
    std::uint8_t* epc = epcArg(c, words);
    std::uint8_t* data = c.in_(2u * writeWords);
    std::uint8_t* password = c.in_(4);
    const MaskArgs m = maskArgs(c);
    int* error = c.intOut(kErr);
    c.ready();
    return Fn(adr, epc, writeWords, words, bank, pointer, data, password, m.bank, m.address, m.bits, m.bytes,
              error, c.port);
}

int writeEpcG2(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    const std::uint8_t words = c.arg();
    std::uint8_t* password = c.in_(4);
    std::uint8_t* epc = c.in_(2u * words);
    int* error = c.intOut(kErr);
    c.ready();
    return WriteEPC_G2(adr, password, epc, words, error, c.port);
}

int blockEraseG2(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    const std::uint8_t words = c.arg(), bank = c.arg(), pointer = c.arg(), count = c.arg();
    std::uint8_t* epc = epcArg(c, words);
    std::uint8_t* password = c.in_(4);
    const MaskArgs m = maskArgs(c);
    int* error = c.intOut(kErr);
    c.ready();
    return BlockErase_G2(adr, epc, words, bank, pointer, count, password, m.bank, m.address, m.bits, m.bytes,
                         error, c.port);
}

// Kill and privacy-by-EPC: EPC, a 4-byte password, the mask.
template <int (*Fn)(unsigned char*, unsigned char*, unsigned char, unsigned char*, unsigned char,
                    unsigned char*, unsigned char, unsigned char*, int*, int)>
int addressedWithPassword(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    const std::uint8_t words = c.arg();
    std::uint8_t* epc = epcArg(c, words);
    std::uint8_t* password = c.in_(4);
    const MaskArgs m = maskArgs(c);
    int* error = c.intOut(kErr);
    c.ready();
    return Fn(adr, epc, words, password, m.bank, m.address, m.bits, m.bytes, error, c.port);
}

int lockG2(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    const std::uint8_t words = c.arg(), target = c.arg(), mode = c.arg();
    std::uint8_t* epc = epcArg(c, words);
    std::uint8_t* password = c.in_(4);
    const MaskArgs m = maskArgs(c);
    int* error = c.intOut(kErr);
    c.ready();
    return Lock_G2(adr, epc, words, target, mode, password, m.bank, m.address, m.bits, m.bytes, error, c.port);
}

// EAS configuration and block lock: EPC, password, one code byte, the mask.
template <int (*Fn)(unsigned char*, unsigned char*, unsigned char, unsigned char*, unsigned char,
                    unsigned char, unsigned char*, unsigned char, unsigned char*, int*, int),
          std::uint8_t AddressWhen>
int addressedWithCode(Call& c) {
    std::uint8_t* adr = c.address(AddressWhen);
    const std::uint8_t words = c.arg(), code = c.arg();
    std::uint8_t* epc = epcArg(c, words);
    std::uint8_t* password = c.in_(4);
    const MaskArgs m = maskArgs(c);
    int* error = c.intOut(kErr);
    c.ready();
    return Fn(adr, epc, words, password, code, m.bank, m.address, m.bits, m.bytes, error, c.port);
}

template <int (*Fn)(unsigned char*, unsigned char*, int*, int)>
int privacy(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    std::uint8_t* password = c.in_(4);
    int* error = c.intOut(kErr);
    c.ready();
    return Fn(adr, password, error, c.port);
}

int checkPrivacy(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    std::uint8_t* state = c.out(1, kOn0);
    int* error = c.intOut(kErr);
    c.ready();
    return CheckPrivacy_G2(adr, state, error, c.port);
}

int inventoryMultiple6B(Call& c) {
    std::uint8_t* adr = c.address(kAnyStatus);
    const std::uint8_t condition = c.arg(), start = c.arg(), mask = c.arg();
    std::uint8_t* compare = c.in_(8);
    std::uint8_t* records = c.out(255 * 9, kAnyStatus);
    int* count = c.intOut(kAnyStatus);
    c.ready();
    return InventoryMultiple_6B(adr, condition, start, mask, compare, records, count, c.port);
}

int readData6B(Call& c) {
    std::uint8_t* adr = c.address(kAnyStatus);
    std::uint8_t* uid = c.in_(8);
    const std::uint8_t start = c.arg(), count = c.arg();
    std::uint8_t* data = c.out(count, kOn0);
    int* error = c.intOut(kErr);
    c.ready();
    return ReadData_6B(adr, uid, start, count, data, error, c.port);
}

int writeData6B(Call& c) {
    std::uint8_t* adr = c.address(kAnyStatus);
    std::uint8_t* uid = c.in_(8);
    const std::uint8_t start = c.arg(), length = c.arg();
    std::uint8_t* data = c.in_(length);
    std::uint8_t* written = c.out(1, kOn0);
    int* error = c.intOut(kErr);
    c.ready();
    return WriteData_6B(adr, uid, start, data, length, written, error, c.port);
}

int lock6B(Call& c) {
    std::uint8_t* adr = c.address(kAnyStatus);
    std::uint8_t* uid = c.in_(8);
    const std::uint8_t address = c.arg();
    int* error = c.intOut(kErr);
    c.ready();
    return Lock_6B(adr, uid, address, error, c.port);
}

int checkLock6B(Call& c) {
    std::uint8_t* adr = c.address(kOn0);
    std::uint8_t* uid = c.in_(8);
    const std::uint8_t address = c.arg();
    std::uint8_t* state = c.out(1, kOn0);
    int* error = c.intOut(kErr);
    c.ready();
    return CheckLock_6B(adr, uid, address, state, error, c.port);
}

int buzzer(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    const std::uint8_t a = c.arg(), b = c.arg(), d = c.arg();
    c.ready();
    return BuzzerAndLEDControl(adr, a, b, d, c.port);
}

int getSystemParameter(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    std::uint8_t* p[6];
    for (auto& b : p) b = c.out(1, kOn0);
    std::uint8_t* bank = c.out(1, kOn0);
    std::uint8_t* address = c.out(2, kOn0);
    std::uint8_t* bits = c.out(1, kOn0);
    std::uint8_t* mask = c.out(32, kOn0);
    std::uint8_t* e[3];
    for (auto& b : e) b = c.out(1, kOn0);
    c.ready();
    return GetSystemParameter(adr, p[0], p[1], p[2], p[3], p[4], p[5], bank, address, bits, mask, e[0], e[1], e[2],
                              c.port);
}

int setMask(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    const MaskArgs m = maskArgs(c);
    c.ready();
    return SetMask(adr, m.bank, m.address, m.bits, m.bytes, c.port);
}

int clearTagBuffer(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    c.ready();
    return ClearTagBuffer(adr, c.port);
}

int selfTest(Call& c) {
    std::uint8_t* adr = c.address(kAnyStatus);
    const int flag = c.arg() & 1;
    c.ready();
    return InSelfTestMode(adr, flag, c.port);
}

int solidify(Call& c) {
    std::uint8_t* adr = c.address(kOn0);
    std::uint8_t* block = c.in_(31);
    std::uint8_t* result = c.out(1, kOn0);
    c.ready();
    return SolidifyDACandPowerlist(adr, block, result, c.port);
}

int startInformation(Call& c) {
    std::uint8_t* adr = c.address(kOn0);
    std::uint8_t* s[9];
    for (auto& b : s) b = c.out(1, kOn0);
    c.ready();
    return GetStartInformation(adr, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], c.port);
}

int setSerial(Call& c) {
    std::uint8_t* adr = c.address(kOn0);
    int* number = reinterpret_cast<int*>(c.in_(sizeof(int)));
    c.ready();
    return SetSeriaNo(adr, number, c.port);
}

int transparent(Call& c) {
    std::uint8_t* adr = c.address(kNever);
    const std::uint8_t parameter = c.arg(), length = c.arg();
    std::uint8_t* data = c.in_(length);
    std::uint8_t* responseLength = c.out(1, kOn0);
    std::uint8_t* response = c.out(250, kOn0);
    c.ready();
    return TransparentCMD(adr, parameter, length, data, responseLength, response, c.port);
}

}  // namespace

#define OP(name, code, loose, runner) \
    { #name, code, 0, false, loose, [] { return reinterpret_cast<void*>(&name) != nullptr; }, runner }

const Operation kOperations[] = {
    OP(GetReaderInformation, 0x21, false, getReaderInformation),
    OP(SingleTagInventory_G2, 0x0F, false, singleTagInventory),
    OP(ReadData_G2, 0x02, false, readDataG2),
    OP(WriteData_G2, 0x03, false, writeDataG2<WriteData_G2>),
    OP(BlockWrite_G2, 0x10, false, writeDataG2<BlockWrite_G2>),
    OP(WriteEPC_G2, 0x04, false, writeEpcG2),
    OP(BlockErase_G2, 0x07, false, blockEraseG2),
    OP(KillTag_G2, 0x05, false, addressedWithPassword<KillTag_G2>),
    OP(Lock_G2, 0x06, false, lockG2),
    OP(SetPrivacyByEPC_G2, 0x08, false, addressedWithPassword<SetPrivacyByEPC_G2>),
    OP(SetPrivacyWithoutEPC_G2, 0x09, false, privacy<SetPrivacyWithoutEPC_G2>),
    OP(ResetPrivacy_G2, 0x0A, false, privacy<ResetPrivacy_G2>),
    OP(CheckPrivacy_G2, 0x0B, false, checkPrivacy),
    OP(EASConfigure_G2, 0x0C, false, (addressedWithCode<EASConfigure_G2, kOn0>)),
    OP(EASAlarm_G2, 0x0D, false, (intQuery<EASAlarm_G2, kOn0, kErr>)),
    OP(BlockLock_G2, 0x0E, false, (addressedWithCode<BlockLock_G2, kNever>)),
    OP(InventorySingle_6B, 0x50, false, (bufferQuery<InventorySingle_6B, kAnyStatus, 9, kAnyStatus>)),
    OP(InventoryMultiple_6B, 0x51, false, inventoryMultiple6B),
    OP(ReadData_6B, 0x52, false, readData6B),
    OP(WriteData_6B, 0x53, false, writeData6B),
    OP(CheckLock_6B, 0x54, false, checkLock6B),
    OP(Lock_6B, 0x55, false, lock6B),
    OP(SetRegion, 0x22, false, (setter2<SetRegion, kAnyStatus>)),
    OP(SetAddress, 0x24, false, (setter<SetAddress, kAnyStatus>)),
    OP(SetInventoryScanTime, 0x25, false, (setter<SetInventoryScanTime, kAnyStatus>)),
    {"SetBaudRate", 0x28, 0, true, true, [] { return reinterpret_cast<void*>(&SetBaudRate) != nullptr; },
     setter<SetBaudRate, kNever>},
    OP(SetRfPower, 0x2F, false, (setter<SetRfPower, kOn0>)),
    OP(BuzzerAndLEDControl, 0x33, false, buzzer),
    OP(SetWorkMode, 0x35, false, (setter<SetWorkMode, kNever>)),
    OP(GetSystemParameter, 0x36, false, getSystemParameter),
    OP(SetEASSensitivity, 0x37, false, (setter<SetEASSensitivity, kNever>)),
    OP(SetMask, 0x3B, false, setMask),
    OP(SetResponsePamametersofAuto_runningMode, 0x3C, false,
       (setter2<SetResponsePamametersofAuto_runningMode, kNever>)),
    OP(SetInventoryInterval, 0x3D, false, (setter<SetInventoryInterval, kNever>)),
    OP(SelectTagType, 0x3E, false, (setter<SelectTagType, kNever>)),
    OP(SetAntennaMultiplexing, 0x3F, false, (setter<SetAntennaMultiplexing, kNever>)),
    OP(SetBeepNotification, 0x40, false, (setter<SetBeepNotification, kNever>)),
    OP(SetTriggerTime, 0x49, false, (setter<SetTriggerTime, kNever>)),
    OP(SetTIDParameter, 0x4A, false, (setter2<SetTIDParameter, kOn0>)),
    OP(SetRevDelay, 0x27, false, (setter<SetRevDelay, kNever>)),
    OP(GetRevDelay, 0x31, false, (bufferQuery<GetRevDelay, kNever>)),
    OP(SetReal_timeClock, 0x41, false, (bufferSetter<SetReal_timeClock, 6>)),
    OP(GetTime, 0x42, false, (bufferQuery<GetTime, kNever, 6>)),
    OP(ClearTagBuffer, 0x44, false, clearTagBuffer),
    OP(SetRelay, 0x45, false, (setter<SetRelay, kNever>)),
    OP(SetGPIO, 0x46, false, (setter<SetGPIO, kNever>)),
    OP(GetGPIOStatus, 0x47, false, (bufferQuery<GetGPIOStatus, kNever>)),
    OP(SetNotificationPulseOutput, 0x48, false, (setter<SetNotificationPulseOutput, kNever>)),
    {"InSelfTestMode", 0x26, 0xA5, false, true, [] { return reinterpret_cast<void*>(&InSelfTestMode) != nullptr; },
     selfTest},
    OP(SetDAC, 0x29, false, (setter<SetDAC, kAnyStatus>)),
    OP(GetDAC, 0x2A, false, (bufferQuery<GetDAC, kOn0>)),
    OP(CheckPowerParameter, 0x2B, false, (bufferQuery<CheckPowerParameter, kOn0>)),
    OP(SolidifyDACandPowerlist, 0x2C, false, solidify),
    OP(GetStartInformation, 0x2D, false, startInformation),
    OP(RfOutput, 0x30, false, (setter<RfOutput, kOn0>)),
    OP(DeleteRfOutput, 0x32, false, (bufferQuery<DeleteRfOutput, kOn0>)),
    OP(SetSeriaNo, 0x4B, false, setSerial),
    OP(GetSeriaNo, 0x4C, false, (intQuery<GetSeriaNo, kOn0, kOn0>)),
    OP(ChangeATMode, 0x4D, false, (setter<ChangeATMode, kOn0>)),
    OP(TransparentCMD, 0x4E, false, transparent),
};

const std::size_t kOperationCount = sizeof kOperations / sizeof kOperations[0];

namespace {

bool mayWrite(std::uint8_t when, int status) {
    return (when & kAnyStatus) || ((when & kOn0) && status == 0x00) || ((when & kOnFC) && status == 0xFC) ||
           ((when & kOn01) && status == 0x01);
}

bool isLinkCode(int result) {
    return result == MORVENT_COMM_ERROR || result == MORVENT_CRC_ERROR || result == MORVENT_CMD_MISMATCH ||
           result == MORVENT_INVALID_PORT || result == MORVENT_PARAM_RANGE;
}

}  // namespace

void checkOutcome(const Operation& op, Call& call, int result) {
    FUZZ_CHECK(result >= 0 && result <= 0xFF, result);
    for (const Call::Input_& in : call.inputs)
        FUZZ_CHECK(std::memcmp(in.buffer->data(), in.copy->data(), in.buffer->size()) == 0, op.code);
    const mv::link::TransferState& t = mv::link::transfer();
    // The answer reached the unpacking exactly when it was one whole frame that
    // passed the CRC and echo checks.
    const bool whole = t.receiveCount >= 6 && t.receive[0] + 1 == t.receiveCount;
    const std::uint8_t echoed = op.anyEcho && whole ? t.receive[2] : op.code;
    const bool reached = whole && (passesChecks(t.receive, t.receiveCount, echoed) ||
                                   (op.otherEcho && passesChecks(t.receive, t.receiveCount, op.otherEcho)));
    const int status = reached ? t.receive[3] : -1;
    // A command may still refuse an answer too short for what it unpacks;
    // then, as before the checks, it must write nothing.
    const bool unpacked = reached && (op.loose || result == status);
    if (!unpacked) FUZZ_CHECK(isLinkCode(result), result);
    for (const Call::Output& o : call.outputs)
        if (!unpacked || !mayWrite(o.when, status)) FUZZ_CHECK(o.buffer->untouched(), op.code);
}

}  // namespace fuzz
