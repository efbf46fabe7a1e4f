// A reader opened over the scripted fake, on loopback TCP or a pty, for the
// tag command suites.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "morvent.h"
#include "support/fake_reader.h"

namespace tagtest {

using mvtest::Bytes;

enum class LinkKind { Tcp, Pty };

inline void PrintTo(LinkKind kind, std::ostream* os) { *os << (kind == LinkKind::Tcp ? "Tcp" : "Pty"); }

inline std::string linkName(const ::testing::TestParamInfo<LinkKind>& info) {
  return info.param == LinkKind::Tcp ? "Tcp" : "Pty";
}

constexpr int kComNumber = 9;
constexpr std::uint8_t kHandshakeAdr = 0x07;
constexpr std::uint8_t kAnswerAdr = 0x23;  // differs from what callers pass
constexpr std::uint8_t kCallerAdr = 0x00;
constexpr int kSentinel = 0x5A5A;

class OpenReader {
 public:
  void open(LinkKind kind) {
    reader_ = kind == LinkKind::Tcp ? mvtest::FakeReader::tcp() : mvtest::FakeReader::pty();
    ASSERT_TRUE(reader_);
    reader_->scriptReaderInfo(kHandshakeAdr);
    unsigned char adr = 0;
    int handle = -1;
    if (kind == LinkKind::Tcp) {
      ASSERT_EQ(OpenNetPort(reader_->port(), "127.0.0.1", &adr, &handle), MORVENT_OK);
    } else {
      reader_->mapCom(kComNumber);
      ASSERT_EQ(OpenComPort(kComNumber, &adr, 6, &handle), MORVENT_OK);
    }
    ASSERT_EQ(adr, kHandshakeAdr);
    port_ = handle;
  }

  void close() {
    if (port_ < 0) return;
    if (reader_->isTcp())
      CloseNetPort(port_);
    else
      CloseSpecComPort(port_);
    port_ = -1;
  }

  int port() const { return port_; }
  mvtest::FakeReader& reader() { return *reader_; }

  // Scripts one answer frame from kAnswerAdr.
  void answer(std::uint8_t cmd, std::uint8_t status, const Bytes& data = {}) {
    reader_->scriptFrame(kAnswerAdr, cmd, status, data);
  }
  void answerRaw(Bytes bytes) { reader_->script({{std::move(bytes)}}); }

  // Runs EASAlarm_G2 as a probe and expects its request to be the only one
  // since the handshake: whatever ran before it sent nothing.
  void expectNothingSentBefore() {
    reader_->scriptFrame(kAnswerAdr, 0x0D, 0x00);
    unsigned char adr = kCallerAdr;
    int errorCode = 0;
    EXPECT_EQ(EASAlarm_G2(&adr, &errorCode, port_), MORVENT_OK);
    EXPECT_EQ(commandsSent(), 1u);
    EXPECT_EQ(sent(), mvtest::request(kCallerAdr, 0x0D));
  }

  // The request frame the command sent; the handshake is request 0.
  Bytes sent() const { return reader_->lastRequest(); }
  // Requests that followed the handshake.
  std::size_t commandsSent() const { return reader_->requestCount() - 1; }

 private:
  std::unique_ptr<mvtest::FakeReader> reader_;
  int port_ = -1;
};

// Fixtures that open the reader before each test and close it after;
// `Ops` is OpenReader or a helper class derived from it.
template <class Ops>
class OverTcp : public ::testing::Test, public Ops {
 protected:
  void SetUp() override { this->open(LinkKind::Tcp); }
  void TearDown() override { this->close(); }
};

template <class Ops>
class OverBothLinks : public ::testing::TestWithParam<LinkKind>, public Ops {
 protected:
  void SetUp() override { this->open(GetParam()); }
  void TearDown() override { this->close(); }
};

using TagTest = OverTcp<OpenReader>;
using TagLinkTest = OverBothLinks<OpenReader>;

// The response frame with its CRC broken.
inline Bytes withBadCrc(Bytes frame) {
  frame.back() ^= 0x01;
  return frame;
}

}  // namespace tagtest
