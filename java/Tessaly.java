/**
 * Java access to UHF RFID readers through the native libraries
 * {@code libTessaly.so} (this class's native methods) and {@code libMorvent.so}
 * (the core, which the bridge loads by file name from beside itself or from
 * the system's library path).
 *
 * <h2>Conventions</h2>
 * <ul>
 * <li>Inputs travel in one {@code int[]}: one value per element, read in
 * element order. A byte argument is taken from the low 8 bits of its element
 * ({@code 0x1FF} passes {@code 0xFF}); a port index or COM number is taken
 * whole. Element 0 is the reader address (use {@code 0xFF} to reach whichever
 * reader answers) and the last element is the port index that the opening
 * methods returned.</li>
 * <li>Array results begin with the status code in element 0: 0 for success,
 * the reader's status byte, or a library code: 0x0E no data, 0x30
 * communication error, 0x31 CRC error, 0x35 port already open, 0x37 invalid
 * port, 0xEE command mismatch, 0xFF parameter out of range. Byte outputs are
 * 0..255. Int results are the status code.</li>
 * <li>Outputs the core did not write (after a failure) are 0.</li>
 * <li>An array method returns {@code null}, an int method -1, when the core
 * library or its function is missing, or when the input array is null or
 * shorter than its layout demands (including the lengths it announces). No
 * exception is thrown.</li>
 * <li>Runs used by the tag methods: an <em>EPC run</em> is a word count W
 * followed by 2W EPC bytes (W = 0xFF selects the tag by the mask block
 * instead; the 510 bytes are then still read but unused); a <em>password</em>
 * is four bytes; a <em>mask block</em> is the mask bank, two mask address
 * bytes, the mask length in bits L, then ceil(L / 8) mask bytes.</li>
 * </ul>
 *
 * The methods may be called from several threads; the core performs one
 * reader exchange at a time.
 */
public final class Tessaly {
    static {
        System.loadLibrary("Tessaly");
    }

    private Tessaly() {}

    // ---- Links and reader information ----------------------------------

    /**
     * Opens a serial port and handshakes with the reader on it.
     * Input: {COM number, address (ignored), baud code}; baud codes: 0 9600,
     * 1 19200, 2 38400, 5 57600, 6 115200 bit/s.
     * Result (3): {status, address of the reader that answered, port index
     * to use (-1 on failure)}.
     */
    public static native int[] OpenComPort(int[] in);

    /**
     * As OpenComPort, but handshakes with the reader at the address alone
     * (on an RS-485 bus every reader answers 0xFF at once); an answer from
     * another address fails. Input: {COM number, address, baud code}.
     * Result (3): {status, address of the reader that answered, port index
     * to use (-1 on failure)}.
     */
    public static native int[] OpenComPortAt(int[] in);

    /**
     * Tries COM1 to COM12 in turn until a reader answers.
     * Input: {address (ignored), baud code}.
     * Result (4): {status, COM number found (-1 when none), reader address,
     * port index (-1 when none)}.
     */
    public static native int[] AutoOpenComPort(int[] in);

    /** Closes every open serial port; network links stay open. Returns the status. */
    public static native int CloseComPort();

    /** Closes serial port {@code comPort}. Returns the status. */
    public static native int CloseSpecComPort(int comPort);

    /**
     * Connects to a network reader and handshakes with it.
     * {@code unused} is not read; {@code tcpPort} (1024..65535) is also the
     * port index of the link; {@code ip} is a dotted IPv4 address of at most
     * 19 characters (longer: null).
     * Result (3): {status, reader address, port index (-1 on failure)}.
     */
    public static native int[] OpenNetPort(int unused, int tcpPort, String ip);

    /** Closes the network link {@code portIndex}. Returns the status. */
    public static native int CloseNetPort(int portIndex);

    /**
     * Names the device that serial port {@code comPort} (1..255) opens, and
     * looks at it without opening it.
     * Result (2 + n): {what is there: 0 present, 1 missing, 2 present but not
     * this process's to read and write, 0x37 no such port index; the length n
     * of the device's name; its n bytes}.
     */
    public static native int[] MorventSerialDevice(int comPort);

