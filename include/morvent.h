/*
 * morvent.h - host-side library for UHF RFID readers.
 *
 * Every function returns an int status code: 0 for success, a status byte
 * passed through from the reader, or one of the library's own codes below.
 * Outputs are written through pointers, and only on the statuses each
 * function names; on every other status they keep the caller's values.
 *
 * Port index: 1..255 is the serial port COMn (on POSIX, COMn is the device
 * named by the environment variable MORVENT_COM<n>, else /dev/ttyS<n-1>);
 * 1024..65535 is a network reader, the index being its TCP port number.
 *
 * Reader address: every command takes a pointer to the address byte first;
 * 0xFF reaches whichever reader answers. Commands that say so write the
 * answering reader's address back through it.
 *
 * Buffers have no size parameter; each function states the room it needs
 * ("room: n bytes"): the most it ever writes, which the largest answer
 * fills exactly. Input arrays are read for exactly the length stated, and
 * never written. Common inputs of the tag commands: epc 2 * epcWords bytes
 * (when epcWords < 16), password 4 bytes, maskAddress 2 bytes, mask
 * ceil(maskBitLength / 8) bytes (when the mask is used), uid 8 bytes.
 * Traffic log: if "writelog.txt" exists in the current directory when a port
 * is opened, that port's traffic is appended to "yyMMddHHmm.log" files.
 *
 * All functions are safe to call from any thread: one process-wide lock
 * makes each exchange with a reader atomic.
 */
#ifndef MORVENT_H
#define MORVENT_H

/* The contract is laid out by hand, its tables in columns. */
/* clang-format off */

#if defined(_WIN32)
#  if defined(MORVENT_BUILDING)
#    define MORVENT_API __declspec(dllexport)
#  else
#    define MORVENT_API __declspec(dllimport)
#  endif
#else
#  define MORVENT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes ------------------------------------------------------ */

#define MORVENT_OK              0x00 /**< success */
#define MORVENT_NO_DATA         0x0E /**< ReadActiveModeData found nothing */
#define MORVENT_COMM_ERROR      0x30 /**< link failure, time-out, failed handshake; OpenComPort: device not openable */
#define MORVENT_CRC_ERROR       0x31 /**< the response's CRC did not check */
#define MORVENT_PORT_OPEN       0x35 /**< the port index is already open */
#define MORVENT_INVALID_PORT    0x37 /**< index out of range, port not open; OpenCom: device not openable */
#define MORVENT_TAG_ERROR       0xFC /**< reader status: the tag reported an error (see errorCode) */
#define MORVENT_CMD_MISMATCH    0xEE /**< the response echoed another command code */
#define MORVENT_PARAM_RANGE     0xFF /**< an argument was refused: by the library (nothing was sent) or by the reader */

/* Reader statuses with a meaning of their own. Inventory answers carry tag
 * records under the four inventory statuses; MORVENT_NO_TAG is not a failure. */
#define MORVENT_INVENTORY_DONE      0x01 /**< tag records; the inventory is complete */
#define MORVENT_INVENTORY_TIMEOUT   0x02 /**< tag records; the scan time ended the inventory */
#define MORVENT_INVENTORY_MORE      0x03 /**< tag records; more frames were announced but did not come in time */
#define MORVENT_INVENTORY_FULL      0x04 /**< tag records; the reader could hold no more */
#define MORVENT_NO_TAG              0xFB /**< no tag answered */
#define MORVENT_READER_BAD_LENGTH   0xFD /**< the reader refused the request's length */
#define MORVENT_READER_UNKNOWN_CMD  0xFE /**< the reader does not know the command */

/* Error codes a tag reports with MORVENT_TAG_ERROR (errorCode). */
#define MORVENT_TAG_ERR_OTHER              0x00 /**< other error */
#define MORVENT_TAG_ERR_MEMORY_OVERRUN     0x03 /**< address past the end of the memory bank */
#define MORVENT_TAG_ERR_MEMORY_LOCKED      0x04 /**< the memory is locked or permanently locked */
#define MORVENT_TAG_ERR_PASSWORD           0x05 /**< wrong password, or the secured state is needed */
#define MORVENT_TAG_ERR_INSUFFICIENT_POWER 0x0B /**< the tag had too little power */
#define MORVENT_TAG_ERR_NON_SPECIFIC       0x0F /**< the tag refused the operation */

/* Gen2 memory banks (memoryBank, maskBank). */
#define MORVENT_BANK_RESERVED  0x00 /**< kill password (words 0-1), access password (words 2-3) */
#define MORVENT_BANK_EPC       0x01 /**< StoredCRC, PC, then the EPC from word 2 */
#define MORVENT_BANK_TID       0x02
#define MORVENT_BANK_USER      0x03

