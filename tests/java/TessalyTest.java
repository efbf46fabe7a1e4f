import static java.util.Arrays.copyOf;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.function.Function;
import java.util.function.Supplier;
import java.util.function.ToIntFunction;

/**
 * Drives every native method of Tessaly against a fake reader on loopback
 * TCP and checks the exact request bytes on the wire and the exact result
 * arrays.
 */
public final class TessalyTest {
    private static final Check check = new Check();
    private static FakeReader reader;
    private static int port;

    public static void main(String[] args) throws Exception {
        try (FakeReader fake = new FakeReader("127.0.0.1")) {
            reader = fake;
            port = fake.port();
            check.group("opening", TessalyTest::opening);
            check.group("address text", TessalyTest::addressText);
            check.group("reader information", TessalyTest::readerInformation);
            check.group("threads", TessalyTest::threads);
            check.group("settings", TessalyTest::settings);
            check.group("SetMask", TessalyTest::setMask);
            check.group("SetReal_timeClock", TessalyTest::setClock);
            check.group("GetSystemParameter", TessalyTest::systemParameter);
            check.group("small queries", TessalyTest::smallQueries);
            check.group("GetTagBufferInfo", TessalyTest::tagBuffer);
            check.group("TransparentCMD", TessalyTest::transparent);
            check.group("ReadActiveModeData", TessalyTest::activeMode);
            check.group("ReadData_G2", TessalyTest::readDataG2);
            check.group("Gen2 writes", TessalyTest::writesG2);
            check.group("Gen2 protection", TessalyTest::protectionG2);
            check.group("Inventory_G2", TessalyTest::inventoryG2);
            check.group("6B", TessalyTest::iso6B);
            check.group("short input arrays", TessalyTest::shortArrays);
            check.group("serial", TessalyTest::serial);
            check.group("example program", TessalyTest::example);
            check.group("closing", TessalyTest::closing);
        }
        check.finish();
    }

    // ---- helpers -----------------------------------------------------------

    /** Scripts `answer`, runs `call` and checks the request it put on the wire. */
    private static <T> T exchange(String name, byte[] expectedRequest, byte[] answer, Supplier<T> call)
            throws InterruptedException {
        if (answer != null) reader.answer(answer);
        T result = call.get();
        reader.clearAnswers();
        check.bytes(name + " request", expectedRequest, reader.nextRequest(2000));
        return result;
    }

    private static void expectArray(String name, int[] expected, byte[] request, byte[] answer,
                                    Supplier<int[]> call) throws InterruptedException {
        check.array(name, expected, exchange(name, request, answer, call));
    }

    private static byte[] req(int adr, int cmd, int... data) {
        return Frames.request(adr, cmd, data);
    }

    private static byte[] ans(int adr, int cmd, int status, int... data) {
        return Frames.response(adr, cmd, status, data);
    }

    private static int[] cat(Object... parts) {
        return Frames.cat(parts);
    }

    private static int[] run(int first, int count) {
        return Frames.run(first, count);
    }

    private static int[] zeros(int count) {
        return Frames.fill(0, count);
    }

    private static int[] lowBytes(int[] values) {
        int[] low = new int[values.length];
        for (int i = 0; i < values.length; i++) low[i] = values[i] & 0xFF;
        return low;
    }

    private static final int[] INFO = run(0x10, 11);

    // ---- links and reader information ---------------------------------------

    private static void opening() throws Exception {
        int[] opened = exchange("OpenNetPort", req(0xFF, 0x21), ans(0x05, 0x21, 0, INFO),
                                () -> Tessaly.OpenNetPort(0, port, "127.0.0.1"));
        check.array("OpenNetPort result", new int[] {0, 0x05, port}, opened);

        check.array("OpenNetPort already open", new int[] {0x35, 0xFF, -1},
                    Tessaly.OpenNetPort(0, port, "127.0.0.1"));
        check.array("OpenNetPort port 80", new int[] {0x37, 0xFF, -1}, Tessaly.OpenNetPort(0, 80, "127.0.0.1"));
        check.that("OpenNetPort 20-character address", Tessaly.OpenNetPort(0, port, "127.000.000.001.0000") == null,
                   "expected null");
        check.that("OpenNetPort null address", Tessaly.OpenNetPort(0, port, null) == null, "expected null");
    }

