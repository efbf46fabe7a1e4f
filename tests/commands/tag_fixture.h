// A reader opened over the scripted fake, on loopback TCP or a pty, with
// the helpers the tag command suites share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "morvent.h"
#include "support/fake_reader.h"
#include "support/reader_link.h"

namespace tagtest {

using mvtest::Bytes;
using mvtest::LinkKind;

inline std::string linkName(const ::testing::TestParamInfo<LinkKind>& info) {
  return mvtest::linkName(info.param);
}

constexpr int kComNumber = 9;
constexpr std::uint8_t kHandshakeAdr = 0x07;
constexpr std::uint8_t kAnswerAdr = 0x23;  // differs from what callers pass
constexpr std::uint8_t kCallerAdr = 0x00;
constexpr int kSentinel = 0x5A5A;

class OpenReader {
 public:
  void open(LinkKind kind) {
    link_ = std::make_unique<mvtest::ReaderLink>(kind, kComNumber, kHandshakeAdr);
    ASSERT_EQ(link_->openStatus(), MORVENT_OK);
  }
  void close() { link_.reset(); }

  int port() const { return link_->portIndex(); }
  mvtest::FakeReader& reader() { return link_->reader(); }

  // Scripts one answer frame from kAnswerAdr.
  void answer(std::uint8_t cmd, std::uint8_t status, const Bytes& data = {}) {
    reader().scriptFrame(kAnswerAdr, cmd, status, data);
  }
  void answerRaw(Bytes bytes) { reader().script({{std::move(bytes)}}); }

  // The request frame the command sent.
  Bytes sent() { return reader().lastRequest(); }
  // Requests that followed the handshake.
  std::size_t commandsSent() { return reader().requestCount() - 1; }

 private:
  std::unique_ptr<mvtest::ReaderLink> link_;
};

// Fixtures that open the reader before each test and close it after;
// `Ops` is OpenReader or a helper class derived from it.
template <class Ops>
class OverTcp : public ::testing::Test, public Ops {
 protected:
  void SetUp() override { this->open(LinkKind::Network); }
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
