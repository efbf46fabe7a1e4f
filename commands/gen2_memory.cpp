// Gen2 memory access: read, write, block-write and erase words of a tag's
// memory, and write a new EPC.
#include <cstring>

#include "commands/tag_addressing.h"
#include "morvent.h"

namespace mv::cmd {
namespace {

const Exchange kReadData{0x02, WriteBack::OnSuccess};
const Exchange kWriteData{0x03, WriteBack::OnSuccess};
const Exchange kWriteEpc{0x04, WriteBack::Never};
const Exchange kBlockErase{0x07, WriteBack::Never};
const Exchange kBlockWrite{0x10, WriteBack::OnSuccess};

// Read and erase name a word range: bank, first word, word count, password.
template <class OnSuccess>
int wordRangeCommand(const Exchange& ex, unsigned char* readerAddress, const TagAddress& tag, std::uint8_t memoryBank,
                     std::uint8_t wordPointer, std::uint8_t wordCount, const std::uint8_t* password, int* errorCode,
                     int portIndex, OnSuccess&& onSuccess) {
    return tagCommand(
        ex, readerAddress, errorCode, portIndex,
        [&](Request& r) {
            addressed(r, tag, [&](Request& f) {
                f.byte(memoryBank).byte(wordPointer).byte(wordCount).bytes(password, kPasswordBytes);
            });
        },
        onSuccess);
}

// Writes put the word count first, before the tag address, and the words
// between the word pointer and the password. A count whose request would
// not fit one frame is refused by the request itself.
int writeWordsCommand(const Exchange& ex, unsigned char* readerAddress, const TagAddress& tag, std::uint8_t writeWords,
                      std::uint8_t memoryBank, std::uint8_t wordPointer, const std::uint8_t* writeData,
                      const std::uint8_t* password, int* errorCode, int portIndex) {
    return tagCommand(ex, readerAddress, errorCode, portIndex, [&](Request& r) {
        r.byte(writeWords);
        addressed(r, tag, [&](Request& f) {
            f.byte(memoryBank).byte(wordPointer).bytes(writeData, 2u * writeWords).bytes(password, kPasswordBytes);
        });
    });
}

}  // namespace
}  // namespace mv::cmd

using namespace mv::cmd;

// Write and block write take the same arguments and differ only in the
// command.
#define MORVENT_WRITE_WORDS(name, exchange)                                                                            \
    MORVENT_API int name(unsigned char* readerAddress, unsigned char* epc, unsigned char writeWords,                   \
                         unsigned char epcWords, unsigned char memoryBank, unsigned char wordPointer,                  \
                         unsigned char* writeData, unsigned char* password, unsigned char maskBank,                    \
                         unsigned char* maskAddress, unsigned char maskBitLength, unsigned char* mask, int* errorCode, \
                         int portIndex) {                                                                              \
        const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};                               \
        return writeWordsCommand(exchange, readerAddress, tag, writeWords, memoryBank, wordPointer, writeData,         \
                                 password, errorCode, portIndex);                                                      \
    }

extern "C" {

MORVENT_API int ReadData_G2(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,
                            unsigned char memoryBank, unsigned char wordPointer, unsigned char wordCount,
                            unsigned char* password, unsigned char maskBank, unsigned char* maskAddress,
                            unsigned char maskBitLength, unsigned char* mask, unsigned char* data, int* errorCode,
                            int portIndex) {
    const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};
    // The reader's data length counts, not wordCount; but the caller made
    // room for the words asked for, and a longer answer must not run past it.
    const std::size_t room = 2u * wordCount;
    return wordRangeCommand(kReadData, readerAddress, tag, memoryBank, wordPointer, wordCount, password, errorCode,
                            portIndex, [&](const Response& r) {
                                const std::size_t n = r.dataLength() < room ? r.dataLength() : room;
                                if (n > 0) std::memcpy(data, r.data(), n);
                            });
}

MORVENT_WRITE_WORDS(WriteData_G2, kWriteData)
MORVENT_WRITE_WORDS(BlockWrite_G2, kBlockWrite)

// No tag address here: the new EPC's length, the password, then the EPC.
// More than 123 words would not fit one frame and is refused.
MORVENT_API int WriteEPC_G2(unsigned char* readerAddress, unsigned char* password, unsigned char* epc,
                            unsigned char epcWords, int* errorCode, int portIndex) {
    return tagCommand(kWriteEpc, readerAddress, errorCode, portIndex,
                      [&](Request& r) { r.byte(epcWords).bytes(password, kPasswordBytes).bytes(epc, 2u * epcWords); });
}

MORVENT_API int BlockErase_G2(unsigned char* readerAddress, unsigned char* epc, unsigned char epcWords,
                              unsigned char memoryBank, unsigned char wordPointer, unsigned char wordCount,
                              unsigned char* password, unsigned char maskBank, unsigned char* maskAddress,
                              unsigned char maskBitLength, unsigned char* mask, int* errorCode, int portIndex) {
    const TagAddress tag{epc, epcWords, maskBank, maskAddress, maskBitLength, mask};
    return wordRangeCommand(kBlockErase, readerAddress, tag, memoryBank, wordPointer, wordCount, password, errorCode,
                            portIndex, [](const Response&) {});
}
}
