package org.morvent;

/** Gen2 memory banks. */
public enum Bank {
    RESERVED(0), EPC(1), TID(2), USER(3);

    public final int code;

    Bank(int code) { this.code = code; }
}
