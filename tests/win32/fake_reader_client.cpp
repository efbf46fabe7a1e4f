// FakeReader for the Windows build: each reader is served by the Linux
// helper (fake_server.cpp), reached over loopback TCP; every method is one
// request to it. The library under test still talks to the reader through
// real Winsock connections and real Win32 serial devices.
#include <winsock2.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "support/fake_reader.h"
#include "win32/remote_protocol.h"

namespace mvtest {
namespace {

namespace remote = mvtest::remote;

constexpr DWORD kAnswerLimitMs = 120000;  // the longest wait a request asks for is far below

class Connection {
 public:
  // Sends one request and returns its answer with the leading "ok" removed.
  std::istringstream ask(const std::string& request) {
    std::optional<std::istringstream> answer = tryAsk(request);
    if (!answer) throw std::runtime_error("fake server: '" + request + "' failed");
    return std::move(*answer);
  }

  // As ask(), but a "fail" answer is nullopt (a lost server still throws).
  std::optional<std::istringstream> tryAsk(const std::string& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    connect();
    const std::string line = request + "\n";
    if (::send(socket_, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size()))
      throw std::runtime_error("fake server: send failed");
    std::string answer;
    char c = 0;
    bool ended = false;
    while (!ended && ::recv(socket_, &c, 1, 0) == 1) {
      ended = c == '\n';
      if (!ended) answer += c;
    }
    if (!ended) throw std::runtime_error("fake server: no answer to '" + request + "'");
    if (answer.rfind("ok", 0) != 0) return std::nullopt;
    return std::istringstream(answer.substr(2));
  }

 private:
  void connect() {
    if (socket_ != INVALID_SOCKET) return;
    const char* port = std::getenv(remote::kServerPortVariable);
    if (!port) throw std::runtime_error("MORVENT_FAKE_SERVER is not set");
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot reach the fake server");
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&kAnswerLimitMs),
               sizeof kAnswerLimitMs);
  }

  std::mutex mutex_;
  SOCKET socket_ = INVALID_SOCKET;
};

Connection& server() {
  static Connection connection;
  return connection;
}

std::string id(int remoteId) { return " " + std::to_string(remoteId); }

bool flagOf(std::istringstream answer) {
  int value = 0;
  answer >> value;
  return value != 0;
}

Clock::time_point placeAgo(long long agoMs) { return Clock::now() - std::chrono::milliseconds(agoMs); }

}  // namespace

// ---- COM mapping: the Wine prefix's device links -----------------------------

ComMapping::ComMapping(int comNumber, const std::string& path) : name_(std::to_string(comNumber)) {
  std::string previous;
  server().ask("comlink " + name_ + " " + path) >> previous;
  previous_ = previous;
}

ComMapping::~ComMapping() {
  try {
    server().ask("comrestore " + name_ + " " + previous_.value_or("-"));
  } catch (const std::exception&) {
    // The helper is gone; nothing left to restore.
  }
}

// ---- Setup and teardown --------------------------------------------------------

FakeReader::FakeReader() = default;

std::unique_ptr<FakeReader> FakeReader::tcp(int port) {
  std::optional<std::istringstream> answer = server().tryAsk("tcp " + std::to_string(port));
  if (!answer) return nullptr;  // the port is taken
  std::unique_ptr<FakeReader> reader(new FakeReader);
  *answer >> reader->remoteId_ >> reader->port_;
  reader->listenFd_ = 0;  // marks a TCP reader for isTcp()
  return reader;
}

std::unique_ptr<FakeReader> FakeReader::pty() {
  std::istringstream answer = server().ask("pty");
  std::unique_ptr<FakeReader> reader(new FakeReader);
  answer >> reader->remoteId_ >> reader->slavePath_;
  return reader;
}

FakeReader::~FakeReader() {
  mappings_.clear();
  try {
    server().ask("free" + id(remoteId_));
  } catch (const std::exception&) {
  }
}

termios FakeReader::slaveTermios() const {
  std::string hex;
  server().ask("termios" + id(remoteId_)) >> hex;
  termios settings{};
  const Bytes raw = remote::fromHex(hex);
  std::memcpy(&settings, raw.data(), raw.size() < sizeof settings ? raw.size() : sizeof settings);
  return settings;
}

void FakeReader::setSlaveTermios(const termios& settings) {
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&settings);
  server().ask("settermios" + id(remoteId_) + " " + remote::toHex(Bytes(raw, raw + sizeof settings)));
}

// ---- Script and actions ---------------------------------------------------------

void FakeReader::queueStep(Step step) {
  std::string request = "step" + id(remoteId_) + (step.dropAfter ? " 1 " : " 0 ") +
                        std::to_string(step.chunks.size());
  for (const Chunk& chunk : step.chunks)
    request += " " + remote::toHex(chunk.bytes) + ":" + std::to_string(chunk.delayMs);
  server().ask(request);
}

void FakeReader::sendUnsolicited(Bytes bytes) {
  server().ask("unsolicited" + id(remoteId_) + " " + remote::toHex(bytes));
}

void FakeReader::dropConnection() { server().ask("drop" + id(remoteId_)); }

void FakeReader::setRawMode(bool raw) { server().ask("raw" + id(remoteId_) + (raw ? " 1" : " 0")); }

void FakeReader::setIgnorePeerClose(bool ignore) {
  server().ask("ignoreclose" + id(remoteId_) + (ignore ? " 1" : " 0"));
}

// ---- Observations -----------------------------------------------------------------

bool FakeReader::waitForRequests(std::size_t n, int timeoutMs) const {
  return flagOf(server().ask("waitreq" + id(remoteId_) + " " + std::to_string(n) + " " +
                             std::to_string(timeoutMs)));
}

std::vector<Request> FakeReader::requests() const {
  std::istringstream answer = server().ask("requests" + id(remoteId_));
  std::size_t n = 0;
  answer >> n;
  std::vector<Request> list;
  for (std::size_t i = 0; i < n; ++i) {
    std::string token;
    answer >> token;
    auto [bytes, ago] = remote::splitTimed(token);
    list.push_back({bytes, placeAgo(ago)});
  }
  return list;
}

std::size_t FakeReader::requestCount() const { return requests().size(); }

Bytes FakeReader::lastRequest() const {
  const auto list = requests();
  return list.empty() ? Bytes{} : list.back().bytes;
}

std::vector<Clock::time_point> FakeReader::keepAliveTimes() const {
  std::istringstream answer = server().ask("keepalives" + id(remoteId_));
  std::size_t n = 0;
  answer >> n;
  std::vector<Clock::time_point> times;
  for (std::size_t i = 0; i < n; ++i) {
    long long ago = 0;
    answer >> ago;
    times.push_back(placeAgo(ago));
  }
  return times;
}

int FakeReader::keepAlivesSeen() const { return static_cast<int>(keepAliveTimes().size()); }

bool FakeReader::waitForKeepAlives(int n, int timeoutMs) const {
  return flagOf(server().ask("waitka" + id(remoteId_) + " " + std::to_string(n) + " " +
                             std::to_string(timeoutMs)));
}

int FakeReader::connectionsAccepted() const {
  int n = 0;
  server().ask("accepted" + id(remoteId_)) >> n;
  return n;
}

bool FakeReader::connected() const { return flagOf(server().ask("connected" + id(remoteId_))); }

bool FakeReader::waitForDisconnect(int timeoutMs) const {
  return flagOf(server().ask("waitdisc" + id(remoteId_) + " " + std::to_string(timeoutMs)));
}

}  // namespace mvtest