/* Gen2 lock areas (lockTarget of Lock_G2). */
#define MORVENT_LOCK_KILL_PASSWORD    0x00
#define MORVENT_LOCK_ACCESS_PASSWORD  0x01
#define MORVENT_LOCK_EPC              0x02
#define MORVENT_LOCK_TID              0x03
#define MORVENT_LOCK_USER             0x04

/* Gen2 lock modes (lockMode of Lock_G2). */
#define MORVENT_LOCK_MODE_OPEN               0x00 /**< writable in the open and secured states */
#define MORVENT_LOCK_MODE_PERMANENTLY_OPEN   0x01 /**< writable, and can never be locked */
#define MORVENT_LOCK_MODE_SECURED            0x02 /**< writable (passwords readable) only when secured */
#define MORVENT_LOCK_MODE_PERMANENTLY_LOCKED 0x03 /**< never writable (passwords never readable) */

/* Baud codes (opening, SetBaudRate). */
#define MORVENT_BAUD_9600    0
#define MORVENT_BAUD_19200   1
#define MORVENT_BAUD_38400   2
#define MORVENT_BAUD_57600   5
#define MORVENT_BAUD_115200  6

/* Work modes (bits 0-1 of SetWorkMode's byte). */
#define MORVENT_WORK_MODE_ANSWER   0x00 /**< the reader answers commands only */
#define MORVENT_WORK_MODE_ACTIVE   0x01 /**< the reader sends tag records by itself */
#define MORVENT_WORK_MODE_TRIGGER  0x02 /**< active while the trigger input is set */

/** Size of the receive buffer a caller of the receive routines provides. */
#define MORVENT_RECEIVE_BUFFER  8000

/* ---- Names and version ------------------------------------------------- */

/** The name of a status code, e.g. "MORVENT_COMM_ERROR"; a reader status
 *  without a name of its own gives "READER_STATUS_0xNN". Never NULL; the
 *  text is static. Values outside 0..255 give "MORVENT_UNKNOWN_STATUS". */
MORVENT_API const char *MorventStatusName(int status);

/** One line telling what a status code means, e.g. "link failure, time-out
 *  or failed handshake". Never NULL; the text is static. */
MORVENT_API const char *MorventStatusText(int status);

/** The name of a tag's error code (errorCode on MORVENT_TAG_ERROR), e.g.
 *  "MORVENT_TAG_ERR_PASSWORD"; others give "TAG_ERROR_0xNN". Never NULL. */
MORVENT_API const char *MorventTagErrorName(int errorCode);

/** One line telling what a tag's error code means. Never NULL. */
MORVENT_API const char *MorventTagErrorText(int errorCode);

/** The library's version, "major.minor.patch". */
MORVENT_API const char *MorventVersion(void);

/* ---- Frames ------------------------------------------------------------ */

/** Computes the frame CRC-16 over frame[0..length) and stores it, low byte
 *  first, at frame[length] and frame[length + 1] (room: length + 2 bytes). */
MORVENT_API void GetCRC(unsigned char *frame, int length);

/** Checks a received frame of `length` bytes including its CRC. Writes the
 *  CRC residue to frame[length] and frame[length + 1] (room: length + 2
 *  bytes). Returns 0 when intact, else MORVENT_CRC_ERROR. */
MORVENT_API int CheckCRC(unsigned char *frame, int length);

/* ---- Links ------------------------------------------------------------- */

/** Opens and configures COM device `comPort` (1..255) at `baudCode`
 *  (0 9600, 1 19200, 2 38400, 5 57600, 6 115200, 7..255 keep the rate;
 *  3 and 4 fail with MORVENT_COMM_ERROR). No handshake; use OpenComPort. */
MORVENT_API int OpenCom(int comPort, unsigned char baudCode);

/** Closes every open serial port. Network links stay open. Returns 0. */
MORVENT_API int CloseComPort(void);

/** Closes serial port `comPort`. Returns 0, or MORVENT_COMM_ERROR when the
 *  device refused to close. Indexes outside 1..255 are ignored. */
MORVENT_API int CloseSpecComPort(int comPort);

/** Connects to `ipAddress` (dotted IPv4) on TCP port `tcpPort` within about
 *  one second. No handshake; use OpenNetPort. 0 or MORVENT_COMM_ERROR. */
MORVENT_API int OpenNet(int tcpPort, const char *ipAddress);

/** Closes the network link `portIndex` (1024..65535). Returns 0. */
MORVENT_API int CloseNetPort(int portIndex);

/** Sends `length` bytes of `frame` (at most 256) to the link. 0,
 *  MORVENT_COMM_ERROR or MORVENT_INVALID_PORT. */
MORVENT_API int SendDataToPort(unsigned char *frame, unsigned int length, int portIndex);

