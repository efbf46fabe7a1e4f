package org.morvent;

/** What the reader reports about itself: the 11 information bytes as sent, with named accessors. */
public final class ReaderInfo {
    private final int[] raw;

    ReaderInfo(int[] raw) { this.raw = raw.clone(); }

    public int[] raw() { return raw.clone(); }
    public int versionMajor() { return raw[0]; }
    public int versionMinor() { return raw[1]; }
    public int readerType() { return raw[2]; }
    /** Bit 0 ISO 18000-6B, bit 1 Gen2. */
    public int protocols() { return raw[3]; }
    public int power() { return raw[6]; }
    /** In units of 100 ms. */
    public int scanTime() { return raw[7]; }
    public int baudCode() { return raw[8]; }
}