    // The 13 characters reach the core whole; a unit above U+00FF passes its
    // low 8 bits (U+0130 -> '0').
    private static void addressText() throws Exception {
        try (FakeReader other = new FakeReader("127.0.100.200")) {
            int otherPort = other.port();
            for (String ip : new String[] {"127.0.100.200", "127.0.100.20\u0130"}) {
                other.answerFrame(0x07, 0x21, 0, INFO);
                check.array("OpenNetPort " + ip.length() + " characters", new int[] {0, 0x07, otherPort},
                            Tessaly.OpenNetPort(0, otherPort, ip));
                check.bytes("handshake to 0xFF", req(0xFF, 0x21), other.nextRequest(2000));
                check.equal("CloseNetPort", 0, Tessaly.CloseNetPort(otherPort));
            }
        }
        // Names: text results carry their length, then their characters.
        check.array("MorventResolveHost", new int[] {0, 9, '1', '2', '7', '.', '0', '.', '0', '.', '1'},
                    Tessaly.MorventResolveHost("localhost"));
        check.array("MorventResolveHost not ASCII", null, Tessaly.MorventResolveHost("r\u00e9ader"));
        check.array("MorventSerialDevice out of range", new int[] {0x37, 0}, Tessaly.MorventSerialDevice(256));
    }

    private static void readerInformation() throws Exception {
        expectArray("GetReaderInformation", cat(0, INFO), req(0x05, 0x21), ans(0x05, 0x21, 0, INFO),
                    () -> Tessaly.GetReaderInformation(new int[] {0x105, port}));
        expectArray("GetReaderInformation status 5", cat(5, zeros(11)), req(0xFF, 0x21), ans(0x05, 0x21, 5),
                    () -> Tessaly.GetReaderInformation(new int[] {0x1FF, port}));
    }

