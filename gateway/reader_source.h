// One reader as the worker sees it: on an open link (its own, or a serial
// bus shared with other readers, each at its own address), take one round
// of reads (an inventory in poll mode, what the reader sent by itself in
// active mode). Reaches the reader only through the public API.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gateway/reader_config.h"
#include "morvent.hpp"

namespace morventd {

struct TagRead {
    std::string epc, tid;  // hex, upper case
};

// Splits inventory tag records (length byte, EPC; with TID asked, another
// length byte and the TID) into reads. A record that overruns the data ends
// the walk; the reads before it are kept. Returns the records it could not use.
int parseTagRecords(const std::uint8_t* data, std::size_t size, bool withTid, std::vector<TagRead>& out);

// Takes the whole frames of the reader's active mode from the front of
// `pending` (Len, Adr, Cmd, Status, record, CRC) and turns their records into
// reads; a frame whose CRC does not check is counted in *bad and skipped,
// bytes that cannot start a frame are skipped one by one. A partial frame
// stays in `pending` for the next call.
void takeActiveFrames(std::vector<std::uint8_t>& pending, bool withTid, std::vector<TagRead>& out, int* bad);

// Opens the link that `readers` share: one reader's TCP connection, or a
// serial device (on a bus, with a handshake at one of its readers' addresses).
// Empty, with *error naming the link and the cause, when it cannot.
std::optional<morvent::Reader> openLink(const std::vector<ReaderConfig>& readers, std::string* error);

class ReaderSource {
public:
    explicit ReaderSource(const ReaderConfig& config);
    ~ReaderSource() { detach(); }
    ReaderSource(const ReaderSource&) = delete;
    ReaderSource& operator=(const ReaderSource&) = delete;

    enum class Result { Ok, Quiet, LinkLost };

    // Starts reading this reader on `link`, which is open and on a bus
    // shared with the other readers of its device: checks that the reader
    // answers at its address, and sets its active mode when configured.
    // false: lastError() says why.
    bool attach(morvent::Reader& link);
    // One round: appends the reads. LinkLost: the reader no longer answers.
    Result round(std::vector<TagRead>& reads);
    void detach();  // leaves active mode first, when it was set
    bool attached() const { return link_ != nullptr; }
    const std::string& lastError() const { return error_; }
    const ReaderConfig& config() const { return config_; }
    // The link, addressed to this reader, for operations between rounds;
    // null when detached.
    morvent::Reader* reader();

private:
    Result poll(std::vector<TagRead>& reads);
    Result drain(std::vector<TagRead>& reads);
    bool alive();

    const ReaderConfig& config_;
    morvent::Reader* link_ = nullptr;
    morvent::InventoryOptions options_;
    bool activeSet_ = false;
    int failures_ = 0;
    std::int64_t lastDataMs_ = 0;
    std::vector<std::uint8_t> pending_;
    std::string error_;
};

}  // namespace morventd
