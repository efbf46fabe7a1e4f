// The model of one reader: its settings, its tag field, its clock and tag
// buffer, and the answer to every request frame. Pure: no I/O, the transport
// (host.h) moves the bytes.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/frame.h"
#include "sim/tags.h"

namespace sim {

// Reader status bytes.
enum Status : std::uint8_t {
    kOk = 0x00,
    kInventoryDone = 0x01,  // inventory frame, the last one of the answer
    kInventoryMore = 0x03,  // inventory frame, more frames follow
    kBufferRecord = 0x01,   // GetTagBufferInfo record frame; the closing frame has kOk
    kNoTag = 0xFB,          // no tag answered (or no EAS alarm)
    kTagFault = 0xFC,       // the tag reported an error, code in data byte 0
    kBadLength = 0xFD,      // request data of the wrong length
    kUnknownCommand = 0xFE,
    kBadParameter = 0xFF,
};

// Everything `GetSystemParameter`, `GetReaderInformation` and the other
// queries report, with the reader's defaults.
struct Settings {
    std::uint8_t address = 0x00;
    std::array<std::uint8_t, 2> version{0x02, 0x05};
    std::uint8_t readerType = 0x4D;
    std::uint8_t protocols = 0x03;  // bit 0 ISO 18000-6B, bit 1 Gen2
    std::array<std::uint8_t, 2> region{0x31, 0x80};
    std::uint8_t power = 30;
    std::uint8_t scanTime = 10;  // 100 ms units
    std::uint8_t baudCode = 5;   // 57600 bit/s
    std::array<std::uint8_t, 3> buzzer{0, 0, 0};

    std::uint8_t workMode = 0;  // low two bits: 0 answer mode, 1 active mode, 2 trigger mode
    std::uint8_t easSensitivity = 0;
    std::uint8_t triggerTime = 0;
    std::array<std::uint8_t, 2> response{0, 0};
    std::uint8_t interval = 2;  // active-mode inventory period, 100 ms units (0 counts as 1)
    std::uint8_t tagType = 0;   // active mode: 0 Gen2, 1 ISO 18000-6B
    std::uint8_t antenna = 1;
    std::uint8_t beep = 0;
    std::array<std::uint8_t, 2> tidParameter{0, 0};  // active mode: TID word address and word count
    std::uint8_t maskBank = kBankEpc;
    std::array<std::uint8_t, 2> maskAddress{0, 0};
    std::uint8_t maskBitLength = 0;
    std::array<std::uint8_t, 32> maskBits{};

    std::uint8_t revDelay = 0;
    std::uint8_t relay = 0;
    std::uint8_t gpioOutputs = 0;
    std::uint8_t gpioInputs = 0;
    std::uint8_t pulse = 0;
    std::uint8_t dac = 0x80;
    std::uint8_t rfOutput = 0;
    std::array<std::uint8_t, 31> calibration{};
    std::uint32_t serialNumber = 0x20260001;

    bool shortSystemParameter = false;  // answer GetSystemParameter without its 3 extension bytes
    unsigned atModeDelayMs = 0;
    unsigned tagsPerFrame = 0;  // inventory frames carry at most this many tags; 0 = as many as fit
    // Air time of an inventory on a paced reader: one round plus a time per
    // tag singulated, never longer than the scan time.
    double roundAirMs = 1.0;
    double tagAirMs = 2.0;
};

// A moving tag field: tags enter at `ratePerS` on average and each stays a
// time drawn from [staySMin, staySMax], at most `max` of them at once. Their
// EPCs are `epcWords` words, 0x3500 followed by a running number.
struct Population {
    double ratePerS = 0;  // 0: no moving tags
    double staySMin = 2, staySMax = 6;
    unsigned max = 1000;
    unsigned epcWords = 6;
    std::uint32_t seed = 1;
};

// One reader's stop on a path that tags take through the fields of several
// readers in turn: tag k (from 0) of the path enters this reader's field at
// start + k * every + position * dwell, and leaves it `dwell` later. The
// tags' EPCs are 36, the path's number, 00 00 and the tag's number from 1
// in eight bytes; their TIDs E2801105 36, the path's number and the tag's
// number in four bytes. Every reader of the path shows a tag alike.
struct PathStop {
    std::uint8_t path = 1;
    unsigned position = 0;
    double everyS = 5, dwellS = 1;
    std::chrono::steady_clock::time_point start;
};

// The answer to one request: the frames back to back, after an optional
// delay, and a line speed to switch to once they are sent.
struct Reply {
    Bytes wire;
    unsigned delayMs = 0;
    std::optional<std::uint32_t> newBitRate;
    unsigned singulated = 0;  // tags an inventory found (its air time depends on them)
    // A multi-frame inventory answer: the tags found by the time each frame
    // of `wire` was full. A paced reader sends each frame once their air
    // time has passed, so the first frame leaves long before the last.
    std::vector<unsigned> tagsByFrame;
};

std::uint32_t bitRateOfCode(std::uint8_t code);  // 0 when the code names no rate

class ReaderModel {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::size_t kTagBufferCapacity = 64;

    explicit ReaderModel(Settings settings = {}, Clock clock = std::chrono::steady_clock::now);

    // The answer to `request`; nothing when the request is for another reader.
    std::optional<Reply> handle(const Request& request);

    // Active mode: whether it is on, its period, and the frames of one round.
    bool activeMode() const { return (settings_.workMode & 0x03) == 1; }
    std::chrono::milliseconds activeInterval() const;
    Bytes activeRound();

