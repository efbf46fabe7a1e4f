package org.morvent;

import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.MethodType;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * One open link to a reader, over the native methods of the class
 * {@code Tessaly} (Tessaly.jar and libTessaly.so on the class and library
 * paths). Closed by {@link #close()} (try-with-resources); every command
 * throws {@link MorventException} on failure. Statuses that are not failures
 * are results: an empty field gives an empty list. All readers of a process
 * share the core's one link lock.
 */
public final class Reader implements AutoCloseable {
    private static final String[] ARRAY_METHODS = {
        "OpenComPort", "OpenComPortAt", "AutoOpenComPort", "OpenNetPort", "GetReaderInformation", "Inventory_G2", "ReadData_G2",
        "WriteData_G2", "BlockWrite_G2", "WriteEPC_G2", "BlockErase_G2", "KillTag_G2", "Lock_G2",
        "GetSystemParameter", "ReadActiveModeData", "GetTime", "GetGPIOStatus", "TransparentCMD",
        "InventoryMultiple_6B", "ReadData_6B", "WriteData_6B"};
    private static final String[] STATUS_METHODS = {
        "SetRegion", "SetAddress", "SetInventoryScanTime", "SetBaudRate", "SetRfPower", "SetWorkMode", "SetMask",
        "SetInventoryInterval", "SetTIDParameter", "SetGPIO", "SetRelay", "ClearTagBuffer", "SetReal_timeClock"};
    private static final Map<String, MethodHandle> NATIVES = new HashMap<>();
    private static final MethodHandle CLOSE_NET;
    private static final MethodHandle CLOSE_COM;
    private static final MethodHandle SERIAL_DEVICE;
    private static final MethodHandle RESOLVE_HOST;
    // What the bridge's MorventSerialDevice finds at a device.
    private static final int DEVICE_PRESENT = 0;
    private static final int DEVICE_MISSING = 1;
    private static final int DEVICE_DENIED = 2;

    // The bridge's class lives in the unnamed package, which named packages
    // cannot name: its methods are looked up once, here.
    static {
        try {
            Class<?> bridge = Class.forName("Tessaly", true, Reader.class.getClassLoader());
            MethodHandles.Lookup lookup = MethodHandles.publicLookup();
            for (String name : ARRAY_METHODS) {
                MethodType type = name.equals("OpenNetPort")
                    ? MethodType.methodType(int[].class, int.class, int.class, String.class)
                    : MethodType.methodType(int[].class, int[].class);
                NATIVES.put(name, lookup.findStatic(bridge, name, type));
            }
            for (String name : STATUS_METHODS) {
                NATIVES.put(name, lookup.findStatic(bridge, name, MethodType.methodType(int.class, int[].class)));
            }
            CLOSE_NET = lookup.findStatic(bridge, "CloseNetPort", MethodType.methodType(int.class, int.class));
            CLOSE_COM = lookup.findStatic(bridge, "CloseSpecComPort", MethodType.methodType(int.class, int.class));
            SERIAL_DEVICE = lookup.findStatic(bridge, "MorventSerialDevice", MethodType.methodType(int[].class, int.class));
            RESOLVE_HOST = lookup.findStatic(bridge, "MorventResolveHost", MethodType.methodType(int[].class, String.class));
        } catch (ReflectiveOperationException e) {
            throw new ExceptionInInitializerError("the class Tessaly (Tessaly.jar) is not on the class path: " + e);
        }
    }

    private final boolean tcp;
    private final String host;
    private int number;  // TCP port or COM number
    private int baud;
    private int address;
    private int port = -1;

    private Reader(boolean tcp, String host, int number, int baud, int address) {
        this.tcp = tcp;
        this.host = host;
        this.number = number;
        this.baud = baud;
        this.address = address & 0xFF;
    }

    /**
     * Opens a network reader at {@code host}, a host name or dotted IPv4
     * address, looked up again at every opening; commands carry
     * {@code address} (0xFF: whichever reader answers).
     */
    public static Reader tcp(String host, int tcpPort, int address) {
        Reader reader = new Reader(true, host, tcpPort, 57600, address);
        reader.reopen();
        return reader;
    }

    public static Reader tcp(String host, int tcpPort) { return tcp(host, tcpPort, 0xFF); }

    /**
     * Opens serial port COM{@code com} at {@code baud} bit/s; a device that is
     * missing, or not this process's to use, is named in the exception's
     * {@link MorventException#reason()}. An {@code address} other than 0xFF
     * is also the one the opening asks (on a bus every reader answers 0xFF).
     */
    public static Reader serial(int com, int baud, int address) {
        Reader reader = new Reader(false, "", com, baud, address);
        reader.reopen();
        return reader;
    }

    public static Reader serial(int com) { return serial(com, 57600, 0xFF); }

    /** Opens the first of COM1..COM12 where a reader answers. */
    public static Reader autoSerial(int baud) {
        Reader reader = new Reader(false, "", 0, baud, 0xFF);
        int[] r = call("AutoOpenComPort", 0xFF, baudCode(baud));
        if (r[0] != Status.OK) throw new MorventException(r[0], "AutoOpenComPort", -1, "COM1 to COM12");
        reader.number = r[1];
        reader.port = r[3];
        return reader;
    }

    /** Opens the same link again (after close(), or to recover a broken link). */
    public void reopen() {
        close();
        int[] r;
        String ip = tcp ? resolve(host) : "";
        // On a bus every reader answers 0xFF at once: a given address is asked alone.
        String operation = tcp ? "OpenNetPort" : address != 0xFF ? "OpenComPortAt" : "OpenComPort";
        try {
            r = tcp ? (int[]) NATIVES.get(operation).invokeExact(0, number, ip)
                    : (int[]) NATIVES.get(operation).invokeExact(new int[] {number, address, baudCode(baud)});
        } catch (Throwable e) {
            throw rethrow(e);
        }
        if (r == null) throw new MorventException(Status.PARAM_RANGE, operation, -1, "refused by the bridge");
        if (r[0] != Status.OK && !tcp) throw serialFailure(r[0], operation, number);
        String where = host + ":" + number;
        if (r[0] != Status.OK) throw new MorventException(r[0], operation, -1, ip.equals(host) ? where : where + " at " + ip);
        port = r[2];
    }

    /** The dotted IPv4 address of {@code host} for OpenNetPort; an exception naming the host when it has none. */
    private static String resolve(String host) {
        int[] r;
        try {
            r = (int[]) RESOLVE_HOST.invokeExact(host);
        } catch (Throwable e) {
            throw rethrow(e);
        }
        if (r == null) {
            throw MorventException.because(Status.PARAM_RANGE, "MorventResolveHost",
                                           "'" + host + "' is not a host name (ASCII, at most 253 characters)", "");
        }
        if (r[0] == Status.OK) return text(r);
        throw MorventException.because(r[0], "MorventResolveHost", r[0] == Status.COMM_ERROR
            ? "cannot look up host '" + host + "': the name service did not answer"
            : "unknown host '" + host + "' (no IPv4 address)", "");
    }

    /**
     * The exception for a failed opening of COM{@code com}: the core's status
     * says "not openable" for a missing device and a silent reader alike, so
     * the device is looked at to name the cause.
     */
    private static MorventException serialFailure(int status, String operation, int com) {
        String port = "COM" + com;
        int[] r = null;
        if (status != Status.PORT_OPEN) {
            try {
                r = (int[]) SERIAL_DEVICE.invokeExact(com);
            } catch (Throwable e) {
                throw rethrow(e);
            }
        }
        int found = r == null ? Status.INVALID_PORT : r[0];
        if (found == DEVICE_MISSING) return MorventException.because(status, operation, "no such device " + text(r), port);
        if (found == DEVICE_DENIED) {
            return MorventException.because(status, operation, "no permission to read and write " + text(r), port);
        }
        return new MorventException(status, operation, -1, found == DEVICE_PRESENT ? port + " at " + text(r) : port);
    }

    /** The text of a result {status, length n, n bytes}. */
    private static String text(int[] r) {
        byte[] bytes = new byte[Math.min(r[1], r.length - 2)];
        for (int i = 0; i < bytes.length; ++i) bytes[i] = (byte) r[2 + i];
        return new String(bytes, StandardCharsets.UTF_8);
    }

    /** Closes the link; closing twice does nothing. */
    @Override
    public void close() {
        int open = port;
        port = -1;
        if (open < 0) return;
        try {
            int ignored = open >= 1024 ? (int) CLOSE_NET.invokeExact(open) : (int) CLOSE_COM.invokeExact(open);
        } catch (Throwable e) {
            throw rethrow(e);
        }
    }

    public boolean isOpen() { return port >= 0; }
    /** The port index the bridge's methods take (COM number or TCP port), -1 when closed. */
    public int port() { return port; }
    /** The reader address the commands carry. */
    public int address() { return address; }

    // ---- Reader information and inventory ----

    public ReaderInfo info() {
        int[] r = checked("GetReaderInformation", address, openPort());
        int[] raw = new int[11];
        System.arraycopy(r, 1, raw, 0, 11);
        return new ReaderInfo(raw);
    }

    /** Every tag that answers, counted from the records of every frame. */
    public List<Tag> inventory() { return inventory(null, false, 0, 0); }

    /** The tags matching {@code mask} (null: all). */
    public List<Tag> inventory(Mask mask) { return inventory(mask, false, 0, 0); }

    /** With {@code tid}, {@code tidWords} TID words from word {@code tidAddress} land in {@link Tag#tid()}. */
    public List<Tag> inventory(Mask mask, boolean tid, int tidAddress, int tidWords) {
        int[] block = mask != null ? mask.block("Inventory_G2") : new int[] {0, 0, 0, 0};
        int[] r = call("Inventory_G2", cat(new int[] {address}, block,
                                           new int[] {mask != null ? 1 : 0, tidAddress, tidWords, tid ? 1 : 0, openPort()}));
        int status = r[0];
        if (!(status >= Status.INVENTORY_DONE && status <= Status.INVENTORY_FULL) && status != Status.NO_TAG) {
            throw new MorventException(status, "Inventory_G2");
        }
        List<Tag> tags = new ArrayList<>();
        int end = 4 + Math.min(r[3], r.length - 4);
        for (int at = 4; at < end;) {
            byte[] epc = field(r, at, end);
            at += 1 + epc.length;
            byte[] tidBytes = new byte[0];
            if (tid) {
                tidBytes = field(r, at, end);
                at += 1 + tidBytes.length;
            }
            tags.add(new Tag(epc, tidBytes));
        }
        return tags;
    }

    // ---- Gen2 memory and protection ----

    public byte[] read(TagRef tag, Bank bank, int wordPointer, int wordCount, byte[] password) {
        int[] r = tagCall("ReadData_G2", cat(new int[] {address}, tag.epcRun("ReadData_G2"),
                                             new int[] {bank.code, wordPointer, wordCount}, bytes(password, 4),
                                             tag.maskBlock("ReadData_G2"), new int[] {openPort()}));
        byte[] data = new byte[r.length - 1];
        for (int i = 0; i < data.length; ++i) data[i] = (byte) r[1 + i];
        return data;
    }

    public byte[] read(TagRef tag, Bank bank, int wordPointer, int wordCount) {
        return read(tag, bank, wordPointer, wordCount, new byte[4]);
    }

    /** Writes whole words (an even number of bytes) from {@code wordPointer} on. */
    public void write(TagRef tag, Bank bank, int wordPointer, byte[] data, byte[] password) {
        if (data.length == 0 || data.length % 2 != 0 || data.length > 510) {
            throw new MorventException(Status.PARAM_RANGE, "WriteData_G2", -1, "write 1 to 255 whole words");
        }
        tagCall("WriteData_G2", cat(new int[] {address}, tag.epcRun("WriteData_G2"),
                                    new int[] {bank.code, wordPointer, data.length / 2}, bytes(data, data.length),
                                    bytes(password, 4), tag.maskBlock("WriteData_G2"), new int[] {openPort()}));
    }

    public void write(TagRef tag, Bank bank, int wordPointer, byte[] data) {
        write(tag, bank, wordPointer, data, new byte[4]);
    }

    public void erase(TagRef tag, Bank bank, int wordPointer, int wordCount, byte[] password) {
        tagCall("BlockErase_G2", cat(new int[] {address}, tag.epcRun("BlockErase_G2"), bytes(password, 4),
                                     new int[] {bank.code, wordPointer, wordCount}, tag.maskBlock("BlockErase_G2"),
                                     new int[] {openPort()}));
    }

    /** Gives the tag in the field a new EPC (whole words, at most 15). */
    public void writeEpc(byte[] epc, byte[] password) {
        tagCall("WriteEPC_G2", cat(new int[] {address}, TagRef.epc(epc).epcRun("WriteEPC_G2"), bytes(password, 4),
                                   new int[] {openPort()}));
    }

    public void lock(TagRef tag, LockArea area, LockMode mode, byte[] password) {
        tagCall("Lock_G2", cat(new int[] {address}, tag.epcRun("Lock_G2"), new int[] {area.code, mode.code},
                               bytes(password, 4), tag.maskBlock("Lock_G2"), new int[] {openPort()}));
    }

    public void kill(TagRef tag, byte[] killPassword) {
        tagCall("KillTag_G2", cat(new int[] {address}, tag.epcRun("KillTag_G2"), bytes(killPassword, 4),
                                  tag.maskBlock("KillTag_G2"), new int[] {openPort()}));
    }

    // ---- Settings ----

    public void setPower(int power) { status("SetRfPower", address, power, openPort()); }
    public void setScanTime(int hundredsOfMs) { status("SetInventoryScanTime", address, hundredsOfMs, openPort()); }
    public void setRegion(int region1, int region2) { status("SetRegion", address, region1, region2, openPort()); }
    public void setWorkMode(WorkMode mode) { status("SetWorkMode", address, mode.code, openPort()); }
    public void setInventoryInterval(int hundredsOfMs) { status("SetInventoryInterval", address, hundredsOfMs, openPort()); }
    public void setTidParameters(int wordAddress, int wordCount) { status("SetTIDParameter", address, wordAddress, wordCount, openPort()); }
    public void setGpio(int outputs) { status("SetGPIO", address, outputs, openPort()); }
    public void setRelay(int relay) { status("SetRelay", address, relay, openPort()); }
    public void clearTagBuffer() { status("ClearTagBuffer", address, openPort()); }

    /** Gives the reader a new address; a Reader that addressed the old one follows it. */
    public void setAddress(int newAddress) {
        status("SetAddress", address, newAddress, openPort());
        if (address != 0xFF) address = newAddress & 0xFF;
    }

    /** Changes the reader's line speed; a serial Reader follows it. */
    public void setBaudRate(int bitsPerSecond) {
        status("SetBaudRate", address, baudCode(bitsPerSecond), openPort());
        if (!tcp) baud = bitsPerSecond;
    }

    /** The selection mask of the active mode. */
    public void setMask(Mask mask) {
        int[] in = cat(new int[] {address}, mask.block("SetMask"), new int[] {openPort()});
        int s = invokeStatus("SetMask", in);
        if (s != Status.OK) throw new MorventException(s, "SetMask");
    }

    /** The work mode byte the reader reports (system parameter 1). */
    public int workMode() { return checked("GetSystemParameter", address, openPort())[1]; }

    /** The bytes the reader sent by itself (frames back to back); empty when none came. */
    public byte[] readActiveModeData() {
        int[] r = call("ReadActiveModeData", 0, openPort());
        if (r[0] == Status.NO_DATA) return new byte[0];
        if (r[0] != Status.OK) throw new MorventException(r[0], "ReadActiveModeData");
        byte[] data = new byte[Math.min(r[1], r.length - 2)];
        for (int i = 0; i < data.length; ++i) data[i] = (byte) r[2 + i];
        return data;
    }

    /** Passes {@code data} (at most 250 bytes) to the reader after {@code parameter}; the answer's data. */
    public byte[] transparent(int parameter, byte[] data) {
        if (data.length > 250) throw new MorventException(Status.PARAM_RANGE, "TransparentCMD", -1, "at most 250 bytes");
        int[] r = checked("TransparentCMD", cat(new int[] {address, parameter, data.length}, bytes(data, data.length),
                                                new int[] {openPort()}));
        byte[] answer = new byte[r.length - 1];
        for (int i = 0; i < answer.length; ++i) answer[i] = (byte) r[1 + i];
        return answer;
    }

    // ---- Helpers ----

    private int openPort() {
        if (port < 0) throw new MorventException(Status.INVALID_PORT, "Reader", -1, "the reader is closed");
        return port;
    }

    static int baudCode(int bitsPerSecond) {
        switch (bitsPerSecond) {
            case 9600: return 0;
            case 19200: return 1;
            case 38400: return 2;
            case 57600: return 5;
            case 115200: return 6;
            default:
                throw new MorventException(Status.PARAM_RANGE, "baud rate", -1,
                                           bitsPerSecond + " bit/s; use 9600, 19200, 38400, 57600 or 115200");
        }
    }

    private static byte[] field(int[] r, int at, int end) {
        if (at >= end || at + 1 + r[at] > end) {
            throw new MorventException(Status.COMM_ERROR, "Inventory_G2", -1, "a tag record runs past the end of the answer");
        }
        byte[] bytes = new byte[r[at]];
        for (int i = 0; i < bytes.length; ++i) bytes[i] = (byte) r[at + 1 + i];
        return bytes;
    }

    private static int[] bytes(byte[] data, int length) {
        if (data.length != length) {
            throw new MorventException(Status.PARAM_RANGE, "Reader", -1, "expected " + length + " bytes, got " + data.length);
        }
        int[] values = new int[length];
        for (int i = 0; i < length; ++i) values[i] = data[i] & 0xFF;
        return values;
    }

    private static int[] cat(int[]... parts) {
        int size = 0;
        for (int[] part : parts) size += part.length;
        int[] all = new int[size];
        int at = 0;
        for (int[] part : parts) {
            System.arraycopy(part, 0, all, at, part.length);
            at += part.length;
        }
        return all;
    }

    private static int[] call(String name, int... in) {
        int[] r;
        try {
            r = (int[]) NATIVES.get(name).invokeExact(in);
        } catch (Throwable e) {
            throw rethrow(e);
        }
        if (r == null) throw new MorventException(Status.PARAM_RANGE, name, -1, "refused by the bridge");
        return r;
    }

    private static int[] checked(String name, int... in) {
        int[] r = call(name, in);
        if (r[0] != Status.OK) throw new MorventException(r[0], name);
        return r;
    }

    // Tag methods answer {status, error code} on failure.
    private static int[] tagCall(String name, int[] in) {
        int[] r = call(name, in);
        if (r[0] != Status.OK) {
            throw new MorventException(r[0], name, r[0] == Status.TAG_ERROR && r.length > 1 ? r[1] : -1, "");
        }
        return r;
    }

    private static int invokeStatus(String name, int[] in) {
        try {
            return (int) NATIVES.get(name).invokeExact(in);
        } catch (Throwable e) {
            throw rethrow(e);
        }
    }

    private static void status(String name, int... in) {
        int s = invokeStatus(name, in);
        if (s == -1) throw new MorventException(Status.PARAM_RANGE, name, -1, "refused by the bridge");
        if (s != Status.OK) throw new MorventException(s, name);
    }

    private static RuntimeException rethrow(Throwable e) {
        if (e instanceof RuntimeException) return (RuntimeException) e;
        if (e instanceof Error) throw (Error) e;
        return new IllegalStateException(e);
    }
}
