import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;

/** A minimal test harness: named checks, a tally and the closing line. */
final class Check {
    private int passed;
    private int failed;
    private int skipped;

    void that(String name, boolean ok, String detail) {
        if (ok) {
            passed++;
        } else {
            failed++;
            System.out.println("FAIL " + name + ": " + detail);
        }
    }

    void equal(String name, int expected, int actual) {
        that(name, expected == actual, "expected " + expected + ", got " + actual);
    }

    void array(String name, int[] expected, int[] actual) {
        that(name, Arrays.equals(expected, actual),
             "expected " + Arrays.toString(expected) + ", got " + Arrays.toString(actual));
    }

    void bytes(String name, byte[] expected, byte[] actual) {
        that(name, Arrays.equals(expected, actual),
             "expected " + Frames.hex(expected) + ", got " + Frames.hex(actual));
    }

    void skip(String name, String why) {
        skipped++;
        System.out.println("SKIP " + name + ": " + why);
    }

    /** Runs one group of checks; an exception fails the group, not the run. */
    void group(String name, ThrowingRunnable body) {
        try {
            body.run();
        } catch (Throwable t) {
            failed++;
            System.out.println("FAIL " + name + ": " + t);
            t.printStackTrace(System.out);
        }
    }

    /** Prints the tally and exits non-zero on any failure. */
    void finish() {
        System.out.println(passed + " passed, " + failed + " failed, " + skipped + " skipped");
        System.exit(failed == 0 ? 0 : 1);
    }

    interface ThrowingRunnable {
        void run() throws Exception;
    }

    /** The names the core library exports, read from its dynamic string table. */
    static final class CoreExports {
        private final String names;

        CoreExports(String libraryDirectory) throws IOException {
            Path core = Paths.get(libraryDirectory, "libMorvent.so");
            names = Files.exists(core) ? new String(Files.readAllBytes(core), StandardCharsets.ISO_8859_1) : "";
        }

        // String tables share tails ("Lock_G2" may live inside "BlockLock_G2"),
        // so a name counts as present when some string ends with it. A false
        // "present" only turns a skip into a failure.
        boolean has(String export) {
            return names.contains(export + "\0");
        }
    }
}