/** Receives one response frame into `buffer`, its size in *count. Gives
 *  up after 1 s (serial: 0.5 s without a byte). Every receive routine
 *  writes at most MORVENT_RECEIVE_BUFFER bytes (room: MORVENT_RECEIVE_BUFFER,
 *  plus 2 when the caller then runs CheckCRC over the bytes received). */
MORVENT_API int GetDataFromPort(unsigned char *buffer, int *count, int portIndex);

/** Receives frames until the bytes received form a whole number of frames
 *  and the last of them does not announce more (status 0x03: the reader is
 *  still finding tags and sends the rest after a pause). Serial: 10 s at
 *  most, 1 s without a byte; network: 1 s. When a limit passes after whole
 *  frames announcing more came, those frames are delivered and the result
 *  is 0x03 (MORVENT_INVENTORY_MORE) instead of 0x30. Room as
 *  GetDataFromPort. */
MORVENT_API int GetInventoryDataFromPort1(unsigned char *buffer, int *count, int portIndex);

/** Receives frames until one with status 0x00 arrives (5 s at most, 0.5 s
 *  without a byte). Room as GetDataFromPort. */
MORVENT_API int GetDataFromPort1(unsigned char *buffer, int *count, int portIndex);

/** As GetDataFromPort with the AT-mode limits: 7 s without a byte, 10 s in
 *  all. Room as GetDataFromPort. */
MORVENT_API int ATGetDataFromPort(unsigned char *buffer, int *count, int portIndex);

/* ---- Opening and reader information ------------------------------------ */

/** Reads the reader information. On status 0 writes the answering address to
 *  *readerAddress and the 11 data bytes to the outputs (infoPair: 2 bytes). */
MORVENT_API int GetReaderInformation(unsigned char *readerAddress, unsigned char *infoPair,
                                     unsigned char *info2, unsigned char *info3,
                                     unsigned char *info4, unsigned char *info5,
                                     unsigned char *info6, unsigned char *scanTime,
                                     unsigned char *info8, unsigned char *info9,
                                     unsigned char *info10, int portIndex);

/** Opens COM port `comPort` and handshakes with whichever reader answers.
 *  On 0, *readerAddress is that reader's address and *portHandle the port
 *  index to use; on failure *portHandle is -1. MORVENT_PORT_OPEN when the
 *  port is already open. */
MORVENT_API int OpenComPort(int comPort, unsigned char *readerAddress, unsigned char baudCode,
                            int *portHandle);

/** As OpenComPort, but handshakes with the reader at *readerAddress alone:
 *  on an RS-485 bus every reader answers 0xFF at once and the answers
 *  collide, so OpenComPort cannot open a bus of several readers. An answer
 *  from another address fails the handshake; 0xFF asks whichever reader
 *  answers, as OpenComPort does. On 0, *readerAddress holds the answering
 *  reader's address and *portHandle the port index; on failure *portHandle
 *  is -1 and *readerAddress is unchanged. */
MORVENT_API int OpenComPortAt(int comPort, unsigned char *readerAddress, unsigned char baudCode,
                              int *portHandle);

/** Tries OpenComPort on COM1..COM12 in turn. On 0, *comPort and *portHandle
 *  hold the COM number; otherwise both are -1 and COM12's result returns. */
MORVENT_API int AutoOpenComPort(int *comPort, unsigned char *readerAddress, unsigned char baudCode,
                                int *portHandle);

/** Connects to a network reader and handshakes. `tcpPort` (1024..65535) is
 *  also the port index; *portHandle receives it, or -1 on failure. */
MORVENT_API int OpenNetPort(int tcpPort, const char *ipAddress, unsigned char *readerAddress,
                            int *portHandle);

/* ---- Gen2 inventory ---------------------------------------------------- */

/** Lists the Gen2 tags in the field. With maskFlag == 1 only tags matching
 *  the selection mask answer (mask: ceil(maskBitLength/8) bytes); with
 *  tidFlag == 1 the TID address and length go to the reader. The tag records
 *  of every frame are gathered into tagData, their size in *totalLength
 *  (room: 4840 bytes: an answer of at most 5000 bytes, in frames of at most
 *  256 bytes with 8 of them not records). Returns the status of the last frame looked at
 *  (0x01..0x04 with records; 0xFB: no tag). 0x03 (more frames follow) comes
 *  back when the reader announced frames that did not arrive within the
 *  time limit: the records of those that did are delivered. */
MORVENT_API int Inventory_G2(unsigned char *readerAddress, unsigned char maskBank,
                             unsigned char *maskAddress, unsigned char maskBitLength,
                             unsigned char *mask, unsigned char maskFlag,
                             unsigned char tidAddress, unsigned char tidLength,
                             unsigned char tidFlag, unsigned char *tagData,
                             unsigned char *frameInfo, int *totalLength, int *tagCount,
                             int portIndex);

/** Asks for one tag. On status 0x01: *tagCount, tagData (room: 249 bytes,
 *  a frame less its 7 other bytes) and *readerAddress are written.
 *  `reserved` is not used. */
