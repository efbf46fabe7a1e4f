#include "support/fake_reader.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>


namespace mvtest {

// ---- COM mapping -------------------------------------------------------------

ComMapping::ComMapping(int comNumber, const std::string& path)
    : name_("MORVENT_COM" + std::to_string(comNumber)) {
  if (const char* old = std::getenv(name_.c_str())) previous_ = old;
  setenv(name_.c_str(), path.c_str(), 1);
}

ComMapping::~ComMapping() {
  if (previous_)
    setenv(name_.c_str(), previous_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

// ---- Setup and teardown -------------------------------------------------------

namespace {

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

FakeReader::FakeReader() {
  if (pipe(wakePipe_) != 0) throw std::runtime_error("pipe failed");
  setNonBlocking(wakePipe_[0]);
  setNonBlocking(wakePipe_[1]);
}

int listenLoopback(int port, int* bound) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    const int error = errno;  // the failure's, not the close's
    close(fd);
    errno = error;
    return -1;
  }
  *bound = ntohs(address.sin_port);
  return fd;
}

std::unique_ptr<FakeReader> FakeReader::tcp(int port) {
  std::unique_ptr<FakeReader> reader(new FakeReader);
  const int fd = listenLoopback(port, &reader->port_);
  if (fd < 0) return nullptr;
  setNonBlocking(fd);
  reader->listenFd_ = fd;
  reader->start();
  return reader;
}

std::unique_ptr<FakeReader> FakeReader::pty() {
  std::unique_ptr<FakeReader> reader(new FakeReader);
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    throw std::runtime_error("cannot create a pseudo-terminal");
  reader->masterFd_ = master;
  reader->slavePath_ = ptsname(master);
  reader->slaveFd_ = open(reader->slavePath_.c_str(), O_RDWR | O_NOCTTY);
  if (reader->slaveFd_ < 0) throw std::runtime_error("cannot open the pty slave");
  termios settings{};
  tcgetattr(reader->slaveFd_, &settings);
  cfmakeraw(&settings);
  tcsetattr(reader->slaveFd_, TCSANOW, &settings);
  setNonBlocking(master);
  reader->start();
  return reader;
}

void FakeReader::start() { thread_ = std::thread([this] { run(); }); }

FakeReader::~FakeReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake();
  if (thread_.joinable()) thread_.join();
  closeFd(clientFd_);
  closeFd(listenFd_);
  closeFd(slaveFd_);
  closeFd(masterFd_);
  closeFd(wakePipe_[0]);
  closeFd(wakePipe_[1]);
}

termios FakeReader::slaveTermios() const {
  termios settings{};
  tcgetattr(slaveFd_, &settings);
  return settings;
}

void FakeReader::setSlaveTermios(const termios& settings) {
  tcsetattr(slaveFd_, TCSANOW, &settings);
}

// ---- Script and actions ---------------------------------------------------------

void FakeReader::queueStep(Step step) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.push_back(std::move(step));
}

void FakeReader::sendUnsolicited(Bytes bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer({{{std::move(bytes), 0}}, false});
  }
  wake();
}

void FakeReader::dropConnection() {
  std::unique_lock<std::mutex> lock(mutex_);
  dropRequested_ = true;
  lock.unlock();
  wake();
  lock.lock();
  changed_.wait_for(lock, std::chrono::seconds(2), [this] { return !dropRequested_; });
}

void FakeReader::setIgnorePeerClose(bool ignore) {
  std::lock_guard<std::mutex> lock(mutex_);
  ignorePeerClose_ = ignore;
}

void FakeReader::setRawMode(bool raw) {
  std::lock_guard<std::mutex> lock(mutex_);
  raw_ = raw;
}

// ---- Observations -----------------------------------------------------------------

bool FakeReader::waitForRequests(std::size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return requests_.size() >= n; });
}

std::vector<Request> FakeReader::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::size_t FakeReader::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

Bytes FakeReader::lastRequest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.empty() ? Bytes{} : requests_.back().bytes;
}

int FakeReader::keepAlivesSeen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(keepAlives_.size());
}

std::vector<Clock::time_point> FakeReader::keepAliveTimes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return keepAlives_;
}

bool FakeReader::waitForKeepAlives(int n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return static_cast<int>(keepAlives_.size()) >= n; });
}

int FakeReader::connectionsAccepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

bool FakeReader::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return clientFd_ >= 0;
}

bool FakeReader::waitForDisconnect(int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return clientFd_ < 0; });
}

// ---- The reader's thread -----------------------------------------------------------
// All fds and queues below are touched with mutex_ held, except inside poll().

void FakeReader::wake() {
  const char byte = 1;
  ssize_t ignored = write(wakePipe_[1], &byte, 1);
  (void)ignored;
}

int FakeReader::ioFd() const { return isTcp() ? clientFd_ : masterFd_; }

