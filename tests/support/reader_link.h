// A fake reader together with the library's open link to it, so a test can
// run the same case over a serial line and over TCP.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "support/fake_reader.h"

namespace mvtest {

enum class LinkKind { Serial, Network };

std::string linkName(LinkKind kind);
// Lets GoogleTest name parameterised cases by link kind.
inline void PrintTo(LinkKind kind, std::ostream* out) { *out << linkName(kind); }

// Signature shared by the library's receive routines.
using ReceiveRoutine = int (*)(unsigned char* buffer, int* count, int portIndex);

class ReaderLink {
 public:
  // Starts a fake reader of `kind` and opens it with OpenComPort (as COM
  // `comNumber`) or OpenNetPort (listening on `tcpPort`, 0 for any free
  // port), the reader answering the handshake from `readerAddress`.
  // Check openStatus() before use.
  explicit ReaderLink(LinkKind kind, int comNumber = 5, std::uint8_t readerAddress = 0x00,
                      int tcpPort = 0);
  ~ReaderLink();  // closes the library's link if it opened
  ReaderLink(const ReaderLink&) = delete;
  ReaderLink& operator=(const ReaderLink&) = delete;

  int openStatus() const { return openStatus_; }
  int portIndex() const { return portIndex_; }
  LinkKind kind() const { return kind_; }
  FakeReader& reader() { return *reader_; }

  // Sends `frame` with SendDataToPort; returns its status.
  int send(const Bytes& frame);
  // Closes the library's link now (the destructor then does nothing).
  void close();

 private:
  LinkKind kind_;
  std::unique_ptr<FakeReader> reader_;
  int portIndex_ = -1;
  int openStatus_ = -1;
  bool open_ = false;
};

// Scripts a reader-information answer and runs GetReaderInformation to
// address `address` on `portIndex`; returns its status.
int askReaderInformation(FakeReader& reader, int portIndex, std::uint8_t address = 0x00);

}  // namespace mvtest
