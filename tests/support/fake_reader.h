// A scripted stand-in for a reader, for tests of the link layer and of every
// command. It serves either a pseudo-terminal (the library opens its slave as
// a COM port through MORVENT_COM<n>) or a loopback TCP listener (the library's
// port index is the listener's port number), on a thread of its own.
//
// Incoming bytes are cut into requests by their Len byte (first byte = number
// of bytes that follow); on TCP the keep-alive pair 00 00 between frames is
// counted apart and is not a request. In raw mode every chunk read counts as
// one request instead.
//
// Each request consumes the next scripted step: an answer (byte chunks, each
// written after its own delay, counted from the previous chunk), silence, or
// an answer followed by closing the connection. A request that finds no step
// queued is not answered.
//
// Typical use:
//   auto reader = mvtest::FakeReader::tcp();
//   reader->scriptReaderInfo(0x07);
//   OpenNetPort(reader->port(), "127.0.0.1", &adr, &handle);
//   reader->script({{bytes1}, {bytes2, 40}});   // two chunks, 40 ms apart
#pragma once

#include <termios.h>  // the Windows build has a stand-in of the Linux layout

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace mvtest {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// The frame with its CRC appended, low byte first.
Bytes withCrc(Bytes frameWithoutCrc);

// A response frame: Len computed, then Adr, Cmd, Status, data, CRC.
Bytes response(std::uint8_t adr, std::uint8_t cmd, std::uint8_t status, const Bytes& data = {});

// A request frame as the library builds it: Len, Adr, Cmd, data, CRC.
Bytes request(std::uint8_t adr, std::uint8_t cmd, const Bytes& data = {});

// The data the fake answers GetReaderInformation with by default: the 11
// information bytes, then a spare one, so the frame has Len 0x11.
extern const Bytes kReaderInfoData;

// Sets MORVENT_COM<n> to `path` for its lifetime, then restores the old value.
class ComMapping {
 public:
  ComMapping(int comNumber, const std::string& path);
  ~ComMapping();
  ComMapping(const ComMapping&) = delete;
  ComMapping& operator=(const ComMapping&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Maps COM n to a path that does not exist, so no device on the machine answers.
std::unique_ptr<ComMapping> mapComToMissing(int comNumber);

struct Chunk {
  Bytes bytes;
  int delayMs = 0;  // wait this long (after the previous chunk), then write
};

struct Request {
  Bytes bytes;
  Clock::time_point at;  // when its last byte was read
};

// A TCP listener on 127.0.0.1 at `port` (0: a free one the kernel picks),
// its port in *bound; -1 with errno set when it cannot listen. Linux only.
int listenLoopback(int port, int* bound);

class FakeReader {
 public:
  // A listener on 127.0.0.1; port 0 lets the kernel choose a free one.
  // nullptr when the port cannot be bound.
  static std::unique_ptr<FakeReader> tcp(int port = 0);
  static std::unique_ptr<FakeReader> pty();
  ~FakeReader();  // stops the thread and closes everything; bounded
  FakeReader(const FakeReader&) = delete;
  FakeReader& operator=(const FakeReader&) = delete;

  bool isTcp() const { return listenFd_ >= 0; }
  int port() const { return port_; }                             // TCP
  const std::string& slavePath() const { return slavePath_; }    // pty
  // Maps COM n to the pty slave until the fake is destroyed.
  void mapCom(int comNumber);
  // The slave's line settings (pty); tests use them to check the library's.
  termios slaveTermios() const;
  void setSlaveTermios(const termios& settings);

  // ---- Script: one step per incoming request, in order ----
  void script(std::vector<Chunk> answer);
  void scriptFrame(std::uint8_t adr, std::uint8_t cmd, std::uint8_t status,
                   const Bytes& data = {}, int delayMs = 0);
  void scriptReaderInfo(std::uint8_t adr, const Bytes& data = kReaderInfoData, int delayMs = 0);
  void scriptSilence();
  // Answers with the chunks, then closes the connection (TCP).
  void scriptAnswerThenDrop(std::vector<Chunk> answer);

  // ---- Actions that do not wait for a request ----
  void sendUnsolicited(Bytes bytes);
  void dropConnection();  // TCP: closes the current connection, returns once done
  void setRawMode(bool raw);
  // TCP: when the library shuts its side, keep ours open instead of closing
  // (a reader that never answers the close).
  void setIgnorePeerClose(bool ignore);

  // ---- What arrived ----
  bool waitForRequests(std::size_t n, int timeoutMs) const;
  std::vector<Request> requests() const;
  std::size_t requestCount() const;
  Bytes lastRequest() const;  // empty when none
  int keepAlivesSeen() const;
  std::vector<Clock::time_point> keepAliveTimes() const;
  bool waitForKeepAlives(int n, int timeoutMs) const;
  int connectionsAccepted() const;
  bool connected() const;
  bool waitForDisconnect(int timeoutMs) const;

 private:
  struct Step {
    std::vector<Chunk> chunks;
    bool dropAfter = false;
  };
  struct Output {
    Clock::time_point due;
    Bytes bytes;
    bool dropAfter = false;
  };

  FakeReader();
  void start();
  void run();
  int ioFd() const;
  int pollTimeoutMs() const;
  void acceptClient();
  void closeClient();
  void readInput();
  void takeRequests(Clock::time_point at);
  void answer(const Step& step);
  void releaseDueOutput();
  void writePending();
  void wake();
  void queueStep(Step step);

  int listenFd_ = -1;
  int clientFd_ = -1;
  int masterFd_ = -1;
  int slaveFd_ = -1;  // held open so the pty stays up between the library's opens
  int wakePipe_[2] = {-1, -1};
  int port_ = 0;
  int remoteId_ = -1;  // Windows build: the helper's name for this reader
  std::string slavePath_;
  std::vector<std::unique_ptr<ComMapping>> mappings_;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stop_ = false;
  bool raw_ = false;
  bool dropRequested_ = false;
  bool ignorePeerClose_ = false;
  bool peerClosed_ = false;  // the library shut its side; stop reading
  std::deque<Step> script_;
  std::deque<Output> scheduled_;
  Bytes writing_;  // bytes released for writing, not yet accepted by the fd
  bool dropAfterWriting_ = false;
  Bytes input_;    // received bytes not yet forming a whole request
  std::vector<Request> requests_;
  std::vector<Clock::time_point> keepAlives_;
  int accepted_ = 0;
};

// Milliseconds since `start`.
long long msSince(Clock::time_point start);

}  // namespace mvtest