MORVENT_API int SingleTagInventory_G2(unsigned char *readerAddress, unsigned char *tagData,
                                      void *reserved, int *tagCount, int portIndex);

/* ---- Gen2 memory ------------------------------------------------------- */
/* Tag addressing: epcWords 0..15 sends that many EPC words of `epc`; 0xFF
 * addresses by the selection mask instead; 16..254 is refused with
 * MORVENT_PARAM_RANGE. errorCode: -1 on status 0, the tag's error code on
 * MORVENT_TAG_ERROR, untouched otherwise. Passwords are 4 bytes. */

/** Reads words of a tag's memory bank into `data` (room: 2 * wordCount
 *  bytes). On status 0 the answer's data is copied, as long as the reader
 *  sent it but never more than the room: a longer answer is cut. */
MORVENT_API int ReadData_G2(unsigned char *readerAddress, unsigned char *epc, unsigned char epcWords,
                            unsigned char memoryBank, unsigned char wordPointer,
                            unsigned char wordCount, unsigned char *password,
                            unsigned char maskBank, unsigned char *maskAddress,
                            unsigned char maskBitLength, unsigned char *mask,
                            unsigned char *data, int *errorCode, int portIndex);

/** Writes `writeWords` words from writeData into a tag's memory bank. */
MORVENT_API int WriteData_G2(unsigned char *readerAddress, unsigned char *epc,
                             unsigned char writeWords, unsigned char epcWords,
                             unsigned char memoryBank, unsigned char wordPointer,
                             unsigned char *writeData, unsigned char *password,
                             unsigned char maskBank, unsigned char *maskAddress,
                             unsigned char maskBitLength, unsigned char *mask, int *errorCode,
                             int portIndex);

/** As WriteData_G2, written by the tag in one block operation. */
MORVENT_API int BlockWrite_G2(unsigned char *readerAddress, unsigned char *epc,
                              unsigned char writeWords, unsigned char epcWords,
                              unsigned char memoryBank, unsigned char wordPointer,
                              unsigned char *writeData, unsigned char *password,
                              unsigned char maskBank, unsigned char *maskAddress,
                              unsigned char maskBitLength, unsigned char *mask, int *errorCode,
                              int portIndex);

/** Writes a new EPC of `epcWords` words to the tag in the field. */
MORVENT_API int WriteEPC_G2(unsigned char *readerAddress, unsigned char *password,
                            unsigned char *epc, unsigned char epcWords, int *errorCode,
                            int portIndex);

/** Erases `wordCount` words of a tag's memory bank. */
MORVENT_API int BlockErase_G2(unsigned char *readerAddress, unsigned char *epc,
                              unsigned char epcWords, unsigned char memoryBank,
                              unsigned char wordPointer, unsigned char wordCount,
                              unsigned char *password, unsigned char maskBank,
                              unsigned char *maskAddress, unsigned char maskBitLength,
                              unsigned char *mask, int *errorCode, int portIndex);

/* ---- Gen2 protection --------------------------------------------------- */

/** Kills a tag with its kill password. */
MORVENT_API int KillTag_G2(unsigned char *readerAddress, unsigned char *epc, unsigned char epcWords,
                           unsigned char *killPassword, unsigned char maskBank,
                           unsigned char *maskAddress, unsigned char maskBitLength,
                           unsigned char *mask, int *errorCode, int portIndex);

/** Locks or unlocks a memory area of a tag (codes are the reader's). */
MORVENT_API int Lock_G2(unsigned char *readerAddress, unsigned char *epc, unsigned char epcWords,
                        unsigned char lockTarget, unsigned char lockMode, unsigned char *password,
                        unsigned char maskBank, unsigned char *maskAddress,
                        unsigned char maskBitLength, unsigned char *mask, int *errorCode,
                        int portIndex);

/** Puts an addressed tag into privacy mode. */
MORVENT_API int SetPrivacyByEPC_G2(unsigned char *readerAddress, unsigned char *epc,
                                   unsigned char epcWords, unsigned char *password,
                                   unsigned char maskBank, unsigned char *maskAddress,
                                   unsigned char maskBitLength, unsigned char *mask,
                                   int *errorCode, int portIndex);

/** Puts the tag in the field into privacy mode. */
MORVENT_API int SetPrivacyWithoutEPC_G2(unsigned char *readerAddress, unsigned char *password,
                                        int *errorCode, int portIndex);

/** Takes the tag in the field out of privacy mode. */
MORVENT_API int ResetPrivacy_G2(unsigned char *readerAddress, unsigned char *password,
                                int *errorCode, int portIndex);

/** Queries privacy mode; on status 0 writes *privacyState. */
MORVENT_API int CheckPrivacy_G2(unsigned char *readerAddress, unsigned char *privacyState,
                                int *errorCode, int portIndex);

