// morvent/reader.hpp - morvent::Reader, one open link to a reader and every
// command as a method (C++17, header-only; part of the C++ API, included by
// morvent.hpp). This file is the table of contents: each method with its
// contract in a line; the bodies are in impl/reader_inl.hpp.
//
// Every method that talks to the reader throws morvent::Error when the
// command fails; the error names the C function that failed. Results that
// are not failures (an empty field, no data) come back as empty values.
#ifndef MORVENT_READER_HPP
#define MORVENT_READER_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "../morvent.h"
#include "error.hpp"
#include "records.hpp"
#include "values.hpp"

namespace morvent {

class Reader {
public:
    // ---- Opening and closing ----

    // Opens a network reader; `host` is a name or dotted IPv4 address, looked up again at every opening.
    static Reader tcp(const std::string& host, int tcpPort, std::uint8_t address = 0xFF);
    // Opens serial port COM`com`, asking `address` unless 0xFF (a bus); a missing device is named in reason().
    static Reader serial(int com, int baud = 57600, std::uint8_t address = 0xFF);
    // Opens the first of COM1..COM12 where a reader answers.
    static Reader autoSerial(int baud = 57600, std::uint8_t address = 0xFF);

    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    // A move hands the open link over; the Reader moved from is closed and cannot be reopened.
    Reader(Reader&& other) noexcept;
    Reader& operator=(Reader&& other) noexcept;
    // Closes the link.
    ~Reader();

    // Closes the link; reopen() opens it again.
    void close() noexcept;
    // Opens the same link again (after close(), or to recover a broken link).
    void reopen();

    // Whether the link is open.
    bool isOpen() const noexcept { return port_ >= 0; }
    // The port index for the C functions (the COM number or the TCP port), -1 when closed.
    int port() const noexcept { return port_; }
    // The address the commands carry (0xFF: whichever reader answers).
    std::uint8_t address() const noexcept { return address_; }
    // Sets the address the commands carry from now on, e.g. the answered one.
    void useAddress(std::uint8_t address) noexcept { address_ = address; }
    // The address the reader answered with on opening.
    std::uint8_t answeredAddress() const noexcept { return answered_; }
    // Whether the link is a network one.
    bool isTcp() const noexcept { return link_ == Link::Tcp; }

    // ---- Reader information and Gen2 inventory ----

    // The reader's version, type, protocols, region, power, scan time and line speed.
    ReaderInfo info();
    // Every tag that answers, from all frames of the answer; an empty field gives an empty list.
    std::vector<Tag> inventory(const InventoryOptions& options = {});
    // As inventory(), with the closing status (MORVENT_INVENTORY_DONE .. MORVENT_INVENTORY_FULL, or MORVENT_NO_TAG).
    InventoryResult inventoryRound(const InventoryOptions& options = {});
    // One tag, or none.
    std::optional<Tag> singleTag();

    // ---- Gen2 memory ----

    // `wordCount` words of `bank` from word `wordPointer`.
    Bytes read(const TagRef& tag, Bank bank, std::uint8_t wordPointer, std::uint8_t wordCount,
               const Password& password = {});
    // Writes `data` (1 to 255 whole words) word by word from `wordPointer`.
    void write(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data,
               const Password& password = {});
    // As write(), in one block.
    void blockWrite(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data,
                    const Password& password = {});
    // Erases `wordCount` words from `wordPointer`.
    void erase(const TagRef& tag, Bank bank, std::uint8_t wordPointer, std::uint8_t wordCount,
               const Password& password = {});
    // Gives the tag in the field the EPC `epc` (whole words, at most 15).
    void writeEpc(const Bytes& epc, const Password& password = {});
    // Gives `tag` the EPC `epc`: its PC word keeps its flags, takes the new length and is written with it.
    void writeEpc(const TagRef& tag, const Bytes& epc, const Password& password = {});

    // ---- Gen2 protection ----

