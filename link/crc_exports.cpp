#include "link/crc.h"
#include "morvent.h"

extern "C" {

MORVENT_API void GetCRC(unsigned char* frame, int length) {
    mv::appendCrc(frame, length < 0 ? 0 : static_cast<std::size_t>(length));
}

MORVENT_API int CheckCRC(unsigned char* frame, int length) {
    GetCRC(frame, length);
    const int at = length < 0 ? 0 : length;
    return (frame[at] == 0 && frame[at + 1] == 0) ? MORVENT_OK : MORVENT_CRC_ERROR;
}
}