    // Tags enter and leave by the clock; moved on before every inventory.
    void setPopulation(const Population& population);
    void addPathStop(const PathStop& stop);
    std::uint64_t tagsEntered() const { return entered_; }

    Settings& settings() { return settings_; }
    const Settings& settings() const { return settings_; }
    std::vector<Gen2Tag>& gen2Tags() { return gen2_; }
    std::vector<Tag6B>& tags6B() { return tags6B_; }
    bool selfTest() const { return selfTest_; }

    struct BufferRecord {
        Bytes id;
        std::uint8_t type = 0;
        std::uint16_t count = 0;
        std::array<std::uint8_t, 6> lastSeen{};
    };
    const std::vector<BufferRecord>& tagBuffer() const { return buffer_; }

    // The clock as six bytes: year - 2000, month, day, hour, minute, second.
    std::array<std::uint8_t, 6> now() const;

private:
    using Handler = Reply (ReaderModel::*)(const Request&);
    struct Command {
        std::uint8_t code;
        Handler handler;
    };
    static const Command kCommands[];

    Reply answer(const Request& r, std::uint8_t status, const Bytes& data = {}) const;
    Reply tagError(const Request& r, std::uint8_t code) const;
    Reply tagResult(const Request& r, const TagResult& result, const Bytes& data = {}) const;

    // The tag field (reader.cpp).
    std::vector<Gen2Tag*> visibleTags(const Mask* mask);
    void moveTags();
    void arriveByRate(std::chrono::steady_clock::time_point now);
    void arriveByPath(std::chrono::steady_clock::time_point now);
    void admit(bool onPath, const Bytes& epc, const Bytes& tid, std::chrono::steady_clock::time_point leaves);
    void leaveBy(std::chrono::steady_clock::time_point when);

    // commands/tag_addressing.cpp: how the Gen2 commands name their tag;
    // fills `fields` with the command fields between the EPC and the mask.
    // Empty optional: bad request.
    struct Addressed {
        Gen2Tag* tag = nullptr;
        Bytes fields;
    };
    std::optional<Addressed> addressed(const Bytes& data, std::size_t prefix, std::size_t fieldsWidth);

    // commands/gen2_inventory.cpp
    Bytes gen2Record(const Gen2Tag& tag, std::optional<std::pair<std::uint8_t, std::uint8_t>> tid) const;
    std::vector<Bytes> inventoryFrames(const std::vector<Bytes>& records, std::uint8_t cmd);
    Reply inventory(const Request&);
    Reply singleInventory(const Request&);

    // commands/gen2_memory.cpp
    Reply readData(const Request&);
    Reply writeData(const Request&);
    Reply writeEpc(const Request&);
    Reply blockErase(const Request&);

    // commands/gen2_protection.cpp
    Reply kill(const Request&);
    Reply lock(const Request&);
    Reply setPrivacyByEpc(const Request&);
    Reply setPrivacyWithoutEpc(const Request&);
    Reply resetPrivacy(const Request&);
    Reply checkPrivacy(const Request&);
    Reply easConfigure(const Request&);
    Reply easAlarm(const Request&);
    Reply blockLock(const Request&);

    // commands/iso6b.cpp
    Bytes record6B(const Tag6B& tag) const;
    Tag6B* find6B(const std::uint8_t* uid);
    Reply inventorySingle6B(const Request&);
    Reply inventoryMultiple6B(const Request&);
    Reply read6B(const Request&);
    Reply write6B(const Request&);
    Reply checkLock6B(const Request&);
    Reply lock6B(const Request&);

    // commands/settings.cpp; the settings written or read as plain bytes
    // are table rows, found by their command code.
    static bool isByteSetting(std::uint8_t code);
    static bool isByteQuery(std::uint8_t code);
    Reply readerInformation(const Request&);
    Reply setAddress(const Request&);
    Reply setBaudRate(const Request&);
    Reply byteSetting(const Request&);
    Reply byteQuery(const Request&);
    Reply systemParameter(const Request&);
    Reply setMask(const Request&);

    // commands/tag_buffer.cpp: the clock and the tag buffer.
    void remember(const Bytes& id, std::uint8_t type);
    Reply setClock(const Request&);
    Reply getTime(const Request&);
    Reply tagBufferInfo(const Request&);
    Reply clearTagBuffer(const Request&);

    // commands/factory.cpp
    Reply selfTestMode(const Request&);
    Reply solidify(const Request&);
    Reply startInformation(const Request&);
    Reply deleteRfOutput(const Request&);
    Reply setSerialNumber(const Request&);
    Reply getSerialNumber(const Request&);
    Reply atMode(const Request&);
    Reply transparent(const Request&);

    Settings settings_;
    Clock clock_;
    std::vector<Gen2Tag> gen2_;
    std::vector<Tag6B> tags6B_;
    std::vector<BufferRecord> buffer_;
    std::int64_t clockBase_ = 0;  // seconds since 2000-01-01 when the clock was set
    std::chrono::steady_clock::time_point clockSetAt_;
    bool selfTest_ = false;

    struct Moving {
        Bytes epc;
        std::chrono::steady_clock::time_point leaves;
    };
    Population population_;
    std::vector<Moving> moving_;  // the population's tags in the field
    std::vector<PathStop> stops_;
    std::vector<std::uint64_t> nextOnPath_;  // by stop: the next tag of its path to enter
    std::vector<Moving> passing_;            // the paths' tags in the field
    std::chrono::steady_clock::time_point movedAt_{};
    double arrivals_ = 0;  // fractional tags owed by the rate
    std::uint64_t entered_ = 0;
    std::uint32_t random_ = 1;
};

}  // namespace sim