int FakeReader::pollTimeoutMs() const {
  if (scheduled_.empty() || dropAfterWriting_) return -1;
  auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(scheduled_.front().due -
                                                                     Clock::now());
  return static_cast<int>(std::max<long long>(0, wait.count() + 1));
}

void FakeReader::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    pollfd fds[3] = {{wakePipe_[0], POLLIN, 0},
                     {listenFd_, POLLIN, 0},
                     {ioFd(), static_cast<short>(peerClosed_ ? 0 : POLLIN), 0}};
    if (!writing_.empty()) fds[2].events |= POLLOUT;
    const int timeout = pollTimeoutMs();
    lock.unlock();
    poll(fds, 3, timeout);
    lock.lock();
    if (fds[0].revents & POLLIN) {
      char scratch[64];
      while (read(wakePipe_[0], scratch, sizeof scratch) > 0) {
      }
    }
    if (dropRequested_) {
      closeClient();
      dropRequested_ = false;
      changed_.notify_all();
    }
    if (fds[1].revents & POLLIN) acceptClient();
    if (!peerClosed_ && fds[2].fd == ioFd() && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) readInput();
    releaseDueOutput();
    writePending();
  }
}

void FakeReader::acceptClient() {
  int fd = accept(listenFd_, nullptr, nullptr);
  if (fd < 0) return;
  // The newest connection is the reader's link; an older one is stale.
  closeClient();
  setNonBlocking(fd);
  int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  clientFd_ = fd;
  ++accepted_;
  changed_.notify_all();
}

void FakeReader::closeClient() {
  if (clientFd_ < 0) return;
  closeFd(clientFd_);
  peerClosed_ = false;
  scheduled_.clear();
  writing_.clear();
  dropAfterWriting_ = false;
  input_.clear();
  changed_.notify_all();
}

void FakeReader::readInput() {
  std::uint8_t chunk[4096];
  const ssize_t n = read(ioFd(), chunk, sizeof chunk);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && isTcp())) {
    if (n == 0 && ignorePeerClose_)
      peerClosed_ = true;
    else
      closeClient();  // the library closed its side
    return;
  }
  if (n < 0) return;
  const auto at = Clock::now();
  if (raw_) {
    requests_.push_back({Bytes(chunk, chunk + n), at});
    changed_.notify_all();
    if (!script_.empty()) {
      answer(script_.front());
      script_.pop_front();
    }
    return;
  }
  input_.insert(input_.end(), chunk, chunk + n);
  takeRequests(at);
}

// Cuts whole frames (and keep-alive pairs on TCP) off the front of the input.
void FakeReader::takeRequests(Clock::time_point at) {
  while (!input_.empty()) {
    if (isTcp() && input_[0] == 0x00) {
      if (input_.size() < 2) return;
      if (input_[1] == 0x00) {
        keepAlives_.push_back(at);
        input_.erase(input_.begin(), input_.begin() + 2);
        changed_.notify_all();
        continue;
      }
    }
    const std::size_t size = input_[0] + 1u;
    if (input_.size() < size) return;
    requests_.push_back({Bytes(input_.begin(), input_.begin() + size), at});
    input_.erase(input_.begin(), input_.begin() + size);
    changed_.notify_all();
    if (!script_.empty()) {
      answer(script_.front());
      script_.pop_front();
    }
  }
}

// Schedules the step's chunks after whatever is still scheduled.
void FakeReader::answer(const Step& step) {
  auto due = Clock::now();
  if (!scheduled_.empty()) due = std::max(due, scheduled_.back().due);
  for (const Chunk& chunk : step.chunks) {
    due += std::chrono::milliseconds(chunk.delayMs);
    scheduled_.push_back({due, chunk.bytes, false});
  }
  if (step.dropAfter) scheduled_.push_back({due, {}, true});
}

void FakeReader::releaseDueOutput() {
  const auto now = Clock::now();
  while (!scheduled_.empty() && scheduled_.front().due <= now && !dropAfterWriting_) {
    Output& output = scheduled_.front();
    writing_.insert(writing_.end(), output.bytes.begin(), output.bytes.end());
    dropAfterWriting_ = output.dropAfter;
    scheduled_.pop_front();
  }
}

void FakeReader::writePending() {
  const int fd = ioFd();
  if (fd < 0) {
    writing_.clear();
    dropAfterWriting_ = false;
    return;
  }
  while (!writing_.empty()) {
    const ssize_t n = isTcp() ? send(fd, writing_.data(), writing_.size(), MSG_NOSIGNAL)
                              : write(fd, writing_.data(), writing_.size());
    if (n <= 0) return;  // full: POLLOUT brings us back
    writing_.erase(writing_.begin(), writing_.begin() + n);
  }
  if (dropAfterWriting_) closeClient();
}

}  // namespace mvtest