/** Sets a tag's EAS state; writes *readerAddress back on status 0. */
MORVENT_API int EASConfigure_G2(unsigned char *readerAddress, unsigned char *epc,
                                unsigned char epcWords, unsigned char *password,
                                unsigned char easState, unsigned char maskBank,
                                unsigned char *maskAddress, unsigned char maskBitLength,
                                unsigned char *mask, int *errorCode, int portIndex);

/** Asks for an EAS alarm; writes *readerAddress back on status 0. */
MORVENT_API int EASAlarm_G2(unsigned char *readerAddress, int *errorCode, int portIndex);

/** Block-locks a tag's memory (code is the reader's). */
MORVENT_API int BlockLock_G2(unsigned char *readerAddress, unsigned char *epc,
                             unsigned char epcWords, unsigned char *password,
                             unsigned char blockLockCode, unsigned char maskBank,
                             unsigned char *maskAddress, unsigned char maskBitLength,
                             unsigned char *mask, int *errorCode, int portIndex);

/* ---- ISO 18000-6B ------------------------------------------------------ */
/* Tags are addressed by their 8-byte uid. Except CheckLock_6B, these write
 * the answering address to *readerAddress whatever the status. */

/** One tag; if the answer carries data, tagRecord (room: 9 bytes) is written. */
MORVENT_API int InventorySingle_6B(unsigned char *readerAddress, unsigned char *tagRecord,
                                   int portIndex);

/** Tags passing a group selection: the count and the 9-byte records the
 *  answer holds, whatever the status (tagRecords room: 243 bytes, the 27
 *  records one frame can carry; a count beyond them is cut to them). */
MORVENT_API int InventoryMultiple_6B(unsigned char *readerAddress, unsigned char condition,
                                     unsigned char startAddress, unsigned char compareMask,
                                     unsigned char *compareData, unsigned char *tagRecords,
                                     int *tagCount, int portIndex);

/** Reads byteCount bytes from startAddress into data (room: byteCount
 *  bytes; fewer are written when the reader sends fewer). */
MORVENT_API int ReadData_6B(unsigned char *readerAddress, unsigned char *uid,
                            unsigned char startAddress, unsigned char byteCount,
                            unsigned char *data, int *errorCode, int portIndex);

/** Writes writeLength bytes of writeData (at most 242, else
 *  MORVENT_PARAM_RANGE with nothing sent) at startAddress. */
MORVENT_API int WriteData_6B(unsigned char *readerAddress, unsigned char *uid,
                             unsigned char startAddress, unsigned char *writeData,
                             unsigned char writeLength, unsigned char *writtenLength,
                             int *errorCode, int portIndex);

/** Locks the byte at lockAddress. */
MORVENT_API int Lock_6B(unsigned char *readerAddress, unsigned char *uid, unsigned char lockAddress,
                        int *errorCode, int portIndex);

/** Queries the lock of the byte at lockAddress into *lockState. */
MORVENT_API int CheckLock_6B(unsigned char *readerAddress, unsigned char *uid,
                             unsigned char lockAddress, unsigned char *lockState, int *errorCode,
                             int portIndex);

/* ---- Reader configuration ---------------------------------------------- */

/** Sets the region bytes; writes the answering address back whatever the status. */
MORVENT_API int SetRegion(unsigned char *readerAddress, unsigned char region1,
                          unsigned char region2, int portIndex);

/** Gives the reader a new address; writes the answering address back whatever the status. */
MORVENT_API int SetAddress(unsigned char *readerAddress, unsigned char newAddress, int portIndex);

/** Sets the inventory scan time (100 ms units); writes the address back. */
MORVENT_API int SetInventoryScanTime(unsigned char *readerAddress, unsigned char scanTime,
                                     int portIndex);

/** Sets the reader's baud rate; a serial host port follows it after the
 *  answer. Codes 3 and 4 give MORVENT_PARAM_RANGE after the exchange. */
MORVENT_API int SetBaudRate(unsigned char *readerAddress, unsigned char baudCode, int portIndex);

/** Sets the RF output power; writes the address back on status 0. */
MORVENT_API int SetRfPower(unsigned char *readerAddress, unsigned char power, int portIndex);

/** Drives the buzzer and LED with three control bytes. */
MORVENT_API int BuzzerAndLEDControl(unsigned char *readerAddress, unsigned char control1,
                                    unsigned char control2, unsigned char control3,
                                    int portIndex);

/* ---- Work mode and auto-running mode ----------------------------------- */

MORVENT_API int SetWorkMode(unsigned char *readerAddress, unsigned char workMode, int portIndex);

/** Reads the system parameters. On status 0 writes the six parameter bytes,
 *  the stored mask (maskAddress: 2 bytes, mask: 32 bytes) and the three
 *  extension bytes (a short answer sets extension1 to 0 and leaves the
 *  other two). Never writes *readerAddress. */
