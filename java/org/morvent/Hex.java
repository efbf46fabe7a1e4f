package org.morvent;

/** Hex text of bytes and back. */
public final class Hex {
    private Hex() {}

    public static String of(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) text.append(String.format("%02X", b & 0xFF));
        return text.toString();
    }

    /** Bytes of a hex string, spaces skipped; IllegalArgumentException on anything else. */
    public static byte[] parse(String text) {
        String digits = text.replace(" ", "");
        if (digits.length() % 2 != 0) throw new IllegalArgumentException("odd number of hex digits in \"" + text + "\"");
        byte[] bytes = new byte[digits.length() / 2];
        for (int i = 0; i < bytes.length; ++i) {
            int high = Character.digit(digits.charAt(2 * i), 16), low = Character.digit(digits.charAt(2 * i + 1), 16);
            if (high < 0 || low < 0) throw new IllegalArgumentException("not a hex digit in \"" + text + "\"");
            bytes[i] = (byte) (high << 4 | low);
        }
        return bytes;
    }
}