    // Sets the lock of one memory area.
    void lock(const TagRef& tag, LockArea area, LockMode mode, const Password& password);
    // Kills the tag for good.
    void kill(const TagRef& tag, const Password& killPassword);
    // Bit n of `code` permanently locks user-memory block n.
    void blockLock(const TagRef& tag, std::uint8_t code, const Password& password);
    // Puts the addressed tag in privacy mode.
    void setPrivacy(const TagRef& tag, const Password& password);
    // Puts the tag in the field in privacy mode.
    void setPrivacyInField(const Password& password);
    // Takes the tag in the field out of privacy mode.
    void resetPrivacy(const Password& password);
    // The privacy state the reader reports (non-zero: private).
    std::uint8_t checkPrivacy();
    // Sets the addressed tag's EAS state.
    void setEas(const TagRef& tag, std::uint8_t state, const Password& password);
    // Whether a tag with EAS set is in the field.
    bool easAlarm();

    // ---- ISO 18000-6B ----

    // One 6B tag, or none.
    std::optional<Tag6B> inventory6BSingle();
    // The 6B tags that match `selection` (the default compares nothing: every tag).
    std::vector<Tag6B> inventory6B(const Selection6B& selection = {});
    // `byteCount` bytes of tag `uid` from `startAddress`.
    Bytes read6B(const Uid& uid, std::uint8_t startAddress, std::uint8_t byteCount);
    // Writes `data` (at most 242 bytes) from `startAddress`.
    void write6B(const Uid& uid, std::uint8_t startAddress, const Bytes& data);
    // As write6B(); the number of bytes the reader says it wrote.
    std::uint8_t write6BCounted(const Uid& uid, std::uint8_t startAddress, const Bytes& data);
    // Locks the byte at `address` for good.
    void lock6B(const Uid& uid, std::uint8_t address);
    // Whether the byte at `address` is locked.
    bool isLocked6B(const Uid& uid, std::uint8_t address);

    // ---- Settings, work mode and active mode ----

    // Sends the two region bytes (the frequency band).
    void setRegion(std::uint8_t region1, std::uint8_t region2);
    // Gives the reader a new address; a Reader that addressed the old one follows it.
    void setAddress(std::uint8_t newAddress);
    // The longest inventory, in 100 ms units.
    void setScanTime(std::uint8_t hundredsOfMs);
    // Changes the reader's line speed; a serial Reader follows it.
    void setBaudRate(int bitsPerSecond);
    // Sends the RF output power byte.
    void setPower(std::uint8_t power);
    // Drives the buzzer and the LED with the three control bytes.
    void buzzerAndLed(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3);
    // Answer mode, active mode or trigger mode.
    void setWorkMode(WorkMode mode);
    // The work-mode byte as the reader takes it.
    void setWorkMode(std::uint8_t modeByte);
    // Sends the EAS sensitivity byte.
    void setEasSensitivity(std::uint8_t value);
    // The selection mask of the active mode.
    void setMask(const Mask& mask);
    // The two response bytes of the active mode.
    void setAutoResponse(std::uint8_t r1, std::uint8_t r2);
    // The pause between active-mode inventories, in 100 ms units.
    void setInventoryInterval(std::uint8_t hundredsOfMs);
    // Sends the tag type byte of the active mode.
    void setTagType(std::uint8_t type);
    // Sends the antenna multiplexing byte.
    void setAntenna(std::uint8_t antenna);
    // Sends the beep notification byte.
    void setBeep(std::uint8_t beep);
    // Sends the trigger time byte of the trigger mode.
    void setTriggerTime(std::uint8_t time);
    // The TID words that active-mode records carry (count 0: none).
    void setTidParameters(std::uint8_t wordAddress, std::uint8_t wordCount);
    // The work mode, its settings and its stored selection mask.
    SystemParameters systemParameters();
    // The bytes the reader sent by itself in its active mode (frames back to back); empty when none came.
    Bytes readActiveModeData();

    // ---- Clock, tag buffer, relay and GPIO ----

