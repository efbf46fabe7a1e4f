#include "support/reader_link.h"

#include "morvent.h"

namespace mvtest {

std::string linkName(LinkKind kind) { return kind == LinkKind::Serial ? "Serial" : "Network"; }

ReaderLink::ReaderLink(LinkKind kind, int comNumber, std::uint8_t readerAddress, int tcpPort)
    : kind_(kind) {
  reader_ = kind == LinkKind::Serial ? FakeReader::pty() : FakeReader::tcp(tcpPort);
  if (!reader_) return;
  reader_->scriptReaderInfo(readerAddress);
  unsigned char address = 0xFF;
  int handle = -1;
  if (kind == LinkKind::Serial) {
    reader_->mapCom(comNumber);
    openStatus_ = OpenComPort(comNumber, &address, 9, &handle);
  } else {
    openStatus_ = OpenNetPort(reader_->port(), "127.0.0.1", &address, &handle);
  }
  portIndex_ = handle;
  open_ = openStatus_ == MORVENT_OK;
}

ReaderLink::~ReaderLink() { close(); }

int ReaderLink::send(const Bytes& frame) {
  Bytes copy = frame;
  return SendDataToPort(copy.data(), static_cast<unsigned int>(copy.size()), portIndex_);
}

void ReaderLink::close() {
  if (!open_) return;
  open_ = false;
  if (kind_ == LinkKind::Serial)
    CloseSpecComPort(portIndex_);
  else
    CloseNetPort(portIndex_);
}

int askReaderInformation(FakeReader& reader, int portIndex, std::uint8_t address) {
  reader.scriptReaderInfo(address);
  unsigned char adr = address, pair[2], b2, b3, b4, b5, b6, scan, b8, b9, b10;
  return GetReaderInformation(&adr, pair, &b2, &b3, &b4, &b5, &b6, &scan, &b8, &b9, &b10,
                              portIndex);
}

}  // namespace mvtest