MORVENT_API int GetSystemParameter(unsigned char *readerAddress, unsigned char *param1,
                                   unsigned char *param2, unsigned char *param3,
                                   unsigned char *param4, unsigned char *param5,
                                   unsigned char *param6, unsigned char *maskBank,
                                   unsigned char *maskAddress, unsigned char *maskBitLength,
                                   unsigned char *mask, unsigned char *extension1,
                                   unsigned char *extension2, unsigned char *extension3,
                                   int portIndex);

MORVENT_API int SetEASSensitivity(unsigned char *readerAddress, unsigned char sensitivity,
                                  int portIndex);

/** Stores the selection mask used in the auto-running mode. */
MORVENT_API int SetMask(unsigned char *readerAddress, unsigned char maskBank,
                        unsigned char *maskAddress, unsigned char maskBitLength,
                        unsigned char *mask, int portIndex);

MORVENT_API int SetResponsePamametersofAuto_runningMode(unsigned char *readerAddress,
                                                        unsigned char response1,
                                                        unsigned char response2, int portIndex);

MORVENT_API int SetInventoryInterval(unsigned char *readerAddress, unsigned char interval,
                                     int portIndex);

MORVENT_API int SelectTagType(unsigned char *readerAddress, unsigned char tagType, int portIndex);

MORVENT_API int SetAntennaMultiplexing(unsigned char *readerAddress, unsigned char antenna,
                                       int portIndex);

MORVENT_API int SetBeepNotification(unsigned char *readerAddress, unsigned char beep,
                                    int portIndex);

MORVENT_API int SetTriggerTime(unsigned char *readerAddress, unsigned char triggerTime,
                               int portIndex);

/** Sets the TID parameters; writes the address back on status 0. */
MORVENT_API int SetTIDParameter(unsigned char *readerAddress, unsigned char tid1,
                                unsigned char tid2, int portIndex);

/** Delivers the bytes the reader sent by itself, unparsed. Serial: what is
 *  queued, at most 50 bytes a call (room: 50 bytes); the rest stays queued,
 *  in order, for the next call, so call again until MORVENT_NO_DATA to take
 *  everything. Network: waits up to 1 s, at most 8000 bytes (room: 8000
 *  bytes). MORVENT_NO_DATA when nothing was read. */
MORVENT_API int ReadActiveModeData(unsigned char *data, int *count, int portIndex);

/* ---- Clock, tag buffer, relay and GPIO --------------------------------- */

MORVENT_API int SetRevDelay(unsigned char *readerAddress, unsigned char delay, int portIndex);

MORVENT_API int GetRevDelay(unsigned char *readerAddress, unsigned char *delay, int portIndex);

/** Sets the clock from the six bytes of `clock`, sent in array order. */
MORVENT_API int SetReal_timeClock(unsigned char *readerAddress, unsigned char *clock, int portIndex);

/** Reads the clock into `clock` (room: 6 bytes) on status 0. */
MORVENT_API int GetTime(unsigned char *readerAddress, unsigned char *clock, int portIndex);

/** Reads the tag buffer: records (11-byte head, length L, L-byte tail) back
 *  to back into `records` (room: 5000 bytes), their size in *byteCount.
 *  Records that would pass the 5000 bytes are left out, the run ending at a
 *  record boundary. An answer whose frames are cut short or do not hold
 *  their records gives MORVENT_COMM_ERROR and writes nothing. */
MORVENT_API int GetTagBufferInfo(unsigned char *readerAddress, unsigned char *records,
                                 int *byteCount, int portIndex);

MORVENT_API int ClearTagBuffer(unsigned char *readerAddress, int portIndex);

MORVENT_API int SetRelay(unsigned char *readerAddress, unsigned char relay, int portIndex);

MORVENT_API int SetGPIO(unsigned char *readerAddress, unsigned char outputs, int portIndex);

MORVENT_API int GetGPIOStatus(unsigned char *readerAddress, unsigned char *status, int portIndex);

MORVENT_API int SetNotificationPulseOutput(unsigned char *readerAddress, unsigned char pulse,
                                           int portIndex);

/* ---- Factory and calibration ------------------------------------------- */

/** Self-test mode: a non-zero modeFlag sends the framed command, 0 the single
 *  byte 0xA5. Writes the answering address back. */
MORVENT_API int InSelfTestMode(unsigned char *readerAddress, int modeFlag, int portIndex);

MORVENT_API int SetDAC(unsigned char *readerAddress, unsigned char dacValue, int portIndex);

MORVENT_API int GetDAC(unsigned char *readerAddress, unsigned char *dacValue, int portIndex);

MORVENT_API int CheckPowerParameter(unsigned char *readerAddress, unsigned char *powerParameter,
                                    int portIndex);

