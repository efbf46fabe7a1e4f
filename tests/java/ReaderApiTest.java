import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.morvent.Bank;
import org.morvent.Epc;
import org.morvent.Hex;
import org.morvent.Mask;
import org.morvent.MorventException;
import org.morvent.Reader;
import org.morvent.Status;
import org.morvent.Tag;
import org.morvent.TagRef;

/**
 * The named-package API against morvent-sim (-Dmorvent.sim): what it adds
 * over the bridge's int arrays (closing, error mapping, record counting,
 * EPC and mask addressing).
 */
public final class ReaderApiTest {
    private static final Check check = new Check();
    private static final byte[] EPC1 = Hex.parse("E20034120123456789ABCDEF");
    private static final byte[] EPC2 = Hex.parse("300011112222333344445555");

    public static void main(String[] args) throws Exception {
        Process sim = new ProcessBuilder(System.getProperty("morvent.sim"), "--tcp", "0", "--run-for", "120")
                          .redirectErrorStream(true).start();
        try {
            BufferedReader out = new BufferedReader(new InputStreamReader(sim.getInputStream(), StandardCharsets.UTF_8));
            Matcher m = Pattern.compile("tcp=127\\.0\\.0\\.1:(\\d+)").matcher(String.valueOf(out.readLine()));
            if (!m.find()) throw new IllegalStateException("morvent-sim did not start");
            int port = Integer.parseInt(m.group(1));
            check.group("status table", ReaderApiTest::statusTable);
            check.group("GS1 identity", ReaderApiTest::identity);
            check.group("open, close, reopen", () -> lifecycle(port));
            check.group("errors", () -> errors(port));
            check.group("inventory and addressing", () -> addressing(port));
        } finally {
            sim.destroy();
            sim.waitFor();
        }
        check.finish();
    }

    static int statusOf(Runnable call) {
        try {
            call.run();
        } catch (MorventException e) {
            return e.status();
        }
        return Status.OK;
    }

    static void identity() {
        byte[] example = Hex.parse("3074257BF7194E4000001A85");
        Epc id = new Tag(example, new byte[0]).identity().orElseThrow();
        check.that("URI", id.uri().equals("urn:epc:id:sgtin:0614141.812345.6789"), id.uri());
        check.that("element string", id.elementString().orElse("").equals("(01)80614141123458(21)6789"), id.toString());
        check.that("GTIN and filter", id.gtin().orElse("").equals("80614141123458") && id.filter().getAsInt() == 3, "");
        check.bytes("encoded", example, Epc.encode(id.uri(), 3, 96));
        check.that("not GS1", new Tag(EPC1, new byte[0]).identity().isEmpty(), "EPC1 decoded");
        try {
            Epc.encode("(01)80614141123459(21)6789", 0, 0, 7);
            check.that("refused", false, "a wrong check digit was encoded");
        } catch (Epc.EncodingException e) {
            check.that("refusal", e.getMessage().contains("check digit is 9, it should be 8"), e.getMessage());
        }
    }

    static void statusTable() {
        check.that("comm error name", Status.name(0x30).equals("MORVENT_COMM_ERROR"), Status.name(0x30));
        check.that("unnamed reader status", Status.name(0x5A).equals("READER_STATUS_0x5A"), Status.name(0x5A));
        check.that("tag error name", Status.tagErrorName(5).equals("MORVENT_TAG_ERR_PASSWORD"), Status.tagErrorName(5));
    }

    static void lifecycle(int port) {
        Reader reader = Reader.tcp("localhost", port);
        check.equal("port index", port, reader.port());
        check.equal("opened twice", Status.PORT_OPEN, statusOf(() -> Reader.tcp("127.0.0.1", port)));
        reader.close();
        reader.close();
        check.equal("closed reader", Status.INVALID_PORT, statusOf(reader::info));
        reader.reopen();
        check.equal("scan time after reopen", 10, reader.info().scanTime());
        reader.close();
        try (Reader again = Reader.tcp("127.0.0.1", port)) {
            check.that("opens again after close", again.isOpen(), "not open");
        }
    }

    static void errors(int port) {
        try (Reader reader = Reader.tcp("127.0.0.1", port)) {
            try {
                reader.read(TagRef.epc(EPC2), Bank.RESERVED, 2, 2, Hex.parse("11111111"));
                check.that("wrong password throws", false, "no exception");
            } catch (MorventException e) {
                check.equal("tag error status", Status.TAG_ERROR, e.status());
                check.equal("tag error code", 5, e.tagError());
                check.that("message names it", e.getMessage().contains("MORVENT_TAG_ERR_PASSWORD"), e.getMessage());
            }
            check.equal("odd EPC refused", Status.PARAM_RANGE,
                        statusOf(() -> reader.read(TagRef.epc(new byte[3]), Bank.USER, 0, 1)));
            check.equal("short password refused", Status.PARAM_RANGE,
                        statusOf(() -> reader.read(TagRef.any(), Bank.USER, 0, 1, new byte[2])));
            check.equal("absent tag", Status.NO_TAG,
                        statusOf(() -> reader.read(TagRef.epc(new byte[] {1, 2}), Bank.USER, 0, 1)));
        }
        // COM1 names a missing device (see the test's environment).
        try {
            Reader.serial(1);
            check.that("missing device throws", false, "no exception");
        } catch (MorventException e) {
            String named = "OpenComPort: no such device " + System.getenv("MORVENT_COM1") + " (COM1)";
            check.that("missing device named", named.equals(e.getMessage()), e.getMessage());
        }
    }

    static void addressing(int port) {
        try (Reader reader = Reader.tcp("127.0.0.1", port)) {
            List<Tag> all = reader.inventory(null, true, 0, 2);
            check.equal("every tag, each with its TID", reader.inventory().size(), all.size());
            check.bytes("TID with the tag", Hex.parse("E2801105"), all.get(0).tid());
            check.equal("tags by mask", 2, reader.inventory(Mask.epcPrefix(new byte[] {0x30, 0x00})).size());
            check.equal("no tag is an empty list", 0, reader.inventory(Mask.epcPrefix(new byte[] {(byte) 0x99})).size());
            reader.write(TagRef.epc(EPC1), Bank.USER, 2, Hex.parse("CAFEF00D"));
            check.bytes("read back by mask", Hex.parse("CAFEF00D"),
                        reader.read(TagRef.mask(Mask.epcPrefix(Hex.parse("E20034"))), Bank.USER, 2, 2));
            check.bytes("read by the tag", Hex.parse("0011"), reader.read(TagRef.of(all.get(0)), Bank.USER, 0, 1));
        }
    }
}
