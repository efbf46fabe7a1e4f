package org.morvent;

/** Names and meanings of status codes and tag error codes, from libMorvent's one table. */
public final class Status {
    private Status() {}

    public static final int OK = 0x00;
    public static final int INVENTORY_DONE = 0x01;
    public static final int INVENTORY_TIMEOUT = 0x02;
    public static final int INVENTORY_MORE = 0x03;
    public static final int INVENTORY_FULL = 0x04;
    public static final int NO_DATA = 0x0E;
    public static final int COMM_ERROR = 0x30;
    public static final int CRC_ERROR = 0x31;
    public static final int PORT_OPEN = 0x35;
    public static final int INVALID_PORT = 0x37;
    public static final int CMD_MISMATCH = 0xEE;
    public static final int NO_TAG = 0xFB;
    public static final int TAG_ERROR = 0xFC;
    public static final int PARAM_RANGE = 0xFF;

    /** The status's name, e.g. "MORVENT_COMM_ERROR". */
    public static String name(int status) {
        return status >= 0 && status < 256 ? StatusTable.STATUS_NAMES[status] : StatusTable.UNKNOWN_STATUS_NAME;
    }

    /** What the status means, in one line. */
    public static String text(int status) {
        return status >= 0 && status < 256 ? StatusTable.STATUS_TEXTS[status] : StatusTable.UNKNOWN_STATUS_TEXT;
    }

    /** The name of a tag's error code, e.g. "MORVENT_TAG_ERR_PASSWORD". */
    public static String tagErrorName(int code) {
        return code >= 0 && code < 256 ? StatusTable.TAG_ERROR_NAMES[code] : StatusTable.NO_TAG_ERROR_NAME;
    }

    /** What a tag's error code means. */
    public static String tagErrorText(int code) {
        return code >= 0 && code < 256 ? StatusTable.TAG_ERROR_TEXTS[code] : StatusTable.NO_TAG_ERROR_TEXT;
    }

    /** The version of libMorvent this API was built with. */
    public static String version() {
        return StatusTable.VERSION;
    }
}
