// An in-memory reader for tests and fuzzers: serial and network backends
// whose reads are served from scripted chunks and whose writes are captured,
// on a virtual clock. A read or wait that finds nothing to deliver advances
// the clock to the next chunk's arrival or to the end of its own time-out,
// whichever comes first, so a time-out costs microseconds instead of seconds.
//
//   memdev::install();
//   memdev::Device& reader = memdev::serialDevice(3);   // COM3 now exists
//   reader.answerNext({{frame}});                      // served after the next write
//   ... OpenCom(3, 0); GetDataFromPort(...) ...
//   memdev::uninstall();
//
// Chunk boundaries are kept: one read or recv never delivers bytes of two
// chunks, so a script decides exactly how an answer is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mv::plat::memdev {

using Bytes = std::vector<std::uint8_t>;

struct Chunk {
    Bytes bytes;
    std::uint32_t delayMs = 0;  // arrives this long after the previous chunk (or the release)
};

// The far end of one serial port or of the TCP connections to one port.
// All members are safe to call from any thread.
class Device {
public:
    // The reader's answer to one request: released by the library's next
    // write (a keep-alive's 00 00 is not a request and releases nothing).
    void answerNext(std::vector<Chunk> chunks);
    // Once the scripted answers are used up, every request is answered with
    // a frame that echoes its address and command, with `status` and `data`
    // (at most 250 bytes): a reader that answers anything.
    void echoEveryRequest(std::uint8_t status, Bytes data);
    // Bytes the reader sends by itself, from now on.
    void arrive(std::vector<Chunk> chunks);
    // Once every released chunk is read, the connection reads as closed.
    void closeAfterAnswers();
    // Forgets scripted answers, unread bytes, captured writes and faults.
    void clear();

    // Faults: writes fail outright; the socket never becomes writable; the
    // device refuses to be opened, configured or connected to.
    void failWrites(bool on);
    void blockWrites(bool on);
    void refuseOpen(bool on);

    Bytes written() const;                 // every byte written, keep-alives excepted
    std::vector<Bytes> writes() const;     // one entry per write call
    int keepAlives() const;                // 00 00 writes on a network link
    std::size_t unread() const;            // bytes scripted or arrived but not read
    int opens() const;                     // successful opens or connections

    struct State;
    explicit Device(State* state) : state_(state) {}

private:
    State* state_;
};

// Installs the in-memory serial and network backends, the virtual clock and
// the virtual sleep. uninstall() restores the system's and forgets every device.
void install();
void uninstall();
// Forgets every device and every socket; the clock runs on.
void reset();

// The device behind COM `comNumber` / TCP port `tcpPort`, created on first
// use. A COM number or TCP port without a device cannot be opened.
Device serialDevice(int comNumber);
Device netDevice(int tcpPort);

// The virtual clock, in milliseconds.
std::uint32_t now();
void setNow(std::uint32_t ms);

// Operations on a socket after it was closed, or on a handle never issued:
// must stay 0 (the keep-alive never writes to a closed or reused socket).
int misuses();

}  // namespace mv::plat::memdev
