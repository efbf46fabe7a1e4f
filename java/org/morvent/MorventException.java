package org.morvent;

/** A failed command: its status code, name and meaning, and for a tag error the tag's error code. */
public class MorventException extends RuntimeException {
    private static final long serialVersionUID = 1L;
    private final int status;
    private final int tagError;
    private final String operation;
    private final String reason;

    public MorventException(int status, String operation) {
        this(status, operation, -1, "");
    }

    public MorventException(int status, String operation, int tagError, String detail) {
        super(operation + ": " + Status.name(status) + String.format(" (0x%02X): ", status & 0xFF) + Status.text(status)
              + (tagError >= 0 ? "; tag error " + Status.tagErrorName(tagError) + ": " + Status.tagErrorText(tagError) : "")
              + (detail.isEmpty() ? "" : " (" + detail + ")"));
        this.status = status;
        this.tagError = tagError;
        this.operation = operation;
        this.reason = "";
    }

    private MorventException(int status, String operation, String reason, String detail) {
        super(operation + ": " + reason + (detail.isEmpty() ? "" : " (" + detail + ")"));
        this.status = status;
        this.tagError = -1;
        this.operation = operation;
        this.reason = reason;
    }

    /**
     * A failure whose cause is known better than its status tells, such as
     * "no such device /dev/ttyUSB0": the message gives that reason in place of
     * the status's meaning, and {@link #status()} still gives the code.
     */
    public static MorventException because(int status, String operation, String reason, String detail) {
        return new MorventException(status, operation, reason, detail);
    }

    public int status() { return status; }
    public String name() { return Status.name(status); }
    public String meaning() { return Status.text(status); }
    public String operation() { return operation; }
    /** The tag's error code with {@link Status#TAG_ERROR}, else -1. */
    public int tagError() { return tagError; }
    public String tagErrorName() { return Status.tagErrorName(tagError); }
    /** The cause when it is known better than the status tells, else "". */
    public String reason() { return reason; }
}
