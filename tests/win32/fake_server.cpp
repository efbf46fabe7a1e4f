// The Linux helper that serves fake readers to the Windows test suites
// running under Wine (protocol in remote_protocol.h). It listens on
// 127.0.0.1, prints its port on standard output, and serves each client on
// a thread of its own; a client's readers live until it frees them or
// disconnects. COM mappings are symlinks in $WINEPREFIX/dosdevices, which
// Wine resolves on every open of "\\.\COMn".
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "support/fake_reader.h"
#include "win32/remote_protocol.h"

using namespace mvtest;
namespace fs = std::filesystem;
namespace remote = mvtest::remote;

namespace {

struct Session {
  std::map<int, std::unique_ptr<FakeReader>> readers;
  int nextId = 1;

  FakeReader* find(std::istringstream& in) {
    int id = 0;
    in >> id;
    auto it = readers.find(id);
    return it == readers.end() ? nullptr : it->second.get();
  }
  std::string add(std::unique_ptr<FakeReader> reader, const std::string& where) {
    if (!reader) return "fail";
    const int id = nextId++;
    readers[id] = std::move(reader);
    return "ok " + std::to_string(id) + " " + where;
  }
};

long long agoMs(Clock::time_point at) { return msSince(at); }
std::string flag(bool value) { return value ? "ok 1" : "ok 0"; }

fs::path comLink(int com) {
  const char* prefix = std::getenv("WINEPREFIX");
  return fs::path(prefix ? prefix : "") / "dosdevices" / ("com" + std::to_string(com));
}

void pointComAt(int com, const std::string& target) {
  std::error_code ignored;
  fs::remove(comLink(com), ignored);
  if (target != "-") fs::create_symlink(target, comLink(com), ignored);
}

// ---- Handlers, one per verb ------------------------------------------------

using Handler = std::string (*)(Session&, std::istringstream&);

std::string onTcp(Session& s, std::istringstream& in) {
  int port = 0;
  in >> port;
  auto reader = FakeReader::tcp(port);
  const int bound = reader ? reader->port() : 0;
  return s.add(std::move(reader), std::to_string(bound));
}

std::string onPty(Session& s, std::istringstream&) {
  auto reader = FakeReader::pty();
  const std::string path = reader->slavePath();
  return s.add(std::move(reader), path);
}

std::string onFree(Session& s, std::istringstream& in) {
  int id = 0;
  in >> id;
  s.readers.erase(id);
  return "ok";
}

std::string onStep(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  int drop = 0, n = 0;
  in >> drop >> n;
  std::vector<Chunk> chunks;
  for (int i = 0; i < n; ++i) {
    std::string token;
    in >> token;
    auto [bytes, delay] = remote::splitTimed(token);
    chunks.push_back({bytes, static_cast<int>(delay)});
  }
  if (!r) return "fail";
  if (n == 0) r->scriptSilence();
  else if (drop) r->scriptAnswerThenDrop(std::move(chunks));
  else r->script(std::move(chunks));
  return "ok";
}

std::string onUnsolicited(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  std::string hex;
  in >> hex;
  if (!r) return "fail";
  r->sendUnsolicited(remote::fromHex(hex));
  return "ok";
}

std::string onDrop(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  if (!r) return "fail";
  r->dropConnection();
  return "ok";
}

// A reader's switch: its id, then 0 (off) or another number (on).
template <void (FakeReader::*Set)(bool)>
std::string onSwitch(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  int on = 0;
  in >> on;
  if (!r) return "fail";
  (r->*Set)(on != 0);
  return "ok";
}

std::string onTermios(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  if (!r) return "fail";
  const termios t = r->slaveTermios();
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&t);
  return "ok " + remote::toHex(Bytes(raw, raw + sizeof t));
}