    // Calls from several threads each get their own whole answer.
    private static void threads() throws Exception {
        int threads = 4;
        int calls = 5;
        for (int i = 0; i < threads * calls; i++) reader.answerFrame(0x05, 0x21, 0, INFO);
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        List<Future<Boolean>> results = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            results.add(pool.submit(() -> {
                boolean all = true;
                for (int c = 0; c < calls; c++) {
                    all &= Arrays.equals(cat(0, INFO), Tessaly.GetReaderInformation(new int[] {0x05, port}));
                }
                return all;
            }));
        }
        for (Future<Boolean> result : results) {
            check.that("GetReaderInformation from several threads", result.get(30, TimeUnit.SECONDS), "a result differed");
        }
        pool.shutdown();
        for (int i = 0; i < threads * calls; i++) {
            check.bytes("threaded request " + i, req(0x05, 0x21), reader.nextRequest(2000));
        }
        reader.clearAnswers();
    }

    // ---- configuration ---------------------------------------------------------

    private record Setting(String name, int cmd, int values, ToIntFunction<int[]> call) {}

    private static final Setting[] SETTINGS = {
        new Setting("SetRegion", 0x22, 2, Tessaly::SetRegion),
        new Setting("SetAddress", 0x24, 1, Tessaly::SetAddress),
        new Setting("SetInventoryScanTime", 0x25, 1, Tessaly::SetInventoryScanTime),
        new Setting("SetBaudRate", 0x28, 1, Tessaly::SetBaudRate),
        new Setting("SetRfPower", 0x2F, 1, Tessaly::SetRfPower),
        new Setting("BuzzerAndLEDControl", 0x33, 3, Tessaly::BuzzerAndLEDControl),
        new Setting("SetWorkMode", 0x35, 1, Tessaly::SetWorkMode),
        new Setting("SetEASSensitivity", 0x37, 1, Tessaly::SetEASSensitivity),
        new Setting("SetTriggerTime", 0x49, 1, Tessaly::SetTriggerTime),
        new Setting("SetResponsePamametersofAuto_runningMode", 0x3C, 2,
                    Tessaly::SetResponsePamametersofAuto_runningMode),
        new Setting("SetInventoryInterval", 0x3D, 1, Tessaly::SetInventoryInterval),
        new Setting("SelectTagType", 0x3E, 1, Tessaly::SelectTagType),
        new Setting("SetAntennaMultiplexing", 0x3F, 1, Tessaly::SetAntennaMultiplexing),
        new Setting("SetBeepNotification", 0x40, 1, Tessaly::SetBeepNotification),
        new Setting("SetTIDParameter", 0x4A, 2, Tessaly::SetTIDParameter),
        new Setting("SetRelay", 0x45, 1, Tessaly::SetRelay),
        new Setting("SetGPIO", 0x46, 1, Tessaly::SetGPIO),
        new Setting("SetNotificationPulseOutput", 0x48, 1, Tessaly::SetNotificationPulseOutput),
        new Setting("ChangeATMode", 0x4D, 1, Tessaly::ChangeATMode),
        new Setting("ClearTagBuffer", 0x44, 0, Tessaly::ClearTagBuffer),
    };

    // Values carry junk above bit 7 to show only the low byte travels; each
    // answer's status comes back as the result.
    private static void settings() throws Exception {
        for (int i = 0; i < SETTINGS.length; i++) {
            Setting s = SETTINGS[i];
            int[] values = run(0x3A1 + 3 * i, s.values());
            int status = 0x10 + i;
            int result = exchange(s.name(), req(0xFF, s.cmd(), lowBytes(values)), ans(0x00, s.cmd(), status),
                                  () -> s.call().applyAsInt(cat(0x1FF, values, port)));
            check.equal(s.name() + " status", status, result);
            check.equal(s.name() + " without port", -1, s.call().applyAsInt(cat(0x1FF, values)));
        }
    }

    private static void setMask() throws Exception {
        check.equal("SetMask L=0", 0, exchange("SetMask L=0", req(0x01, 0x3B, 1, 0x20, 0x30, 0), ans(0x01, 0x3B, 0),
                                               () -> Tessaly.SetMask(new int[] {1, 1, 0x20, 0x30, 0, port})));
        check.equal("SetMask L=9", 0,
                    exchange("SetMask L=9", req(0x01, 0x3B, 1, 0x20, 0x30, 9, 0xAA, 0xBB), ans(0x01, 0x3B, 0),
                             () -> Tessaly.SetMask(new int[] {1, 1, 0x20, 0x30, 9, 0xAA, 0xBB, port})));
        check.equal("SetMask L=0x110", 0,
                    exchange("SetMask L=0x110", req(0x01, 0x3B, 1, 0x20, 0x30, 16, 0xAA, 0xBB),
                             ans(0x01, 0x3B, 0),
                             () -> Tessaly.SetMask(new int[] {1, 1, 0x20, 0x30, 0x110, 0xAA, 0xBB, port})));
        check.equal("SetMask L=9 one mask byte short", -1, Tessaly.SetMask(new int[] {1, 1, 0x20, 0x30, 9, 0xAA, port}));
    }

    private static void setClock() throws Exception {
        check.equal("SetReal_timeClock", 0,
                    exchange("SetReal_timeClock", req(0x02, 0x41, 1, 2, 3, 4, 5, 6), ans(0x02, 0x41, 0),
                             () -> Tessaly.SetReal_timeClock(new int[] {2, 1, 2, 3, 4, 5, 6, port})));
    }

    private static void systemParameter() throws Exception {
        int[] data = run(100, 45);
        int[] expected = cat(0, copyOf(data, 4), data[5], data[6], Arrays.copyOfRange(data, 7, 45));
        expectArray("GetSystemParameter long answer", expected, req(0x03, 0x36), ans(0x03, 0x36, 0, data),
                    () -> Tessaly.GetSystemParameter(new int[] {3, port}));
        int[] shortExpected = copyOf(expected, 45);
        shortExpected[42] = shortExpected[43] = shortExpected[44] = 0;
        expectArray("GetSystemParameter short answer", shortExpected, req(0x03, 0x36),
                    ans(0x03, 0x36, 0, copyOf(data, 42)), () -> Tessaly.GetSystemParameter(new int[] {3, port}));
        expectArray("GetSystemParameter status 0xFE", cat(0xFE, zeros(44)), req(0x03, 0x36), ans(0x03, 0x36, 0xFE),
                    () -> Tessaly.GetSystemParameter(new int[] {3, port}));
    }

    private static void smallQueries() throws Exception {
        expectArray("GetTime", new int[] {0, 26, 12, 9, 7, 30, 59}, req(0x04, 0x42),
                    ans(0x04, 0x42, 0, 26, 12, 9, 7, 30, 59), () -> Tessaly.GetTime(new int[] {4, port}));
        expectArray("GetTime status 5", cat(5, zeros(6)), req(0x04, 0x42), ans(0x04, 0x42, 5),
                    () -> Tessaly.GetTime(new int[] {4, port}));
        expectArray("GetGPIOStatus", new int[] {0, 0x5A}, req(0x04, 0x47), ans(0x04, 0x47, 0, 0x5A),
                    () -> Tessaly.GetGPIOStatus(new int[] {4, port}));
        expectArray("GetSeriaNo", new int[] {0, 0x78, 0x56, 0x34, 0x12}, req(0x04, 0x4C),
                    ans(0x04, 0x4C, 0, 0x78, 0x56, 0x34, 0x12), () -> Tessaly.GetSeriaNo(new int[] {4, port}));
    }

    private static int[] bufferRecord(int first, int tailLength) {
        return cat(run(first, 11), tailLength, run(first + 0x40, tailLength));
    }

    private static void tagBuffer() throws Exception {
        int[] first = bufferRecord(0x01, 12);
        int[] second = bufferRecord(0x81, 8);
        byte[] answer = Frames.join(ans(0, 0x43, 0x01, first), ans(0, 0x43, 0x01, second), ans(0, 0x43, 0));
        expectArray("GetTagBufferInfo two records", cat(0, 44, first, second), req(0x05, 0x43), answer,
                    () -> Tessaly.GetTagBufferInfo(new int[] {5, port}));
        expectArray("GetTagBufferInfo empty", new int[] {0, 0}, req(0x05, 0x43), ans(0, 0x43, 0),
                    () -> Tessaly.GetTagBufferInfo(new int[] {5, port}));
    }

    private static void transparent() throws Exception {
        int[] reply = run(0x61, 7);
        expectArray("TransparentCMD c=0", cat(0, reply), req(0x06, 0x4E, 0x33), ans(0x06, 0x4E, 0, reply),
                    () -> Tessaly.TransparentCMD(new int[] {6, 0x33, 0, port}));
        expectArray("TransparentCMD c=3", new int[] {0}, req(0x06, 0x4E, 0x33, 0xA1, 0xA2, 0xA3),
                    ans(0x06, 0x4E, 0), () -> Tessaly.TransparentCMD(new int[] {6, 0x33, 3, 0xA1, 0xA2, 0xA3, port}));
        expectArray("TransparentCMD status 9", new int[] {9}, req(0x06, 0x4E, 0x33), ans(0x06, 0x4E, 9, reply),
                    () -> Tessaly.TransparentCMD(new int[] {6, 0x33, 0, port}));
    }

    // Nothing is sent: the reader's own bytes come back whole, even above
    // 7998 of them.
    private static void activeMode() throws Exception {
        byte[] frame = ans(0x00, 0xEE, 0x00, 1, 2, 3, 4);
        reader.sendUnsolicited(frame);
        Thread.sleep(200);
        int[] expected = new int[frame.length + 2];
        expected[1] = frame.length;
        for (int i = 0; i < frame.length; i++) expected[i + 2] = frame[i] & 0xFF;
        check.array("ReadActiveModeData frame", expected, Tessaly.ReadActiveModeData(new int[] {0x1234, port}));

        byte[] flood = new byte[8000];
        for (int i = 0; i < flood.length; i++) flood[i] = (byte) (i * 7);
        reader.sendUnsolicited(flood);
        Thread.sleep(500);
        int[] all = Tessaly.ReadActiveModeData(new int[] {0, port});
        check.that("ReadActiveModeData 8000 bytes", all != null && all.length == 8002 && all[1] == 8000,
                   all == null ? "null" : "length " + all.length);
        if (all != null && all.length == 8002) {
            boolean same = true;
            for (int i = 0; i < flood.length; i++) same &= all[i + 2] == (flood[i] & 0xFF);
            check.that("ReadActiveModeData 8000 bytes in order", same, "bytes differ");
        }
        check.equal("ReadActiveModeData nothing sent", 0, reader.pendingRequests());
    }

    // ---- Gen2 ------------------------------------------------------------------

    private static final int[] EPC = run(0xE0, 12);
    private static final int[] PASSWORD = {0x11, 0x22, 0x33, 0x44};
    private static final int[] NO_MASK = {1, 0x00, 0x20, 0};

    private static void readDataG2() throws Exception {
        int[] in = cat(0x02, 6, EPC, 3, 0x10, 4, PASSWORD, NO_MASK, port);
        check.equal("ReadData_G2 W=6 port at in[25]", 26, in.length);
        byte[] request = req(0x02, 0x02, cat(6, EPC, 3, 0x10, 4, PASSWORD));
        int[] words = run(0xD0, 8);
        expectArray("ReadData_G2 C=4", cat(0, words), request, ans(0x02, 0x02, 0, words),
                    () -> Tessaly.ReadData_G2(in));
        expectArray("ReadData_G2 tag error", new int[] {0xFC, 0x0B}, request, ans(0x02, 0x02, 0xFC, 0x0B),
                    () -> Tessaly.ReadData_G2(in));
        expectArray("ReadData_G2 other status", new int[] {0x05, 0}, request, ans(0x02, 0x02, 0x05),
                    () -> Tessaly.ReadData_G2(in));

        // W = 0xFF: 510 unused EPC elements, the mask selects the tag.
        int[] mask = run(0xA0, 12);
        int[] masked = cat(0x02, 0xFF, Frames.fill(0x1EE, 510), 3, 0x10, 1, PASSWORD, 1, 0x00, 0x20, 96, mask, port);
        check.equal("ReadData_G2 W=0xFF port at in[535]", 536, masked.length);
        expectArray("ReadData_G2 W=0xFF", new int[] {0, 0xD0, 0xD1},
                    req(0x02, 0x02, cat(0xFF, 3, 0x10, 1, PASSWORD, 1, 0x00, 0x20, 96, mask)),
                    ans(0x02, 0x02, 0, 0xD0, 0xD1), () -> Tessaly.ReadData_G2(masked));
    }

    private static void writesG2() throws Exception {
        int[] data = {0xC1, 0xC2, 0xC3, 0xC4};
        int[] in = cat(0x02, 6, EPC, 3, 0x02, 2, data, PASSWORD, NO_MASK, port);
        expectArray("WriteData_G2 W=6 C=2", new int[] {0, -1}, req(0x02, 0x03, cat(2, 6, EPC, 3, 0x02, data, PASSWORD)),
                    ans(0x02, 0x03, 0), () -> Tessaly.WriteData_G2(in));
        expectArray("BlockWrite_G2", new int[] {0xFC, 0x03}, req(0x02, 0x10, cat(2, 6, EPC, 3, 0x02, data, PASSWORD)),
                    ans(0x02, 0x10, 0xFC, 0x03), () -> Tessaly.BlockWrite_G2(in));
        // The password follows the EPC in the array but precedes it on the wire.
        expectArray("WriteEPC_G2", new int[] {0, -1}, req(0x02, 0x04, cat(6, PASSWORD, EPC)), ans(0x02, 0x04, 0),
                    () -> Tessaly.WriteEPC_G2(cat(0x02, 6, EPC, PASSWORD, port)));
        expectArray("BlockErase_G2", new int[] {0, -1}, req(0x02, 0x07, cat(6, EPC, 3, 0x04, 2, PASSWORD)),
                    ans(0x02, 0x07, 0),
                    () -> Tessaly.BlockErase_G2(cat(0x02, 6, EPC, PASSWORD, 3, 0x04, 2, NO_MASK, port)));
    }

    private static void protectionG2() throws Exception {
        int[] epc3 = run(0xE0, 6);
        // A W element of 0x103 counts as 3 words.
        expectArray("KillTag_G2 W=0x103", new int[] {0, -1}, req(0x02, 0x05, cat(3, epc3, PASSWORD)),
                    ans(0x02, 0x05, 0), () -> Tessaly.KillTag_G2(cat(0x02, 0x103, epc3, PASSWORD, NO_MASK, port)));
        expectArray("SetPrivacyByEPC_G2 by mask", new int[] {0, -1},
                    req(0x02, 0x08, cat(0xFF, PASSWORD, 1, 0x00, 0x20, 12, 0xAB, 0xC0)), ans(0x02, 0x08, 0),
                    () -> Tessaly.SetPrivacyByEPC_G2(cat(0x02, 0xFF, Frames.fill(0, 510), PASSWORD, 1, 0x00,
                                                         0x20, 12, 0xAB, 0xC0, port)));
        expectArray("Lock_G2", new int[] {0, -1}, req(0x02, 0x06, cat(3, epc3, 0x02, 0x01, PASSWORD)),
                    ans(0x02, 0x06, 0),
                    () -> Tessaly.Lock_G2(cat(0x02, 3, epc3, PASSWORD, 0x02, 0x01, NO_MASK, port)));
        expectArray("EASConfigure_G2", new int[] {0xFC, 0x03}, req(0x02, 0x0C, cat(3, epc3, PASSWORD, 0x01)),
                    ans(0x02, 0x0C, 0xFC, 0x03),
                    () -> Tessaly.EASConfigure_G2(cat(0x02, 3, epc3, PASSWORD, 0x01, NO_MASK, port)));
        expectArray("BlockLock_G2", new int[] {0, -1}, req(0x02, 0x0E, cat(3, epc3, PASSWORD, 0x07)),
                    ans(0x02, 0x0E, 0),
                    () -> Tessaly.BlockLock_G2(cat(0x02, 3, epc3, PASSWORD, 0x07, NO_MASK, port)));
        expectArray("SetPrivacyWithoutEPC_G2", new int[] {0, -1}, req(0x02, 0x09, PASSWORD), ans(0x02, 0x09, 0),
                    () -> Tessaly.SetPrivacyWithoutEPC_G2(cat(0x02, PASSWORD, port)));
        expectArray("ResetPrivacy_G2", new int[] {0xFC, 0x0B}, req(0x02, 0x0A, PASSWORD),
                    ans(0x02, 0x0A, 0xFC, 0x0B), () -> Tessaly.ResetPrivacy_G2(cat(0x02, PASSWORD, port)));
        expectArray("CheckPrivacy_G2", new int[] {0, 1}, req(0x02, 0x0B), ans(0x02, 0x0B, 0, 1),
                    () -> Tessaly.CheckPrivacy_G2(new int[] {0x02, port}));
        expectArray("CheckPrivacy_G2 tag error", new int[] {0xFC, 4}, req(0x02, 0x0B), ans(0x02, 0x0B, 0xFC, 4),
                    () -> Tessaly.CheckPrivacy_G2(new int[] {0x02, port}));
        expectArray("EASAlarm_G2 error code unwritten", new int[] {0xFE, 0}, req(0x02, 0x0D), ans(0x02, 0x0D, 0xFE),
                    () -> Tessaly.EASAlarm_G2(new int[] {0x02, port}));
    }

    private static void inventoryG2() throws Exception {
        int[] plain = {0x02, 0, 0, 0, 0, 0, 0, 0, 0, port};
        expectArray("Inventory_G2 no tag", new int[] {0xFB, 0, 0, 0}, req(0x02, 0x01), ans(0x02, 0x01, 0xFB),
                    () -> Tessaly.Inventory_G2(plain));

        int[] twoTags = run(0x30, 10);
        int[] oneTag = run(0x50, 5);
        byte[] frames = Frames.join(ans(0x02, 0x01, 0x03, cat(0x81, 2, twoTags)),
                                     ans(0x02, 0x01, 0x01, cat(0x82, 1, oneTag)));
        expectArray("Inventory_G2 two frames", cat(0x01, 1, 0x82, 15, twoTags, oneTag), req(0x02, 0x01), frames,
                    () -> Tessaly.Inventory_G2(plain));

        int[] masked = {0x02, 1, 0x00, 0x20, 12, 0xAB, 0x1C0, 1, 0x02, 0x06, 1, port};
        expectArray("Inventory_G2 mask and TID", new int[] {0xFB, 0, 0, 0},
                    req(0x02, 0x01, 1, 0x00, 0x20, 12, 0xAB, 0xC0, 0x02, 0x06), ans(0x02, 0x01, 0xFB),
                    () -> Tessaly.Inventory_G2(masked));
    }

    // ---- ISO 18000-6B ---------------------------------------------------------------

    private static final int[] UID = run(0xB0, 8);

    private static void iso6B() throws Exception {
        int[] record = run(0x70, 9);
        expectArray("InventorySingle_6B", cat(0, record), req(0x03, 0x50), ans(0x03, 0x50, 0, record),
                    () -> Tessaly.InventorySingle_6B(new int[] {3, port}));
        int[] records = run(0x20, 27);
        int[] compare = run(0x90, 8);
        int[] result = exchange("InventoryMultiple_6B", req(0x03, 0x51, cat(0, 0x08, 0xFF, compare)),
                                ans(0x03, 0x51, 0x15, cat(3, records)),
                                () -> Tessaly.InventoryMultiple_6B(cat(3, 0, 0x08, 0xFF, compare, port)));
        check.array("InventoryMultiple_6B 3 tags", cat(0x15, 3, records), result);
        check.equal("InventoryMultiple_6B 29 elements", 29, result == null ? -1 : result.length);
        int[] in = cat(3, UID, 0x10, 4, port);
        byte[] request = req(0x03, 0x52, cat(0x10, UID, 4));
        expectArray("ReadData_6B", new int[] {0, 1, 2, 3, 4}, request, ans(0x03, 0x52, 0, 1, 2, 3, 4),
                    () -> Tessaly.ReadData_6B(in));
        expectArray("ReadData_6B tag error", new int[] {0xFC, 2}, request, ans(0x03, 0x52, 0xFC, 2),
                    () -> Tessaly.ReadData_6B(in));
        expectArray("WriteData_6B", new int[] {0, -1}, req(0x03, 0x53, cat(0x10, UID, 0xD1, 0xD2, 0xD3, 0xD4)),
                    ans(0x03, 0x53, 0), () -> Tessaly.WriteData_6B(cat(3, UID, 0x10, 4, 0xD1, 0xD2, 0xD3, 0xD4, port)));
        check.array("WriteData_6B length 101 refused", new int[] {255, 0},
                    Tessaly.WriteData_6B(cat(3, UID, 0x10, 101, zeros(101), port)));
        expectArray("Lock_6B", new int[] {0xFC, 3}, req(0x03, 0x55, cat(0x20, UID)), ans(0x03, 0x55, 0xFC, 3),
                    () -> Tessaly.Lock_6B(cat(3, UID, 0x20, port)));
        expectArray("CheckLock_6B", new int[] {0, 1}, req(0x03, 0x54, cat(0x20, UID)), ans(0x03, 0x54, 0, 1),
                    () -> Tessaly.CheckLock_6B(cat(3, UID, 0x20, port)));
        check.equal("6B nothing left on the wire", 0, reader.pendingRequests());
    }

    // ---- input arrays too short for their own layout -----------------------------

    private record Truncated(String name, Function<int[], int[]> call, int[] in) {}

    private static void shortArrays() throws Exception {
        Truncated[] cases = {
            new Truncated("ReadData_G2 W=0xFF, 20 elements", Tessaly::ReadData_G2, cat(2, 0xFF, zeros(18))),
            new Truncated("ReadData_G2 null", Tessaly::ReadData_G2, null),
            new Truncated("ReadData_G2 empty", Tessaly::ReadData_G2, new int[0]),
            new Truncated("ReadData_G2 mask bytes missing", Tessaly::ReadData_G2,
                          cat(2, 0, 3, 0x10, 1, PASSWORD, 1, 0, 0x20, 96, zeros(11))),
            new Truncated("WriteData_G2 data short of C", Tessaly::WriteData_G2, cat(2, 0, 3, 0, 100, zeros(20))),
            new Truncated("WriteEPC_G2 without port", Tessaly::WriteEPC_G2, cat(2, 1, 0, 0, PASSWORD)),
            new Truncated("Inventory_G2 without port", Tessaly::Inventory_G2, cat(2, 0, 0, 0, 0, 0, 0, 0, 0)),
            new Truncated("InventoryMultiple_6B without port", Tessaly::InventoryMultiple_6B, cat(3, 0, 0, 0, UID)),
            new Truncated("WriteData_6B data short", Tessaly::WriteData_6B, cat(3, UID, 0, 4, 1, 2, 3)),
            new Truncated("TransparentCMD c=5 with 2 bytes", Tessaly::TransparentCMD, cat(6, 0, 5, 1, 2, port)),
            new Truncated("GetTime without port", Tessaly::GetTime, new int[] {4}),
            new Truncated("GetReaderInformation null", Tessaly::GetReaderInformation, null),
            new Truncated("OpenComPort short", Tessaly::OpenComPort, new int[] {7, 0}),
            new Truncated("ReadActiveModeData without port", Tessaly::ReadActiveModeData, new int[] {0}),
        };
        for (Truncated t : cases) check.that(t.name(), t.call().apply(t.in()) == null, "expected null");
        check.equal("SetRegion null", -1, Tessaly.SetRegion(null));
        check.equal("SetReal_timeClock short", -1, Tessaly.SetReal_timeClock(new int[] {1, 2, 3}));
        Thread.sleep(200);
        check.equal("short arrays sent nothing", 0, reader.pendingRequests());
    }

    // ---- serial ports: COM3 is a pseudo-terminal relayed to a fake reader ------

    private static void serial() throws Exception {
        check.array("OpenComPort no device", new int[] {0x30, 0x05, -1}, Tessaly.OpenComPort(new int[] {7, 0x105, 6}));
        String relay = System.getProperty("tessaly.ptyRelay");
        String com3 = System.getenv("MORVENT_COM3");
        if (relay == null || com3 == null) {
            check.skip("serial reader", "no pseudo-terminal relay configured");
        } else {
            try (FakeReader serialReader = new FakeReader("127.0.0.1")) {
                Process process = new ProcessBuilder(relay, com3, String.valueOf(serialReader.port()), "60")
                                      .inheritIO().start();
                try {
                    serialLink(serialReader, Paths.get(com3));
                } finally {
                    process.destroy();
                    process.waitFor(5, TimeUnit.SECONDS);
                    Files.deleteIfExists(Paths.get(com3));
                }
            }
        }
        check.array("AutoOpenComPort no device", new int[] {0x30, -1, 0x05, -1},
                    Tessaly.AutoOpenComPort(new int[] {0x105, 6}));
        check.equal("CloseSpecComPort not open", 0, Tessaly.CloseSpecComPort(7));
        check.equal("CloseComPort nothing open", 0, Tessaly.CloseComPort());
    }

    private static void serialLink(FakeReader serialReader, Path device) throws Exception {
        for (int i = 0; i < 100 && !Files.exists(device); i++) Thread.sleep(50);
        check.that("pseudo-terminal ready", Files.exists(device), device.toString());

        serialReader.answerFrame(0x09, 0x21, 0, INFO);
        check.array("OpenComPort COM3", new int[] {0, 0x09, 3}, Tessaly.OpenComPort(new int[] {3, 0x105, 6}));
        check.bytes("OpenComPort handshake", req(0xFF, 0x21), serialReader.nextRequest(2000));
        check.array("OpenComPort already open", new int[] {0x35, 0x05, -1}, Tessaly.OpenComPort(new int[] {3, 0x105, 6}));

        serialReader.answerFrame(0x09, 0x21, 0, INFO);
        check.array("GetReaderInformation over COM3", cat(0, INFO), Tessaly.GetReaderInformation(new int[] {0x09, 3}));
        check.bytes("GetReaderInformation over COM3 request", req(0x09, 0x21), serialReader.nextRequest(2000));
        check.equal("CloseSpecComPort", 0, Tessaly.CloseSpecComPort(3));

        // COM1 and COM2 have no device; the scan stops at COM3.
        serialReader.answerFrame(0x0A, 0x21, 0, INFO);
        check.array("AutoOpenComPort finds COM3", new int[] {0, 3, 0x0A, 3}, Tessaly.AutoOpenComPort(new int[] {0x105, 6}));
        check.bytes("AutoOpenComPort handshake", req(0xFF, 0x21), serialReader.nextRequest(2000));
        check.equal("CloseComPort", 0, Tessaly.CloseComPort());
    }

    // The README's program against its own fake reader: information, then one tag.
    private static void example() throws Exception {
        ByteArrayOutputStream captured = new ByteArrayOutputStream();
        PrintStream console = System.out;
        boolean opened;
        try (FakeReader exampleReader = new FakeReader("127.0.0.1")) {
            exampleReader.answerFrame(0x05, 0x21, 0, INFO);
            exampleReader.answerFrame(0x05, 0x21, 0, INFO);
            exampleReader.answerFrame(0x05, 0x01, 0x01, cat(0x80, 1, 12, EPC, 0x40));
            System.setOut(new PrintStream(captured, true, "UTF-8"));
            try {
                opened = InventoryExample.run("127.0.0.1", exampleReader.port());
            } finally {
                System.setOut(console);
            }
        }
        String output = captured.toString("UTF-8");
        check.that("example opened the reader", opened, output);
        check.that("example printed the information", output.contains("reader 0x05, information bytes: 10 11 12"), output);
        check.that("example printed the tag", output.contains("1 tag(s)")
                   && output.contains("tag records: 0C E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB 40"), output);
    }

    private static void closing() {
        check.equal("CloseNetPort -5", 0, Tessaly.CloseNetPort(-5));
        check.equal("CloseNetPort", 0, Tessaly.CloseNetPort(port));
        int[] again = Tessaly.GetReaderInformation(new int[] {0xFF, port});
        check.that("closed link fails", again != null && again.length == 12 && again[0] != 0,
                   again == null ? "null" : "status " + again[0]);
    }
}