/** Stores the 31-byte DAC and power list; *result receives the reader's byte. */
MORVENT_API int SolidifyDACandPowerlist(unsigned char *readerAddress, unsigned char *calibration,
                                        unsigned char *result, int portIndex);

MORVENT_API int GetStartInformation(unsigned char *readerAddress, unsigned char *start1,
                                    unsigned char *start2, unsigned char *start3,
                                    unsigned char *start4, unsigned char *start5,
                                    unsigned char *start6, unsigned char *start7,
                                    unsigned char *start8, unsigned char *start9, int portIndex);

MORVENT_API int RfOutput(unsigned char *readerAddress, unsigned char setting, int portIndex);

MORVENT_API int DeleteRfOutput(unsigned char *readerAddress, unsigned char *result, int portIndex);

/** Writes the reader's serial number (sent least significant byte first). */
MORVENT_API int SetSeriaNo(unsigned char *readerAddress, int *serialNumber, int portIndex);

MORVENT_API int GetSeriaNo(unsigned char *readerAddress, int *serialNumber, int portIndex);

/* ---- AT mode and transparent commands ---------------------------------- */

/** Switches the reader's AT mode; waits up to 10 s for the answer. */
MORVENT_API int ChangeATMode(unsigned char *readerAddress, unsigned char mode, int portIndex);

/** Passes `length` bytes (at most 250) to the reader after `parameter`; on
 *  status 0 the answer's data goes to responseData (room: 250 bytes) and
 *  its size to *responseLength. Never writes *readerAddress. */
MORVENT_API int TransparentCMD(unsigned char *readerAddress, unsigned char parameter,
                               unsigned char length, unsigned char *sendData,
                               unsigned char *responseLength, unsigned char *responseData,
                               int portIndex);

/* ---- What a link names ------------------------------------------------- */
/* When an opening fails, these tell the cause that its status cannot: the
 * device that is not there, the host name that has no address. */

/* What MorventSerialDevice finds at a serial port's device. */
#define MORVENT_DEVICE_PRESENT  0 /**< the device exists and this process may read and write it */
#define MORVENT_DEVICE_MISSING  1 /**< there is no such device */
#define MORVENT_DEVICE_DENIED   2 /**< the device exists; this process may not read and write it */

/** Names the device that serial port `comPort` (1..255) opens: on POSIX the
 *  path in $MORVENT_COM<n>, else /dev/ttyS<n-1>; on Windows \\.\COMn. The
 *  name goes NUL-terminated to `device` (room: `room` bytes; a longer name
 *  is cut to fit). Returns what is there, one of MORVENT_DEVICE_*, found
 *  without opening the device; MORVENT_INVALID_PORT, with nothing written,
 *  when comPort is outside 1..255, `device` is NULL or room < 1. */
MORVENT_API int MorventSerialDevice(int comPort, char *device, int room);

/** Looks up host name `host` ("localhost", "reader-7.example.net", or a
 *  dotted IPv4 address, taken as it is) with the system's resolver and
 *  writes its first IPv4 address, dotted and NUL-terminated, to `ipv4`
 *  (room: 16 bytes), as OpenNetPort takes it. Returns 0;
 *  MORVENT_PARAM_RANGE when the name has no IPv4 address (unknown, IPv6
 *  only, empty or NULL); MORVENT_COMM_ERROR when the name service could not
 *  be asked or did not answer. `ipv4` is written only on 0. Takes no lock;
 *  waits as long as the system's resolver is configured to. */
MORVENT_API int MorventResolveHost(const char *host, char *ipv4);

/* ---- GS1 EPC identities ------------------------------------------------ */
/* The EPC binary encodings of GS1 identities: SGTIN-96, SGTIN-198, SSCC-96,
 * SGLN-96, SGLN-195, GRAI-96, GRAI-170, GIAI-96, GIAI-202, GDTI-96,
 * GDTI-174, GSRN-96, GSRNP-96 and GID-96 (the variable-length "+" schemes,
 * SGTIN+ and the like, are not decoded: MORVENT_EPC_NOT_GS1). These
 * functions reach no reader: they take no lock, allocate nothing and may be
 * called from any thread.
 * Texts are ASCII and end with a zero byte, which the rooms count. Their
 * results are not reader statuses; their values lie above 0xFF. */

#define MORVENT_EPC_NOT_GS1  0x100 /**< decoding: the bytes are not a GS1 EPC; the text tells why */
#define MORVENT_EPC_NO_PART  0x101 /**< decoding: the scheme has no such part (a GID has no element string); the text is empty */
#define MORVENT_EPC_ROOM     0x102 /**< the text did not fit the room given; the text is empty */
#define MORVENT_EPC_REFUSED  0x103 /**< encoding: the identity cannot be encoded; the message names the rule it breaks */