std::string onSetTermios(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  std::string hex;
  in >> hex;
  const Bytes raw = remote::fromHex(hex);
  if (!r || raw.size() != sizeof(termios)) return "fail";
  termios t;
  std::memcpy(&t, raw.data(), sizeof t);
  r->setSlaveTermios(t);
  return "ok";
}

std::string onRequests(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  if (!r) return "fail";
  const auto requests = r->requests();
  std::string answer = "ok " + std::to_string(requests.size());
  for (const Request& q : requests) answer += " " + remote::toHex(q.bytes) + ":" + std::to_string(agoMs(q.at));
  return answer;
}

std::string onKeepAlives(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  if (!r) return "fail";
  const auto times = r->keepAliveTimes();
  std::string answer = "ok " + std::to_string(times.size());
  for (auto at : times) answer += " " + std::to_string(agoMs(at));
  return answer;
}

std::string onWaitRequests(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  std::size_t n = 0;
  int ms = 0;
  in >> n >> ms;
  return r ? flag(r->waitForRequests(n, ms)) : "fail";
}

std::string onWaitKeepAlives(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  int n = 0, ms = 0;
  in >> n >> ms;
  return r ? flag(r->waitForKeepAlives(n, ms)) : "fail";
}

std::string onWaitDisconnect(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  int ms = 0;
  in >> ms;
  return r ? flag(r->waitForDisconnect(ms)) : "fail";
}

std::string onAccepted(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  return r ? "ok " + std::to_string(r->connectionsAccepted()) : "fail";
}

std::string onConnected(Session& s, std::istringstream& in) {
  FakeReader* r = s.find(in);
  return r ? flag(r->connected()) : "fail";
}

std::string onComLink(Session&, std::istringstream& in) {
  int com = 0;
  std::string target;
  in >> com >> target;
  std::error_code missing;
  const fs::path previous = fs::read_symlink(comLink(com), missing);
  pointComAt(com, target);
  return "ok " + (missing ? std::string("-") : previous.string());
}

std::string onComRestore(Session&, std::istringstream& in) {
  int com = 0;
  std::string previous;
  in >> com >> previous;
  pointComAt(com, previous);
  return "ok";
}

const std::map<std::string, Handler> kHandlers = {
    {"tcp", onTcp},           {"pty", onPty},
    {"free", onFree},         {"step", onStep},
    {"unsolicited", onUnsolicited}, {"drop", onDrop},
    {"raw", onSwitch<&FakeReader::setRawMode>},
    {"ignoreclose", onSwitch<&FakeReader::setIgnorePeerClose>},
    {"termios", onTermios},
    {"settermios", onSetTermios},   {"requests", onRequests},
    {"keepalives", onKeepAlives},   {"waitreq", onWaitRequests},
    {"waitka", onWaitKeepAlives},   {"waitdisc", onWaitDisconnect},
    {"accepted", onAccepted}, {"connected", onConnected},
    {"comlink", onComLink},   {"comrestore", onComRestore},
};

bool readLine(int fd, std::string& line) {
  line.clear();
  char c = 0;
  for (;;) {
    const ssize_t n = read(fd, &c, 1);
    if (n <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
}

bool writeLine(int fd, std::string line) {
  line += '\n';
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void serve(int fd) {
  Session session;
  std::string line;
  while (readLine(fd, line)) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    auto it = kHandlers.find(verb);
    std::string answer = "fail unknown";
    try {
      if (it != kHandlers.end()) answer = it->second(session, in);
    } catch (const std::exception& e) {
      answer = std::string("fail ") + e.what();
    }
    if (!writeLine(fd, answer)) break;
  }
  close(fd);
}

}  // namespace

int main() {
  int port = 0;
  const int listener = listenLoopback(0, &port);
  if (listener < 0) {
    std::perror("morvent-fake-server");
    return 1;
  }
  std::printf("%d\n", port);
  std::fflush(stdout);
  for (;;) {
    const int client = accept(listener, nullptr, nullptr);
    if (client >= 0) std::thread(serve, client).detach();
  }
}