    /**
     * Looks up the IPv4 address of a host name (or takes a dotted address as
     * it is), for {@link #OpenNetPort}. {@code host} is ASCII, at most 253
     * characters (otherwise null).
     * Result (2 + n): {status: 0, 0xFF the name has no IPv4 address, 0x30 the
     * name service failed; the length n of the dotted address (0 on failure);
     * its n characters}.
     */
    public static native int[] MorventResolveHost(String host);

    /**
     * Reads the reader information.
     * Input: {address, port}.
     * Result (12): {status, information bytes 0 to 10}; byte 7 is the
     * inventory scan time in units of 100 ms.
     */
    public static native int[] GetReaderInformation(int[] in);

    // ---- Reader settings: input {address, values..., port}, result status ----

    /** Input: {address, region byte 1, region byte 2, port}. */
    public static native int SetRegion(int[] in);

    /** Input: {address, new address, port}. */
    public static native int SetAddress(int[] in);

    /** Input: {address, scan time in 100 ms units, port}. */
    public static native int SetInventoryScanTime(int[] in);

    /**
     * Input: {address, baud code, port}. On a serial link the host port
     * follows the reader to the new rate; codes 3 and 4 give 0xFF.
     */
    public static native int SetBaudRate(int[] in);

    /** Input: {address, RF power, port}. */
    public static native int SetRfPower(int[] in);

    /** Input: {address, control byte 1, control byte 2, control byte 3, port}. */
    public static native int BuzzerAndLEDControl(int[] in);

    /** Input: {address, work mode, port}. */
    public static native int SetWorkMode(int[] in);

    /** Input: {address, EAS sensitivity, port}. */
    public static native int SetEASSensitivity(int[] in);

    /** Input: {address, trigger time, port}. */
    public static native int SetTriggerTime(int[] in);

    /** Input: {address, response parameter 1, response parameter 2, port}. */
    public static native int SetResponsePamametersofAuto_runningMode(int[] in);

    /** Input: {address, inventory interval, port}. */
    public static native int SetInventoryInterval(int[] in);

    /** Input: {address, tag type, port}. */
    public static native int SelectTagType(int[] in);

    /** Input: {address, antenna setting, port}. */
    public static native int SetAntennaMultiplexing(int[] in);

    /** Input: {address, beep setting, port}. */
    public static native int SetBeepNotification(int[] in);

    /** Input: {address, TID parameter 1, TID parameter 2, port}. */
    public static native int SetTIDParameter(int[] in);

    /** Input: {address, relay setting, port}. */
    public static native int SetRelay(int[] in);

    /** Input: {address, output setting, port}. */
    public static native int SetGPIO(int[] in);

    /** Input: {address, pulse setting, port}. */
    public static native int SetNotificationPulseOutput(int[] in);

    /** Input: {address, mode, port}. The reader may take up to 10 s to answer. */
    public static native int ChangeATMode(int[] in);

    /** Input: {address, port}. */
    public static native int ClearTagBuffer(int[] in);

    /** Input: {address, six clock bytes, port}; the bytes are sent in order. */
    public static native int SetReal_timeClock(int[] in);

    /**
     * Stores the selection mask of the auto-running mode.
     * Input: {address, mask block, port}.
     */
    public static native int SetMask(int[] in);

    // ---- Reader queries: input {address, port} unless noted --------------

    /**
     * Reads the system parameters.
     * Result (45): {status, data bytes 0-3, data bytes 5-6, the two mask
     * address bytes (data 7-8), mask bit length (data 9), the 32 mask bytes
     * (data 10-41), extension bytes 1-3 (data 42-44; after a short answer
     * extension 1 is 0 and extensions 2 and 3 are 0)}. Data byte 4 is not
     * returned.
     */
    public static native int[] GetSystemParameter(int[] in);

