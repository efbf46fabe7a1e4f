package org.morvent;

import java.util.Arrays;
import java.util.Optional;

/** A Gen2 tag from an inventory: its EPC and, when asked, its TID bytes. */
public final class Tag {
    private final byte[] epc;
    private final byte[] tid;

    public Tag(byte[] epc, byte[] tid) {
        this.epc = epc.clone();
        this.tid = tid.clone();
    }

    public byte[] epc() { return epc.clone(); }
    public byte[] tid() { return tid.clone(); }
    /** The EPC in upper-case hex. */
    public String epcHex() { return Hex.of(epc); }
    /** The GS1 identity of the EPC; empty when the EPC is none ({@link Epc#decode} says why). */
    public Optional<Epc> identity() {
        try {
            return Optional.of(Epc.decode(epc));
        } catch (Epc.NotGs1Exception e) {
            return Optional.empty();
        }
    }

    @Override public String toString() { return epcHex(); }
    @Override public boolean equals(Object other) {
        return other instanceof Tag && Arrays.equals(epc, ((Tag) other).epc) && Arrays.equals(tid, ((Tag) other).tid);
    }
    @Override public int hashCode() { return 31 * Arrays.hashCode(epc) + Arrays.hashCode(tid); }
}