    // Sets the reader's clock.
    void setClock(const Clock& clock);
    // The reader's clock.
    Clock clock();
    // The records of the reader's tag buffer.
    std::vector<BufferRecord> tagBuffer();
    // Empties the reader's tag buffer.
    void clearTagBuffer();
    // Sends the relay setting byte.
    void setRelay(std::uint8_t relay);
    // Sends the output byte of the GPIO pins.
    void setGpio(std::uint8_t outputs);
    // The GPIO status byte the reader reports.
    std::uint8_t gpio();
    // Sends the setting byte of the notification pulse output.
    void setNotificationPulse(std::uint8_t pulse);
    // Sends the reader's delay setting byte.
    void setRevDelay(std::uint8_t delay);
    // The reader's delay setting byte.
    std::uint8_t revDelay();
    // The reader's serial number (0 .. 2^32 - 1).
    std::uint32_t serialNumber();
    // Gives the reader a serial number.
    void setSerialNumber(std::uint32_t number);

    // ---- AT mode and transparent commands ----

    // Switches the reader's AT mode with the mode byte (the reader may take seconds to answer).
    void changeAtMode(std::uint8_t mode);
    // Passes `data` (at most 250 bytes) to the reader after `parameter`; the answer's data.
    Bytes transparent(std::uint8_t parameter, const Bytes& data);

    // ---- Helpers (public for the other language layers' tests) ----

    // The tags of inventory records (see walkTagRecords); Error(MORVENT_COMM_ERROR) when a record runs past the end.
    static std::vector<Tag> splitRecords(const std::uint8_t* data, std::size_t size, bool withTid);

private:
    enum class Link { None, Tcp, Serial };
    // What a command gives beside its data: its status and the address the reader answered from.
    struct Answer {
        int status;
        std::uint8_t address;
    };
    // Stands, among a command's arguments, for the tag's error code the C function writes.
    struct TagErrorSlot {};
    static constexpr TagErrorSlot tagError{};
    struct Selection;  // a selection mask as the C functions take it
    struct Addressed;  // a TagRef as the C functions take it: EPC words, or 0xFF and a mask

    // A Reader of `link`, not yet open; `number` is the TCP port or the COM number.
    Reader(Link link, std::string host, int number, int baud, std::uint8_t address);
    void take(Reader& other) noexcept;
    void openAuto();
    // The dotted IPv4 address of `host`; an Error that names the host when it has none.
    static std::string resolve(const std::string& host);
    // The Error for a failed opening of COM`com`, naming a missing or forbidden device.
    static Error serialFailure(int status, const char* operation, int com);
    // The port index; Error(MORVENT_INVALID_PORT) when closed.
    int openPort() const;

    // Calls fn(&address, args..., port), `tagError` among the args standing for the tag's error code; throws
    // Error(name) unless the status is MORVENT_OK or one of `results`.
    template <typename Fn, typename... Args>
    Answer call(std::initializer_list<int> results, const char* name, Fn fn, Args&&... args);

    template <typename E>
    static std::uint8_t u8(E value) {
        return static_cast<std::uint8_t>(value);
    }
    // The core reads input arrays and never writes them.
    static unsigned char* in(const Bytes& bytes) { return const_cast<unsigned char*>(bytes.data()); }
    template <std::size_t N>
    static unsigned char* in(const std::array<std::uint8_t, N>& bytes) {
        return const_cast<unsigned char*>(bytes.data());
    }
    static unsigned char* in(const Password& password) { return in(password.bytes); }
    // The words of an EPC: Error(MORVENT_PARAM_RANGE) unless 0 to 15 whole words.
    static unsigned char epcWords(const Bytes& epc, const char* operation);
    void writeWords(const TagRef& tag, Bank bank, std::uint8_t wordPointer, const Bytes& data, const Password& password,
                    bool block);
    static Tag6B toTag6B(const unsigned char* record);

    Link link_ = Link::None;
    std::string host_;
    int number_ = 0;  // TCP port or COM number
    int baud_ = 57600;
    std::uint8_t address_ = 0xFF;
    std::uint8_t answered_ = 0xFF;
    int port_ = -1;
};

}  // namespace morvent

#include "impl/reader_inl.hpp"

#endif  // MORVENT_READER_HPP
