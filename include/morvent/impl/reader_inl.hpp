// morvent/impl/reader_inl.hpp - the bodies of morvent::Reader's methods
// (C++17, header-only). Included by morvent/reader.hpp, which declares them;
// not meant to be included alone.
#ifndef MORVENT_IMPL_READER_INL_HPP
#define MORVENT_IMPL_READER_INL_HPP

#include <type_traits>
#include <utility>

#include "../reader.hpp"

// A C function as call() takes it: its name, for the Error, and itself.
// Local to this file: it is undefined at the end.
#define MORVENT_FN(fn) #fn, fn

namespace morvent {

// ---- Opening and closing ----

inline Reader::Reader(Link link, std::string host, int number, int baud, std::uint8_t address)
    : link_(link), host_(std::move(host)), number_(number), baud_(baud), address_(address) {}

inline Reader Reader::tcp(const std::string& host, int tcpPort, std::uint8_t address) {
    Reader reader(Link::Tcp, host, tcpPort, 57600, address);
    reader.reopen();
    return reader;
}

inline Reader Reader::serial(int com, int baud, std::uint8_t address) {
    Reader reader(Link::Serial, {}, com, baud, address);
    reader.reopen();
    return reader;
}

inline Reader Reader::autoSerial(int baud, std::uint8_t address) {
    Reader reader(Link::Serial, {}, 0, baud, address);
    reader.openAuto();
    return reader;
}

inline Reader::Reader(Reader&& other) noexcept { take(other); }

inline Reader& Reader::operator=(Reader&& other) noexcept {
    if (this != &other) {
        close();
        take(other);
    }
    return *this;
}

inline Reader::~Reader() { close(); }

inline void Reader::close() noexcept {
    if (port_ < 0) return;
    if (port_ >= 1024) {
        CloseNetPort(port_);
    } else {
        CloseSpecComPort(port_);
    }
    port_ = -1;
}

inline void Reader::reopen() {
    close();
    unsigned char answered = 0xFF;
    int handle = -1;
    if (link_ == Link::Tcp) {
        const std::string ip = resolve(host_);
        const int status = OpenNetPort(number_, ip.c_str(), &answered, &handle);
        if (status != MORVENT_OK) {
            const std::string where = host_ + ":" + std::to_string(number_);
            throw Error(status, "OpenNetPort", -1, ip == host_ ? where : where + " at " + ip);
        }
    } else if (link_ == Link::Serial) {
        // On a bus every reader answers 0xFF at once: a given address is the one asked.
        const bool at = address_ != 0xFF;
        answered = address_;
        const int status = (at ? OpenComPortAt : OpenComPort)(number_, &answered, baudCode(baud_), &handle);
        if (status != MORVENT_OK) throw serialFailure(status, at ? "OpenComPortAt" : "OpenComPort", number_);
    } else {
        throw Error(MORVENT_INVALID_PORT, "reopen", -1, "the Reader was moved from");
    }
    port_ = handle;
    answered_ = answered;
}

inline void Reader::take(Reader& other) noexcept {
    link_ = other.link_;
    host_ = std::move(other.host_);
    number_ = other.number_;
    baud_ = other.baud_;
    address_ = other.address_;
    answered_ = other.answered_;
    port_ = other.port_;
    other.port_ = -1;
    other.link_ = Link::None;
}

inline void Reader::openAuto() {
    unsigned char answered = 0xFF;
    int com = -1, handle = -1;
    const int status = AutoOpenComPort(&com, &answered, baudCode(baud_), &handle);
    if (status != MORVENT_OK) throw Error(status, "AutoOpenComPort", -1, "COM1 to COM12");
    number_ = com;
    port_ = handle;
    answered_ = answered;
}

inline std::string Reader::resolve(const std::string& host) {
    char ip[16];
    const int status = MorventResolveHost(host.c_str(), ip);
    if (status == MORVENT_OK) return ip;
    throw Error::because(status, "MorventResolveHost",
                         status == MORVENT_COMM_ERROR
                             ? "cannot look up host '" + host + "': the name service did not answer"
                             : "unknown host '" + host + "' (no IPv4 address)");
}

// The core's status says "not openable" for a missing device and a silent
// reader alike, so the device is looked at to name the cause.
inline Error Reader::serialFailure(int status, const char* operation, int com) {
    const std::string port = "COM" + std::to_string(com);
    char device[512];
    const int found =
        status == MORVENT_PORT_OPEN ? MORVENT_INVALID_PORT : MorventSerialDevice(com, device, sizeof device);
    if (found == MORVENT_DEVICE_MISSING)
        return Error::because(status, operation, "no such device " + std::string(device), port);
    if (found == MORVENT_DEVICE_DENIED)
        return Error::because(status, operation, "no permission to read and write " + std::string(device), port);
    return Error(status, operation, -1, found == MORVENT_DEVICE_PRESENT ? port + " at " + device : port);
}

inline int Reader::openPort() const {
    if (port_ < 0) throw Error(MORVENT_INVALID_PORT, "Reader", -1, "the reader is closed");
    return port_;
}

// ---- The one way to a command ----

// The address goes in a copy: commands that write the answering address
// back write it there, not into the Reader. The tag's error code is read
// only once the C function has returned.
template <typename Fn, typename... Args>
Reader::Answer Reader::call(std::initializer_list<int> results, const char* name, Fn fn, Args&&... args) {
    unsigned char address = address_;
    int errorCode = -1;
    [[maybe_unused]] auto pass = [&errorCode](auto&& arg) -> decltype(auto) {
        if constexpr (std::is_same_v<std::decay_t<decltype(arg)>, TagErrorSlot>) {
            return &errorCode;
        } else {
            return std::forward<decltype(arg)>(arg);
        }
    };
    const int status = fn(&address, pass(std::forward<Args>(args))..., openPort());
    if (status == MORVENT_OK) return {status, address};
    for (int result : results) {
        if (status == result) return {status, address};
    }
    throw Error(status, name, status == MORVENT_TAG_ERROR ? errorCode : -1);
}

inline unsigned char Reader::epcWords(const Bytes& epc, const char* operation) {
    if (epc.size() % 2 != 0 || epc.size() > 30) {
        throw Error(MORVENT_PARAM_RANGE, operation, -1,
                    "an EPC is 0 to 15 whole words (an even number of bytes, at most 30)");
    }
    return static_cast<unsigned char>(epc.size() / 2);
}

// The four selection-mask fields as the C functions take them.
struct Reader::Selection {
    unsigned char bank = 0;
    unsigned char address[2] = {0, 0};
    unsigned char bitLength = 0;
    Bytes mask{0};
    Selection() = default;
    Selection(const Mask& m, const char* operation) {
        const unsigned length = m.length();
        if (length > 255 || m.bits.size() < (length + 7) / 8) {
            throw Error(MORVENT_PARAM_RANGE, operation, -1,
                        "a mask is at most 255 bits, and needs a byte per 8 of them");
        }
        bank = u8(m.bank);
        address[0] = static_cast<unsigned char>(m.bitAddress >> 8);
        address[1] = static_cast<unsigned char>(m.bitAddress);
        bitLength = static_cast<unsigned char>(length);
        mask = m.bits.empty() ? Bytes{0} : m.bits;
    }
    unsigned char* bits() { return mask.data(); }
};

// Tag addressing: EPC words, or 0xFF and the selection mask.
struct Reader::Addressed {
    unsigned char epcWords = 0;
    Bytes epcBytes{0};
    Selection mask;
    Addressed(const TagRef& tag, const char* operation) {
        switch (tag.kind()) {
        case TagRef::Kind::Any: break;
        case TagRef::Kind::Epc:
            epcWords = Reader::epcWords(tag.epcBytes(), operation);
            if (!tag.epcBytes().empty()) epcBytes = tag.epcBytes();
            break;
        case TagRef::Kind::Mask:
            epcWords = 0xFF;
            mask = Selection(tag.maskValue(), operation);
            break;
        }
    }
    unsigned char* epc() { return epcBytes.data(); }
};

// ---- Reader information and Gen2 inventory ----

inline ReaderInfo Reader::info() {
    ReaderInfo result;
    auto& r = result.raw;
    result.address = call({}, MORVENT_FN(GetReaderInformation), &r[0], &r[2], &r[3], &r[4], &r[5], &r[6], &r[7], &r[8],
                          &r[9], &r[10])
                         .address;
    return result;
}

inline std::vector<Tag> Reader::inventory(const InventoryOptions& options) { return inventoryRound(options).tags; }

inline InventoryResult Reader::inventoryRound(const InventoryOptions& options) {
    Selection mask;
    if (options.mask) mask = Selection(*options.mask, "Inventory_G2");
    Bytes records(5000);
    unsigned char frameInfo = 0;
    const unsigned char maskFlag = options.mask ? 1 : 0, tidFlag = options.tid ? 1 : 0;
    int length = 0, count = 0;
    const int status = call({MORVENT_NO_TAG, MORVENT_INVENTORY_DONE, MORVENT_INVENTORY_TIMEOUT, MORVENT_INVENTORY_MORE,
                             MORVENT_INVENTORY_FULL},
                            MORVENT_FN(Inventory_G2), mask.bank, mask.address, mask.bitLength, mask.bits(), maskFlag,
                            options.tidAddress, options.tidWords, tidFlag, records.data(), &frameInfo, &length, &count)
                           .status;
    if (status == MORVENT_NO_TAG && length <= 0) return {status, {}};
    const std::size_t size = length < 0 ? 0 : length > 5000 ? 5000 : static_cast<std::size_t>(length);
    return {status, splitRecords(records.data(), size, options.tid)};
}

inline std::optional<Tag> Reader::singleTag() {
    unsigned char data[256] = {};
    int count = 0;
    const int status =
        call({MORVENT_NO_TAG, MORVENT_INVENTORY_DONE}, MORVENT_FN(SingleTagInventory_G2), data, nullptr, &count).status;
    if (status == MORVENT_NO_TAG || (status == MORVENT_INVENTORY_DONE && count == 0)) return std::nullopt;
    auto tags = splitRecords(data, 1u + data[0] <= 249 ? 1u + data[0] : 0u, false);
    if (tags.empty()) throw Error(MORVENT_COMM_ERROR, "SingleTagInventory_G2", -1, "malformed tag record");
    return tags.front();
}

// ---- Gen2 memory ----

inline Bytes Reader::read(const TagRef& tag, Bank bank, std::uint8_t wordPointer, std::uint8_t wordCount,
                          const Password& password) {
    Addressed t(tag, "ReadData_G2");
    Bytes data(2u * wordCount);
    call({}, MORVENT_FN(ReadData_G2), t.epc(), t.epcWords, u8(bank), wordPointer, wordCount, in(password), t.mask.bank,
         t.mask.address, t.mask.bitLength, t.mask.bits(), data.data(), tagError);
    return data;
}

inline void Reader::write(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data,
                          const Password& password) {
    writeWords(tag, bank, wordPointer, data, password, false);
}

inline void Reader::blockWrite(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data,
                               const Password& password) {
    writeWords(tag, bank, wordPointer, data, password, true);
}

inline void Reader::writeWords(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data,
                               const Password& password, bool block) {
    const char* operation = block ? "BlockWrite_G2" : "WriteData_G2";
    if (data.empty() || data.size() % 2 != 0 || data.size() > 2 * 255) {
        throw Error(MORVENT_PARAM_RANGE, operation, -1, "write 1 to 255 whole words (an even number of bytes)");
    }
    Addressed t(tag, operation);
    const auto words = static_cast<unsigned char>(data.size() / 2);
    call({}, operation, block ? BlockWrite_G2 : WriteData_G2, t.epc(), words, t.epcWords, u8(bank), wordPointer,
         in(data), in(password), t.mask.bank, t.mask.address, t.mask.bitLength, t.mask.bits(), tagError);
}

inline void Reader::erase(const TagRef& tag, Bank bank, std::uint8_t wordPointer, std::uint8_t wordCount,
                          const Password& password) {
    Addressed t(tag, "BlockErase_G2");
    call({}, MORVENT_FN(BlockErase_G2), t.epc(), t.epcWords, u8(bank), wordPointer, wordCount, in(password),
         t.mask.bank, t.mask.address, t.mask.bitLength, t.mask.bits(), tagError);
}

inline void Reader::writeEpc(const Bytes& epc, const Password& password) {
    const unsigned char words = epcWords(epc, "WriteEPC_G2");
    call({}, MORVENT_FN(WriteEPC_G2), in(password), in(epc), words, tagError);
}

// With TagRef::any() the reader gives the EPC to whichever tag answers.
inline void Reader::writeEpc(const TagRef& tag, const Bytes& epc, const Password& password) {
    if (tag.kind() == TagRef::Kind::Any) return writeEpc(epc, password);
    const unsigned char words = epcWords(epc, "WriteData_G2");
    if (words == 0) throw Error(MORVENT_PARAM_RANGE, "WriteData_G2", -1, "a new EPC is 1 to 15 words");
    const Bytes pc = read(tag, Bank::Epc, 1, 1, password);
    Bytes data{static_cast<std::uint8_t>((words << 3) | (pc[0] & 0x07)), pc[1]};
    data.insert(data.end(), epc.begin(), epc.end());
    write(tag, Bank::Epc, 1, data, password);
}

// ---- Gen2 protection ----

inline void Reader::lock(const TagRef& tag, LockArea area, LockMode mode, const Password& password) {
    Addressed t(tag, "Lock_G2");
    call({}, MORVENT_FN(Lock_G2), t.epc(), t.epcWords, u8(area), u8(mode), in(password), t.mask.bank, t.mask.address,
         t.mask.bitLength, t.mask.bits(), tagError);
}

inline void Reader::kill(const TagRef& tag, const Password& killPassword) {
    Addressed t(tag, "KillTag_G2");
    call({}, MORVENT_FN(KillTag_G2), t.epc(), t.epcWords, in(killPassword), t.mask.bank, t.mask.address,
         t.mask.bitLength, t.mask.bits(), tagError);
}

inline void Reader::blockLock(const TagRef& tag, std::uint8_t code, const Password& password) {
    Addressed t(tag, "BlockLock_G2");
    call({}, MORVENT_FN(BlockLock_G2), t.epc(), t.epcWords, in(password), code, t.mask.bank, t.mask.address,
         t.mask.bitLength, t.mask.bits(), tagError);
}

inline void Reader::setPrivacy(const TagRef& tag, const Password& password) {
    Addressed t(tag, "SetPrivacyByEPC_G2");
    call({}, MORVENT_FN(SetPrivacyByEPC_G2), t.epc(), t.epcWords, in(password), t.mask.bank, t.mask.address,
         t.mask.bitLength, t.mask.bits(), tagError);
}

inline void Reader::setPrivacyInField(const Password& password) {
    call({}, MORVENT_FN(SetPrivacyWithoutEPC_G2), in(password), tagError);
}

inline void Reader::resetPrivacy(const Password& password) {
    call({}, MORVENT_FN(ResetPrivacy_G2), in(password), tagError);
}

inline std::uint8_t Reader::checkPrivacy() {
    unsigned char state = 0;
    call({}, MORVENT_FN(CheckPrivacy_G2), &state, tagError);
    return state;
}

inline void Reader::setEas(const TagRef& tag, std::uint8_t state, const Password& password) {
    Addressed t(tag, "EASConfigure_G2");
    call({}, MORVENT_FN(EASConfigure_G2), t.epc(), t.epcWords, in(password), state, t.mask.bank, t.mask.address,
         t.mask.bitLength, t.mask.bits(), tagError);
}

inline bool Reader::easAlarm() {
    return call({MORVENT_NO_TAG}, MORVENT_FN(EASAlarm_G2), tagError).status != MORVENT_NO_TAG;
}

// ---- ISO 18000-6B ----

inline Tag6B Reader::toTag6B(const unsigned char* record) {
    Tag6B tag;
    tag.antenna = record[0];
    for (int i = 0; i < 8; ++i) tag.uid[i] = record[1 + i];
    return tag;
}

inline std::optional<Tag6B> Reader::inventory6BSingle() {
    unsigned char record[9];
    if (call({MORVENT_NO_TAG}, MORVENT_FN(InventorySingle_6B), record).status == MORVENT_NO_TAG) return std::nullopt;
    return toTag6B(record);
}

inline std::vector<Tag6B> Reader::inventory6B(const Selection6B& selection) {
    unsigned char records[255 * 9];
    int count = 0;
    const int status = call({MORVENT_NO_TAG}, MORVENT_FN(InventoryMultiple_6B), selection.condition,
                            selection.startAddress, selection.mask, in(selection.data), records, &count)
                           .status;
    std::vector<Tag6B> tags;
    if (status == MORVENT_NO_TAG) return tags;
    for (int i = 0; i < count && i < 255; ++i) tags.push_back(toTag6B(records + 9 * i));
    return tags;
}

inline Bytes Reader::read6B(const Uid& uid, std::uint8_t startAddress, std::uint8_t byteCount) {
    Bytes data(byteCount);
    call({}, MORVENT_FN(ReadData_6B), in(uid), startAddress, byteCount, data.data(), tagError);
    return data;
}

inline void Reader::write6B(const Uid& uid, std::uint8_t startAddress, const Bytes& data) {
    write6BCounted(uid, startAddress, data);
}

inline std::uint8_t Reader::write6BCounted(const Uid& uid, std::uint8_t startAddress, const Bytes& data) {
    if (data.size() > 242) throw Error(MORVENT_PARAM_RANGE, "WriteData_6B", -1, "at most 242 bytes at once");
    unsigned char written = 0;
    call({}, MORVENT_FN(WriteData_6B), in(uid), startAddress, in(data), static_cast<unsigned char>(data.size()),
         &written, tagError);
    return written;
}

inline void Reader::lock6B(const Uid& uid, std::uint8_t address) {
    call({}, MORVENT_FN(Lock_6B), in(uid), address, tagError);
}

inline bool Reader::isLocked6B(const Uid& uid, std::uint8_t address) {
    unsigned char state = 0;
    call({}, MORVENT_FN(CheckLock_6B), in(uid), address, &state, tagError);
    return state != 0;
}

// ---- Settings, work mode and active mode ----

inline void Reader::setRegion(std::uint8_t region1, std::uint8_t region2) {
    call({}, MORVENT_FN(SetRegion), region1, region2);
}

inline void Reader::setAddress(std::uint8_t newAddress) {
    call({}, MORVENT_FN(SetAddress), newAddress);
    if (address_ != 0xFF) address_ = newAddress;
}

inline void Reader::setScanTime(std::uint8_t hundredsOfMs) { call({}, MORVENT_FN(SetInventoryScanTime), hundredsOfMs); }

inline void Reader::setBaudRate(int bitsPerSecond) {
    call({}, MORVENT_FN(SetBaudRate), baudCode(bitsPerSecond));
    if (link_ == Link::Serial) baud_ = bitsPerSecond;
}

inline void Reader::setPower(std::uint8_t power) { call({}, MORVENT_FN(SetRfPower), power); }

inline void Reader::buzzerAndLed(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3) {
    call({}, MORVENT_FN(BuzzerAndLEDControl), c1, c2, c3);
}

inline void Reader::setWorkMode(WorkMode mode) { setWorkMode(u8(mode)); }
inline void Reader::setWorkMode(std::uint8_t modeByte) { call({}, MORVENT_FN(SetWorkMode), modeByte); }
inline void Reader::setEasSensitivity(std::uint8_t value) { call({}, MORVENT_FN(SetEASSensitivity), value); }

inline void Reader::setMask(const Mask& mask) {
    Selection s(mask, "SetMask");
    call({}, MORVENT_FN(SetMask), s.bank, s.address, s.bitLength, s.bits());
}

inline void Reader::setAutoResponse(std::uint8_t r1, std::uint8_t r2) {
    call({}, MORVENT_FN(SetResponsePamametersofAuto_runningMode), r1, r2);
}

inline void Reader::setInventoryInterval(std::uint8_t hundredsOfMs) {
    call({}, MORVENT_FN(SetInventoryInterval), hundredsOfMs);
}

inline void Reader::setTagType(std::uint8_t type) { call({}, MORVENT_FN(SelectTagType), type); }
inline void Reader::setAntenna(std::uint8_t antenna) { call({}, MORVENT_FN(SetAntennaMultiplexing), antenna); }
inline void Reader::setBeep(std::uint8_t beep) { call({}, MORVENT_FN(SetBeepNotification), beep); }
inline void Reader::setTriggerTime(std::uint8_t time) { call({}, MORVENT_FN(SetTriggerTime), time); }

inline void Reader::setTidParameters(std::uint8_t wordAddress, std::uint8_t wordCount) {
    call({}, MORVENT_FN(SetTIDParameter), wordAddress, wordCount);
}

inline SystemParameters Reader::systemParameters() {
    SystemParameters p;
    unsigned char bank = 0, bitLength = 0, maskAddress[2] = {0, 0}, mask[32] = {};
    call({}, MORVENT_FN(GetSystemParameter), &p.workMode, &p.easSensitivity, &p.triggerTime, &p.response[0],
         &p.response[1], &p.inventoryInterval, &bank, maskAddress, &bitLength, mask, &p.tagType, &p.antenna, &p.beep);
    p.mask.bank = static_cast<Bank>(bank);
    p.mask.bitAddress = static_cast<std::uint16_t>(maskAddress[0] << 8 | maskAddress[1]);
    p.mask.bitLength = bitLength;
    p.mask.bits.assign(mask, mask + (bitLength + 7) / 8);
    return p;
}

// The one command without a reader address: the bytes come from the link.
inline Bytes Reader::readActiveModeData() {
    Bytes data(8000);
    int count = 0;
    const int status = ReadActiveModeData(data.data(), &count, openPort());
    if (status == MORVENT_NO_DATA) return {};
    if (status != MORVENT_OK) throw Error(status, "ReadActiveModeData");
    data.resize(static_cast<std::size_t>(count < 0 ? 0 : count > 8000 ? 8000 : count));
    return data;
}

// ---- Clock, tag buffer, relay and GPIO ----

inline void Reader::setClock(const Clock& clock) { call({}, MORVENT_FN(SetReal_timeClock), in(clock)); }

inline Clock Reader::clock() {
    Clock value{};
    call({}, MORVENT_FN(GetTime), value.data());
    return value;
}

inline std::vector<BufferRecord> Reader::tagBuffer() {
    Bytes data(5000);
    int size = 0;
    call({}, MORVENT_FN(GetTagBufferInfo), data.data(), &size);
    std::vector<BufferRecord> records;
    for (std::size_t at = 0; at + 12 <= static_cast<std::size_t>(size);) {
        const std::size_t length = data[at + 11];
        if (at + 12 + length > static_cast<std::size_t>(size)) break;
        BufferRecord record;
        record.tagType = data[at];
        record.antenna = data[at + 1];
        record.readCount = static_cast<unsigned>(data[at + 2] << 8 | data[at + 3]);
        for (int i = 0; i < 6; ++i) record.lastSeen[i] = data[at + 4 + i];
        record.id.assign(data.begin() + static_cast<long>(at + 12), data.begin() + static_cast<long>(at + 12 + length));
        records.push_back(std::move(record));
        at += 12 + length;
    }
    return records;
}

inline void Reader::clearTagBuffer() { call({}, MORVENT_FN(ClearTagBuffer)); }
inline void Reader::setRelay(std::uint8_t relay) { call({}, MORVENT_FN(SetRelay), relay); }
inline void Reader::setGpio(std::uint8_t outputs) { call({}, MORVENT_FN(SetGPIO), outputs); }

inline std::uint8_t Reader::gpio() {
    unsigned char value = 0;
    call({}, MORVENT_FN(GetGPIOStatus), &value);
    return value;
}

inline void Reader::setNotificationPulse(std::uint8_t pulse) {
    call({}, MORVENT_FN(SetNotificationPulseOutput), pulse);
}

inline void Reader::setRevDelay(std::uint8_t delay) { call({}, MORVENT_FN(SetRevDelay), delay); }

inline std::uint8_t Reader::revDelay() {
    unsigned char value = 0;
    call({}, MORVENT_FN(GetRevDelay), &value);
    return value;
}

inline std::uint32_t Reader::serialNumber() {
    int value = 0;
    call({}, MORVENT_FN(GetSeriaNo), &value);
    return static_cast<std::uint32_t>(value);
}

inline void Reader::setSerialNumber(std::uint32_t number) {
    int value = static_cast<int>(number);
    call({}, MORVENT_FN(SetSeriaNo), &value);
}

// ---- AT mode and transparent commands ----

inline void Reader::changeAtMode(std::uint8_t mode) { call({}, MORVENT_FN(ChangeATMode), mode); }

inline Bytes Reader::transparent(std::uint8_t parameter, const Bytes& data) {
    if (data.size() > 250) throw Error(MORVENT_PARAM_RANGE, "TransparentCMD", -1, "at most 250 bytes");
    unsigned char length = 0, answer[250];
    call({}, MORVENT_FN(TransparentCMD), parameter, static_cast<unsigned char>(data.size()), in(data), &length, answer);
    return Bytes(answer, answer + (length > 250 ? 250 : length));
}

// ---- Helpers ----

inline std::vector<Tag> Reader::splitRecords(const std::uint8_t* data, std::size_t size, bool withTid) {
    std::vector<Tag> tags;
    const std::size_t walked = walkTagRecords(data, size, withTid, [&tags](const TagRecord& record) {
        Tag tag;
        tag.epc.assign(record.epc, record.epc + record.epcSize);
        tag.tid.assign(record.tid, record.tid + record.tidSize);
        tags.push_back(std::move(tag));
        return true;
    });
    if (walked != size) {
        throw Error(MORVENT_COMM_ERROR, "Inventory_G2", -1, "a tag record runs past the end of the answer");
    }
    return tags;
}

}  // namespace morvent

#undef MORVENT_FN

#endif  // MORVENT_IMPL_READER_INL_HPP
