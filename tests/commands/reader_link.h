// A link opened to a scripted fake reader, over loopback TCP or a pty, and
// closed again when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "morvent.h"
#include "support/fake_reader.h"

namespace mvtest {

enum class Transport { Tcp, Pty };

inline const char* transportName(const testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::Tcp ? "Tcp" : "Pty";
}

constexpr int kTestCom = 9;
constexpr std::uint8_t kAnswering = 0x05;  // the fake reader's own address
constexpr std::uint8_t kSentinel = 0xA7;   // what the caller's variables hold before a call

struct ReaderLink {
  std::unique_ptr<FakeReader> reader;
  int port = -1;
  Transport transport;

  explicit ReaderLink(Transport t, std::uint8_t baudCode = 6) : transport(t) {
    reader = t == Transport::Tcp ? FakeReader::tcp() : FakeReader::pty();
    if (!reader) return;
    reader->scriptReaderInfo(kAnswering);
    unsigned char address = 0;
    int handle = -1;
    int result;
    if (t == Transport::Tcp) {
      result = OpenNetPort(reader->port(), "127.0.0.1", &address, &handle);
    } else {
      reader->mapCom(kTestCom);
      result = OpenComPort(kTestCom, &address, baudCode, &handle);
    }
    if (result == MORVENT_OK) port = handle;
  }
  ~ReaderLink() {
    if (port < 0) return;
    if (transport == Transport::Tcp)
      CloseNetPort(port);
    else
      CloseSpecComPort(port);
  }
  bool ok() const { return port >= 0; }
  FakeReader* operator->() const { return reader.get(); }
};

}  // namespace mvtest