    /** Result (7): {status, the six clock bytes in order}. */
    public static native int[] GetTime(int[] in);

    /**
     * Reads the reader's tag buffer.
     * Result (count + 2): {status, byte count, the records back to back}; a
     * record is an 11-byte head, a tail length L and L tail bytes.
     */
    public static native int[] GetTagBufferInfo(int[] in);

    /** Result (2): {status, GPIO state byte}. */
    public static native int[] GetGPIOStatus(int[] in);

    /**
     * Collects what the reader sent by itself in its active mode, unparsed.
     * Input: {ignored, port}.
     * Result (count + 2): {status (0x0E when nothing arrived), byte count,
     * the bytes}.
     */
    public static native int[] ReadActiveModeData(int[] in);

    /**
     * Passes raw bytes to the reader.
     * Input: {address, parameter byte, length c, c command bytes, port}.
     * Result (r + 1): {status, the r reply data bytes}.
     */
    public static native int[] TransparentCMD(int[] in);

    /** Result (5): {status, the serial number's four bytes, least significant first}. */
    public static native int[] GetSeriaNo(int[] in);

    // ---- Gen2 tags -------------------------------------------------------

    /**
     * Lists the Gen2 tags in the field.
     * Input: {address, mask block, mask flag (1: select by the mask), TID
     * address, TID length, TID flag (1: send the TID bytes), port}.
     * Result (T + 4): {status, tag count N, frame information, total record
     * bytes T, the T record bytes}; when N is 0 every element after the count
     * is 0. Statuses 0x01-0x04 carry tags, 0xFB means no tag.
     */
    public static native int[] Inventory_G2(int[] in);

    /**
     * Reads words of a tag's memory.
     * Input: {address, EPC run, memory bank, word pointer, word count C,
     * password, mask block, port}.
     * Result: status 0: (2C + 1) {0, the 2C bytes read}; otherwise (2)
     * {status, tag error code}.
     */
    public static native int[] ReadData_G2(int[] in);

    /**
     * Writes words to a tag's memory.
     * Input: {address, EPC run, memory bank, word pointer, word count C, the
     * 2C data bytes, password, mask block, port}.
     * Result (2): {status, error code (-1 on success, the tag's code on 0xFC)}.
     */
    public static native int[] WriteData_G2(int[] in);

    /** As {@link #WriteData_G2}, written by the tag in one block operation. */
    public static native int[] BlockWrite_G2(int[] in);

    /**
     * Writes a new EPC to the tag in the field.
     * Input: {address, EPC run holding the new EPC, password, port}.
     * Result (2): {status, error code}.
     */
    public static native int[] WriteEPC_G2(int[] in);

    /**
     * Erases words of a tag's memory.
     * Input: {address, EPC run, password, memory bank, word pointer, word
     * count, mask block, port}.
     * Result (2): {status, error code}.
     */
    public static native int[] BlockErase_G2(int[] in);

    /**
     * Kills a tag.
     * Input: {address, EPC run, kill password, mask block, port}.
     * Result (2): {status, error code}.
     */
    public static native int[] KillTag_G2(int[] in);

    /**
     * Puts an addressed tag into privacy mode.
     * Input: {address, EPC run, password, mask block, port}.
     * Result (2): {status, error code}.
     */
    public static native int[] SetPrivacyByEPC_G2(int[] in);

    /**
     * Locks or unlocks a memory area of a tag.
     * Input: {address, EPC run, password, lock target, lock mode, mask
     * block, port}.
     * Result (2): {status, error code}.
     */
    public static native int[] Lock_G2(int[] in);

    /**
     * Sets a tag's EAS state.
     * Input: {address, EPC run, password, EAS state, mask block, port}.
     * Result (2): {status, error code}.
     */
    public static native int[] EASConfigure_G2(int[] in);

    /**
     * Block-locks a tag's memory.
     * Input: {address, EPC run, password, block lock code, mask block, port}.
     * Result (2): {status, error code}.
     */
    public static native int[] BlockLock_G2(int[] in);

