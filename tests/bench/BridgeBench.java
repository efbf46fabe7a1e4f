/**
 * Times GetReaderInformation through the bridge: opens the network reader at
 * 127.0.0.1:PORT, warms up, then prints the mean time of CALLS calls as
 * "us_per_call=X".
 *
 * <pre>java -Djava.library.path=DIR -cp Tessaly.jar:BridgeBench.jar BridgeBench PORT CALLS</pre>
 */
public final class BridgeBench {
    private BridgeBench() {}

    public static void main(String[] args) {
        int tcpPort = Integer.parseInt(args[0]);
        int calls = Integer.parseInt(args[1]);
        int[] opened = Tessaly.OpenNetPort(0, tcpPort, "127.0.0.1");
        if (opened == null || opened[0] != 0) {
            System.out.println("cannot open 127.0.0.1:" + tcpPort);
            System.exit(1);
        }
        int[] in = {opened[1], opened[2]};
        try {
            // Warm-up: the JIT compiles the calling code before it is timed.
            for (int i = 0; i < Math.max(calls / 4, 100); ++i) check(Tessaly.GetReaderInformation(in));
            long start = System.nanoTime();
            for (int i = 0; i < calls; ++i) check(Tessaly.GetReaderInformation(in));
            long spent = System.nanoTime() - start;
            System.out.printf("us_per_call=%.3f%n", spent / 1000.0 / calls);
        } finally {
            Tessaly.CloseNetPort(opened[2]);
        }
    }

    private static void check(int[] result) {
        if (result == null || result[0] != 0) {
            System.out.println("GetReaderInformation failed");
            System.exit(1);
        }
    }
}
