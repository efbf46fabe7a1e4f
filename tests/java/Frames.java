import java.io.ByteArrayOutputStream;

/** Reader frames: length byte, contents, CRC-16 low byte first. */
final class Frames {
    private Frames() {}

    static int crc16(byte[] bytes, int length) {
        int crc = 0xFFFF;
        for (int i = 0; i < length; i++) {
            crc ^= bytes[i] & 0xFF;
            for (int bit = 0; bit < 8; bit++) crc = (crc & 1) != 0 ? (crc >>> 1) ^ 0x8408 : crc >>> 1;
        }
        return crc;
    }

    /** A frame around `contents` (address onwards): Len first, CRC last. */
    static byte[] frame(int... contents) {
        byte[] frame = new byte[contents.length + 3];
        frame[0] = (byte) (contents.length + 2);
        for (int i = 0; i < contents.length; i++) frame[i + 1] = (byte) contents[i];
        int crc = crc16(frame, contents.length + 1);
        frame[contents.length + 1] = (byte) crc;
        frame[contents.length + 2] = (byte) (crc >>> 8);
        return frame;
    }

    static byte[] request(int adr, int cmd, int... data) {
        return frame(cat(adr, cmd, data));
    }

    static byte[] response(int adr, int cmd, int status, int... data) {
        return frame(cat(adr, cmd, status, data));
    }

    static byte[] join(byte[]... frames) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (byte[] f : frames) out.write(f, 0, f.length);
        return out.toByteArray();
    }

    /** Flattens ints and int arrays into one int array. */
    static int[] cat(Object... parts) {
        int length = 0;
        for (Object part : parts) length += part instanceof int[] ? ((int[]) part).length : 1;
        int[] all = new int[length];
        int at = 0;
        for (Object part : parts) {
            if (part instanceof int[]) {
                for (int v : (int[]) part) all[at++] = v;
            } else {
                all[at++] = (Integer) part;
            }
        }
        return all;
    }

    /** `count` values starting at `first`, one apart. */
    static int[] run(int first, int count) {
        int[] values = new int[count];
        for (int i = 0; i < count; i++) values[i] = first + i;
        return values;
    }

    /** `count` copies of `value`. */
    static int[] fill(int value, int count) {
        int[] values = new int[count];
        java.util.Arrays.fill(values, value);
        return values;
    }

    static String hex(byte[] bytes) {
        if (bytes == null) return "null";
        StringBuilder s = new StringBuilder();
        for (byte b : bytes) s.append(String.format("%02X ", b & 0xFF));
        return s.toString().trim();
    }
}