    /**
     * Puts the tag in the field into privacy mode.
     * Input: {address, password, port}. Result (2): {status, error code}.
     */
    public static native int[] SetPrivacyWithoutEPC_G2(int[] in);

    /**
     * Takes the tag in the field out of privacy mode.
     * Input: {address, password, port}. Result (2): {status, error code}.
     */
    public static native int[] ResetPrivacy_G2(int[] in);

    /**
     * Queries privacy mode.
     * Input: {address, port}.
     * Result (2): status 0: {0, privacy state}; otherwise {status, error code}.
     */
    public static native int[] CheckPrivacy_G2(int[] in);

    /**
     * Asks for an EAS alarm.
     * Input: {address, port}. Result (2): {status, error code}.
     */
    public static native int[] EASAlarm_G2(int[] in);

    // ---- ISO 18000-6B tags: addressed by their eight uid bytes -------------

    /**
     * Finds one 6B tag.
     * Input: {address, port}. Result (10): {status, the nine record bytes}.
     */
    public static native int[] InventorySingle_6B(int[] in);

    /**
     * Lists the 6B tags passing a group selection.
     * Input: {address, condition, start address, compare mask, eight compare
     * bytes, port}.
     * Result (9N + 2): {status, tag count N, N nine-byte records}.
     */
    public static native int[] InventoryMultiple_6B(int[] in);

    /**
     * Reads bytes of a 6B tag.
     * Input: {address, eight uid bytes, start address, byte count B, port}.
     * Result: status 0: (B + 1) {0, the B bytes}; otherwise (2) {status,
     * error code}.
     */
    public static native int[] ReadData_6B(int[] in);

    /**
     * Writes bytes to a 6B tag.
     * Input: {address, eight uid bytes, start address, length B (at most
     * 100), the B bytes, port}.
     * Result (2): {status, error code}; a B above 100 gives {255, 0} without
     * contacting the reader.
     */
    public static native int[] WriteData_6B(int[] in);

    /**
     * Locks one byte of a 6B tag.
     * Input: {address, eight uid bytes, lock address, port}.
     * Result (2): {status, error code}.
     */
    public static native int[] Lock_6B(int[] in);

    /**
     * Queries the lock of one byte of a 6B tag.
     * Input: {address, eight uid bytes, lock address, port}.
     * Result (2): status 0: {0, lock state}; otherwise {status, error code}.
     */
    public static native int[] CheckLock_6B(int[] in);

    // ---- GS1 EPC identities (no reader involved) --------------------------

    /**
     * Decodes an EPC and gives one part of its GS1 identity.
     * Input: {part, byte count N (0..255; more: null), the N EPC bytes}.
     * Parts: 0 scheme, 1 filter, 2 pure-identity URI, 3 tag URI, 4 element
     * string, 5 Digital Link, 6 key name, 7 key, 8 company prefix, 9
     * reference, 10 serial.
     * Result (2 + L): {status, text length L, the L ASCII characters}.
     * Status 0: the part; 0x100 (256): not a GS1 EPC, the text is the
     * reason; 0x101 (257): the scheme has no such part, no text; 0xFF: an
     * unknown part.
     */
    public static native int[] MorventEpcDecode(int[] in);

    /**
     * Encodes a pure-identity URI, a tag URI or an element string.
     * Input: {filter (0..7, -1: the tag URI's, else 0), bits (96, 198, ...;
     * 0: the tag URI's, else the shortest scheme that holds it), company
     * prefix digits (6..12 for an element string, else 0)}; {@code identity}:
     * the text (characters beyond ASCII, and zero characters, are refused).
     * Result (3 + N + L): {status, byte count N, the N EPC bytes, message
     * length L, the L ASCII characters}. Status 0: the EPC in whole words;
     * 0x103 (259): refused, the message names the rule the identity breaks.
     */
    public static native int[] MorventEpcEncode(int[] in, String identity);
}