/** A room that holds every text these functions write, zero byte included. */
#define MORVENT_EPC_TEXT_ROOM  256
/** The most bytes MorventEpcEncode writes: GIAI-202 in 13 words. */
#define MORVENT_EPC_MAX_BYTES  26

/* The parts of an identity (`part` of MorventEpcDecode), with the texts of
 * the EPC 3074257BF7194E4000001A85. Raw parts (company prefix, reference,
 * serial) are the values themselves; the URIs escape characters as %XX. */
#define MORVENT_EPC_PART_SCHEME          0  /**< the scheme as tag URIs name it: "sgtin-96" */
#define MORVENT_EPC_PART_FILTER          1  /**< the filter value: "3" (none: gid-96) */
#define MORVENT_EPC_PART_URI             2  /**< the pure identity: "urn:epc:id:sgtin:0614141.812345.6789" */
#define MORVENT_EPC_PART_TAG_URI         3  /**< "urn:epc:tag:sgtin-96:3.0614141.812345.6789" */
#define MORVENT_EPC_PART_ELEMENT_STRING  4  /**< "(01)80614141123458(21)6789" (none: gid-96) */
#define MORVENT_EPC_PART_DIGITAL_LINK    5  /**< "https://id.gs1.org/01/80614141123458/21/6789" (none: gid-96) */
#define MORVENT_EPC_PART_KEY_NAME        6  /**< "GTIN"; also SSCC, GLN, GRAI, GIAI, GDTI, GSRN, GSRNP (none: gid-96) */
#define MORVENT_EPC_PART_KEY             7  /**< the key, check digit included: "80614141123458" (a GRAI without its serial; none: gid-96) */
#define MORVENT_EPC_PART_COMPANY_PREFIX  8  /**< "0614141"; gid-96: the general manager number */
#define MORVENT_EPC_PART_REFERENCE       9  /**< "812345": item reference (indicator first), serial reference, location
                                                 reference, asset type, individual asset reference, document type,
                                                 service reference; gid-96: the object class */
#define MORVENT_EPC_PART_SERIAL          10 /**< "6789"; an SGLN's extension (none: SSCC, GIAI, GSRN, GSRNP) */

/** Decodes `epcBytes` bytes of an EPC (as an inventory gives them: the
 *  scheme's bits, or the whole words that hold them) and writes one `part`
 *  of its identity to `text` (room: `room` bytes; MORVENT_EPC_TEXT_ROOM
 *  holds any part). Returns MORVENT_OK; MORVENT_EPC_NOT_GS1 with the reason
 *  in `text` (an unknown header, a length that does not match the scheme,
 *  a partition of 7, a field holding more digits than its partition allows,
 *  a character GS1 does not allow, bits set where the scheme has none; cut
 *  to the room); MORVENT_EPC_NO_PART; MORVENT_EPC_ROOM; MORVENT_PARAM_RANGE
 *  for a null pointer, a negative epcBytes, a room below 1 or an unknown
 *  part, with nothing written. */
MORVENT_API int MorventEpcDecode(const unsigned char *epc, int epcBytes, int part, char *text, int room);

/** Encodes `identity`: a pure-identity URI ("urn:epc:id:sgtin:0614141.812345.6789"),
 *  a tag URI ("urn:epc:tag:sgtin-96:3.0614141.812345.6789") or an element
 *  string ("(01)80614141123458(21)6789", spaces allowed between its AIs),
 *  of at most 256 characters (spaces and line ends around it are dropped).
 *  `filter` 0..7, or -1 for the tag URI's (else 0); a GID takes -1 only.
 *  `bits` the scheme's length (96, 198, ...), or 0 for the tag URI's, else
 *  the shortest scheme that holds the identity. `companyPrefixDigits` 6..12
 *  says where an element string's company prefix ends; 0 for URIs (which
 *  show it), else it must agree with the URI. On MORVENT_OK writes the EPC
 *  in whole words to `epc` (room: MORVENT_EPC_MAX_BYTES), its size to
 *  *epcBytes and an empty `message`. MORVENT_EPC_REFUSED: `message` (room:
 *  `messageRoom` bytes, cut to it; MORVENT_EPC_TEXT_ROOM holds any message)
 *  names the rule: a serial too long or too large, a leading zero a 96-bit
 *  scheme cannot keep, a company prefix and reference of the wrong digits
 *  together, a character outside GS1's set, a wrong check digit, a filter
 *  or length that does not fit; `epc` and *epcBytes are not written.
 *  MORVENT_PARAM_RANGE for a null pointer or a messageRoom below 1, with
 *  nothing written. */
MORVENT_API int MorventEpcEncode(const char *identity, int filter, int bits, int companyPrefixDigits,
                                 unsigned char *epc, int *epcBytes, char *message, int messageRoom);

#ifdef __cplusplus
}
#endif

/* clang-format on */

#endif /* MORVENT_H */
