package org.morvent;

/** What {@link Reader#lock} locks. */
public enum LockArea {
    KILL_PASSWORD(0), ACCESS_PASSWORD(1), EPC(2), TID(3), USER(4);

    public final int code;

    LockArea(int code) { this.code = code; }
}
