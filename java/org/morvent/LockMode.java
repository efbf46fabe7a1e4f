package org.morvent;

/** How {@link Reader#lock} locks it. */
public enum LockMode {
    OPEN(0), PERMANENTLY_OPEN(1), SECURED(2), PERMANENTLY_LOCKED(3);

    public final int code;

    LockMode(int code) { this.code = code; }
}
