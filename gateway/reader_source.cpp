#include "gateway/reader_source.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "morvent.h"

namespace morventd {

namespace {

constexpr std::uint8_t kActiveFrameCmd = 0xEE;
constexpr std::size_t kMinFrame = 6;  // Len Adr Cmd Status CRC CRC

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string hex(const std::uint8_t* data, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out(2 * n, '0');
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 15];
    }
    return out;
}

std::string statusText(int status) {
    char text[48];
    std::snprintf(text, sizeof text, "status 0x%02X", static_cast<unsigned>(status));
    return text;
}

unsigned char baudCode(int baud) {
    switch (baud) {
    case 9600: return 0;
    case 19200: return 1;
    case 38400: return 2;
    case 115200: return 6;
    default: return 5;
    }
}

bool linkFailure(int status) {
    return status == MORVENT_COMM_ERROR || status == MORVENT_INVALID_PORT;
}

}  // namespace

int parseTagRecords(const std::uint8_t* data, std::size_t size, bool withTid, std::vector<TagRead>& out) {
    std::size_t at = 0;
    while (at < size) {
        const std::size_t epcLength = data[at];
        if (epcLength == 0 || at + 1 + epcLength > size) return 1;
        TagRead read;
        read.epc = hex(data + at + 1, epcLength);
        at += 1 + epcLength;
        if (withTid) {
            if (at >= size || at + 1 + data[at] > size) return 1;
            read.tid = hex(data + at + 1, data[at]);
            at += 1 + data[at];
        }
        out.push_back(std::move(read));
    }
    return 0;
}

void takeActiveFrames(std::vector<std::uint8_t>& pending, bool withTid, std::vector<TagRead>& out, int* bad) {
    std::size_t at = 0;
    std::uint8_t frame[260];
    while (pending.size() - at >= kMinFrame) {
        const std::size_t length = pending[at] + 1u;
        if (length < kMinFrame || pending[at + 2] != kActiveFrameCmd) {
            ++at;  // not the start of a frame: resynchronise
            continue;
        }
        if (pending.size() - at < length) break;
        std::copy(pending.begin() + static_cast<std::ptrdiff_t>(at), pending.begin() + static_cast<std::ptrdiff_t>(at + length), frame);
        if (CheckCRC(frame, static_cast<int>(length)) != 0 || frame[3] != 0) {
            ++*bad;
            ++at;
            continue;
        }
        *bad += parseTagRecords(frame + 4, length - 6, withTid, out);
        at += length;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
}

bool ReaderSource::open() {
    close();
    int status;
    int handle = -1;
    address_ = config_.address;
    if (!config_.serial()) {
        status = OpenNetPort(config_.tcpPort, config_.host.c_str(), &address_, &handle);
    } else {
        int com = config_.com;
        if (!config_.device.empty()) {
            // This process holds one reader: its device is COM1.
            com = 1;
            setenv("MORVENT_COM1", config_.device.c_str(), 1);
        }
        status = OpenComPort(com, &address_, baudCode(config_.baud), &handle);
    }
    if (status != MORVENT_OK) {
        error_ = "cannot open " + config_.link() + ": " + statusText(status);
        if (handle > 0) port_ = handle, close();
        return false;
    }
    port_ = handle;
    failures_ = 0;
    pending_.clear();
    lastDataMs_ = steadyMs();
    if (config_.active) {
        // Active mode sends what the mask and TID settings select.
        unsigned char maskAddress[2] = {static_cast<unsigned char>(config_.maskAddress >> 8),
                                        static_cast<unsigned char>(config_.maskAddress & 0xFF)};
        std::vector<unsigned char> mask(config_.maskBytes.begin(), config_.maskBytes.end());
        mask.resize(32);
        status = SetMask(&address_, config_.maskBank, maskAddress, config_.mask ? config_.maskBits : 0, mask.data(), port_);
        if (status == MORVENT_OK)
            status = SetTIDParameter(&address_, config_.tidAddress, config_.tid ? config_.tidLength : 0, port_);
        if (status == MORVENT_OK) status = SetWorkMode(&address_, 1, port_);
        if (status != MORVENT_OK) {
            error_ = "cannot switch " + config_.link() + " to active mode: " + statusText(status);
            close();
            return false;
        }
        activeSet_ = true;
    }
    return true;
}

void ReaderSource::close() {
    if (port_ < 0) return;
    if (activeSet_) SetWorkMode(&address_, 0, port_);  // back to answering, as found
    activeSet_ = false;
    if (config_.serial()) CloseSpecComPort(port_);
    else CloseNetPort(port_);
    port_ = -1;
}

ReaderSource::Result ReaderSource::round(std::vector<TagRead>& reads) {
    if (port_ < 0) return Result::LinkLost;
    return config_.active ? drain(reads) : poll(reads);
}

ReaderSource::Result ReaderSource::poll(std::vector<TagRead>& reads) {
    static thread_local unsigned char tagData[5000];
    unsigned char maskAddress[2] = {static_cast<unsigned char>(config_.maskAddress >> 8),
                                    static_cast<unsigned char>(config_.maskAddress & 0xFF)};
    unsigned char frameInfo = 0;
    int total = 0, count = 0;
    const int status = Inventory_G2(&address_, config_.maskBank, maskAddress, config_.maskBits,
                                    const_cast<unsigned char*>(config_.maskBytes.data()), config_.mask ? 1 : 0,
                                    config_.tidAddress, config_.tidLength, config_.tid ? 1 : 0, tagData, &frameInfo,
                                    &total, &count, port_);
    if (status >= 0x01 && status <= 0x04) {
        failures_ = 0;
        parseTagRecords(tagData, static_cast<std::size_t>(total), config_.tid, reads);
        return Result::Ok;
    }
    if (status == 0xFB) {  // no tag in the field
        failures_ = 0;
        return Result::Quiet;
    }
    error_ = "inventory: " + statusText(status);
    // One missed answer can be noise; two in a row, or a port gone, is a lost link.
    ++failures_;
    if (status == MORVENT_INVALID_PORT || (linkFailure(status) && failures_ >= 2) || failures_ >= 5)
        return Result::LinkLost;
    return Result::Quiet;
}

ReaderSource::Result ReaderSource::drain(std::vector<TagRead>& reads) {
    unsigned char data[8000];
    int count = 0;
    const int status = ReadActiveModeData(data, &count, port_);
    if (status == MORVENT_OK && count > 0) {
        lastDataMs_ = steadyMs();
        pending_.insert(pending_.end(), data, data + count);
        int bad = 0;
        takeActiveFrames(pending_, config_.tid, reads, &bad);
        // A serial call hands over at most 50 bytes and drops the rest: call
        // again at once after a full one.
        return Result::Ok;
    }
    if (!config_.serial() && status == MORVENT_NO_DATA) {
        error_ = "the reader closed the connection";
        return Result::LinkLost;  // the connection was closed
    }
    if (status == MORVENT_INVALID_PORT) {
        error_ = "active mode: " + statusText(status);
        return Result::LinkLost;
    }
    if (config_.serial()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Quiet for long: ask the reader whether it is still there.
    if (steadyMs() - lastDataMs_ > 3000) {
        lastDataMs_ = steadyMs();
        if (!alive()) return Result::LinkLost;
    }
    return Result::Quiet;
}

bool ReaderSource::alive() {
    unsigned char a = address_, pair[2], b[9];
    const int status = GetReaderInformation(&a, pair, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &b[8], port_);
    if (linkFailure(status)) {
        error_ = "the reader does not answer: " + statusText(status);
        return false;
    }
    return true;
}

}  // namespace morventd
