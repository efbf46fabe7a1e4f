package org.morvent;

/** The reader's work mode: answering commands, or sending tags by itself. */
public enum WorkMode {
    ANSWER(0), ACTIVE(1), TRIGGER(2);

    public final int code;

    WorkMode(int code) { this.code = code; }
}
