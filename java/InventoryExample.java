/**
 * Opens a network reader, prints its information, runs one Gen2 inventory and
 * prints the tag records.
 *
 * <pre>java -Djava.library.path=DIR -cp Tessaly.jar:TessalyExample.jar InventoryExample IP PORT</pre>
 * where DIR holds libTessaly.so and libMorvent.so.
 */
public final class InventoryExample {
    private static final int ANY_READER = 0xFF;

    public static void main(String[] args) {
        String ip = args.length > 0 ? args[0] : "127.0.0.1";
        int tcpPort = args.length > 1 ? Integer.parseInt(args[1]) : 6000;
        if (!run(ip, tcpPort)) System.exit(1);
    }

    /** Runs the example against one reader; false when it cannot be opened. */
    static boolean run(String ip, int tcpPort) {
        int[] opened = Tessaly.OpenNetPort(0, tcpPort, ip);
        if (opened == null || opened[0] != 0) {
            System.err.println("cannot open " + ip + ":" + tcpPort + ": " + describe(opened));
            return false;
        }
        int address = opened[1];
        int port = opened[2];
        try {
            printInformation(address, port);
            printTags(address, port);
        } finally {
            Tessaly.CloseNetPort(port);
        }
        return true;
    }

    private static void printInformation(int address, int port) {
        int[] info = Tessaly.GetReaderInformation(new int[] {address, port});
        if (info == null || info[0] != 0) {
            System.err.println("reader information: " + describe(info));
            return;
        }
        System.out.printf("reader 0x%02X, information bytes:", address);
        for (int i = 1; i < info.length; i++) System.out.printf(" %02X", info[i]);
        System.out.printf("%nscan time %d ms%n", info[8] * 100);
    }

    private static void printTags(int address, int port) {
        // No mask (bank, address, address, 0 bits), mask flag 0, no TID.
        int[] inventory = Tessaly.Inventory_G2(new int[] {address, 0, 0, 0, 0, 0, 0, 0, 0, port});
        if (inventory == null) {
            System.err.println("inventory: bridge or core missing");
            return;
        }
        int tags = inventory[1];
        System.out.printf("inventory status 0x%02X, %d tag(s)%n", inventory[0], tags);
        if (tags <= 0) return;
        StringBuilder records = new StringBuilder();
        for (int i = 4; i < inventory.length; i++) records.append(String.format("%02X ", inventory[i]));
        System.out.println("tag records: " + records.toString().trim());
    }

    private static String describe(int[] result) {
        return result == null ? "bridge or core missing" : String.format("status 0x%02X", result[0]);
    }
}
