#include "gateway/reader_source.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/clock.h"
#include "morvent.h"
#include "morvent/records.hpp"

namespace morventd {

using morvent_common::steadyMs;

namespace {

constexpr std::uint8_t kActiveFrameCmd = 0xEE;
constexpr std::size_t kMinFrame = 6;  // Len Adr Cmd Status CRC CRC

std::string hex(const std::uint8_t* data, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out(2 * n, '0');
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 15];
    }
    return out;
}

bool linkFailure(int status) { return status == MORVENT_COMM_ERROR || status == MORVENT_INVALID_PORT; }

}  // namespace

int parseTagRecords(const std::uint8_t* data, std::size_t size, bool withTid, std::vector<TagRead>& out) {
    const std::size_t walked = morvent::walkTagRecords(data, size, withTid, [&out](const morvent::TagRecord& record) {
        if (record.epcSize == 0) return false;  // a record without an EPC names no tag: it ends the walk as unusable
        out.push_back({hex(record.epc, record.epcSize), hex(record.tid, record.tidSize)});
        return true;
    });
    return walked == size ? 0 : 1;
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
        std::copy(pending.begin() + static_cast<std::ptrdiff_t>(at),
                  pending.begin() + static_cast<std::ptrdiff_t>(at + length), frame);
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

ReaderSource::ReaderSource(const ReaderConfig& config) : config_(config) {
    if (config.mask) {
        morvent::Mask mask;
        mask.bank = static_cast<morvent::Bank>(config.maskBank);
        mask.bitAddress = config.maskAddress;
        mask.bits.assign(config.maskBytes.begin(), config.maskBytes.end());
        mask.bitLength = config.maskBits;
        options_.mask = mask;
    }
    options_.tid = config.tid;
    options_.tidAddress = config.tidAddress;
    options_.tidWords = config.tidLength;
}

std::optional<morvent::Reader> openLink(const std::vector<ReaderConfig>& readers, std::string* error) {
    const ReaderConfig& config = readers.front();
    std::optional<morvent::Reader> link;
    struct stat device {};
    if (!config.device.empty() && stat(config.device.c_str(), &device) != 0) {
        *error = "cannot open " + config.link() + ": " +
                 (errno == ENOENT ? "no such device " + config.device : config.device + ": " + std::strerror(errno));
        return link;
    }
    try {
        if (!config.serial()) {
            link.emplace(morvent::Reader::tcp(config.host, config.tcpPort, config.address));
        } else {
            int com = config.com;
            if (!config.device.empty()) {
                // This process holds one serial device: its device is COM1.
                com = 1;
                setenv("MORVENT_COM1", config.device.c_str(), 1);
            }
            // Each reader of a bus is asked at its own address in turn, never
            // all at 0xFF (their answers would collide): the first that
            // answers opens the device, so one reader down keeps no other off.
            for (const ReaderConfig& r : readers) {
                try {
                    link.emplace(morvent::Reader::serial(com, config.baud, r.address));
                    break;
                } catch (const morvent::Error& e) {
                    // A device that cannot be opened fails every address alike.
                    if (&r == &readers.back() || !e.reason().empty()) throw;
                }
            }
        }
    } catch (const morvent::Error& e) {
        // The error's own detail names the port as the core knows it (COM1
        // for a device path); the configured link says it as it was written.
        std::string none;
        for (const ReaderConfig& r : readers) none += (none.empty() ? "" : ", ") + std::to_string(r.address);
        // A cause known better than the status (a device not this process's to use) is named.
        const std::string cause = e.reason().empty() ? e.name() + std::string(": ") + e.meaning() : e.reason();
        *error = "cannot open " + config.link() + ": " +
                 (readers.size() > 1 && e.reason().empty() ? "no reader answers at address " + none + ": " : "") +
                 e.operation() + ": " + cause;
    }
    return link;
}

bool ReaderSource::attach(morvent::Reader& link) {
    detach();
    failures_ = 0;
    pending_.clear();
    lastDataMs_ = steadyMs();
    // The opening asked one reader of a bus (or whichever answers): each must answer at its own address.
    if (config_.address != 0xFF) {
        link.useAddress(config_.address);
        try {
            link.info();
        } catch (const morvent::Error& e) {
            error_ = "no answer at address " + std::to_string(config_.address) + " on " + config_.link() + ": " +
                     e.name() + ": " + e.meaning();
            return false;
        }
    }
    link_ = &link;
    if (config_.active) {
        // Active mode sends what the stored mask and TID settings select.
        try {
            link_->setMask(options_.mask ? *options_.mask : morvent::Mask{morvent::Bank::Epc, 0, {}, 0});
            link_->setTidParameters(config_.tidAddress, config_.tid ? config_.tidLength : 0);
            link_->setWorkMode(morvent::WorkMode::Active);
        } catch (const morvent::Error& e) {
            error_ = "cannot switch " + config_.link() + " to active mode: " + e.what();
            link_ = nullptr;
            return false;
        }
        activeSet_ = true;
    }
    return true;
}

void ReaderSource::detach() {
    if (!link_) return;
    if (activeSet_) {
        try {
            reader()->setWorkMode(morvent::WorkMode::Answer);  // back to answering, as found
        } catch (const morvent::Error&) {}
    }
    activeSet_ = false;
    link_ = nullptr;
}

morvent::Reader* ReaderSource::reader() {
    if (link_) link_->useAddress(config_.address);
    return link_;
}

ReaderSource::Result ReaderSource::round(std::vector<TagRead>& reads) {
    if (!reader()) return Result::LinkLost;
    return config_.active ? drain(reads) : poll(reads);
}

ReaderSource::Result ReaderSource::poll(std::vector<TagRead>& reads) {
    try {
        for (const morvent::Tag& tag : link_->inventory(options_))
            reads.push_back({hex(tag.epc.data(), tag.epc.size()), hex(tag.tid.data(), tag.tid.size())});
        failures_ = 0;
        return reads.empty() ? Result::Quiet : Result::Ok;
    } catch (const morvent::Error& e) {
        error_ = e.what();
        ++failures_;
        // One missed answer can be noise; two in a row, or a port gone, is a lost link.
        const int status = e.status();
        if (status == MORVENT_INVALID_PORT || (linkFailure(status) && failures_ >= 2) || failures_ >= 5)
            return Result::LinkLost;
        return Result::Quiet;
    }
}

ReaderSource::Result ReaderSource::drain(std::vector<TagRead>& reads) {
    // Serial reads in one turn at most: enough to empty a full driver queue,
    // few enough that a reader that never pauses cannot hold the turn.
    constexpr int kSerialReadsPerTurn = 160;
    morvent::Bytes data;
    bool waited = false, lost = false;
    try {
        // A serial call hands over at most 50 bytes and leaves the rest
        // queued: the turn calls again until the queue is empty.
        for (int read = 0; read < kSerialReadsPerTurn; ++read) {
            const morvent::Bytes got = link_->readActiveModeData();
            data.insert(data.end(), got.begin(), got.end());
            if (got.empty() || !config_.serial()) break;
        }
    } catch (const morvent::Error& e) {
        // On TCP the call waits a second for data: a quiet reader, not a failure.
        lost = e.status() != MORVENT_COMM_ERROR || config_.serial();
        if (lost) error_ = e.what();
        waited = true;
    }
    if (!data.empty()) {
        lastDataMs_ = steadyMs();
        pending_.insert(pending_.end(), data.begin(), data.end());
        int bad = 0;
        takeActiveFrames(pending_, config_.tid, reads, &bad);  // reads that came before a failure count too
    }
    if (lost) return Result::LinkLost;
    if (!data.empty()) return Result::Ok;
    if (!config_.serial() && !waited) {
        // Nothing, without waiting, on TCP: the reader closed the connection.
        error_ = "the reader closed the connection";
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
    try {
        link_->info();
        return true;
    } catch (const morvent::Error& e) {
        if (!linkFailure(e.status())) return true;
        error_ = "the reader does not answer: " + std::string(e.what());
        return false;
    }
}

}  // namespace morventd
