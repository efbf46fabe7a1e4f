package org.morvent;

import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.MethodType;
import java.util.Arrays;
import java.util.Optional;
import java.util.OptionalInt;

/**
 * The GS1 identity of an EPC, decoded by the core through the bridge, and
 * encoding the other way:
 * <pre>
 * Epc id = Epc.decode(Hex.parse("3074257BF7194E4000001A85"));
 * id.uri();            // urn:epc:id:sgtin:0614141.812345.6789
 * id.elementString();  // Optional[(01)80614141123458(21)6789]
 * byte[] epc = Epc.encode("urn:epc:id:sgtin:0614141.812345.6789", 3, 96);
 * </pre>
 * Parts a scheme does not have (a GID's element string, an SSCC's serial)
 * are empty.
 */
public final class Epc {
    /** Bytes that are not a GS1 EPC; {@link #reason()} says why. */
    public static final class NotGs1Exception extends IllegalArgumentException {
        private static final long serialVersionUID = 1L;
        private final String reason;

        NotGs1Exception(String reason) {
            super("not a GS1 EPC: " + reason);
            this.reason = reason;
        }

        public String reason() { return reason; }
    }

    /** An identity that cannot be encoded; the message names the rule it breaks. */
    public static final class EncodingException extends IllegalArgumentException {
        private static final long serialVersionUID = 1L;

        EncodingException(String message) { super(message); }
    }

    // The core's results (morvent.h) and parts, in the order of MORVENT_EPC_PART_*.
    private static final int OK = 0, NOT_GS1 = 0x100, NO_PART = 0x101, REFUSED = 0x103;
    private static final int SCHEME = 0, FILTER = 1, URI = 2, TAG_URI = 3, ELEMENT_STRING = 4, DIGITAL_LINK = 5,
                             KEY_NAME = 6, KEY = 7, COMPANY_PREFIX = 8, REFERENCE = 9, SERIAL = 10, PARTS = 11;
    private static final int MAX_BYTES = 255;  // what the bridge takes
    private static final MethodHandle DECODE;
    private static final MethodHandle ENCODE;

    static {
        try {
            Class<?> bridge = Class.forName("Tessaly", true, Epc.class.getClassLoader());
            MethodHandles.Lookup lookup = MethodHandles.publicLookup();
            DECODE = lookup.findStatic(bridge, "MorventEpcDecode", MethodType.methodType(int[].class, int[].class));
            ENCODE = lookup.findStatic(bridge, "MorventEpcEncode",
                                       MethodType.methodType(int[].class, int[].class, String.class));
        } catch (ReflectiveOperationException e) {
            throw new ExceptionInInitializerError("the class Tessaly (Tessaly.jar) is not on the class path: " + e);
        }
    }

    private final byte[] epc;
    private final String[] parts;  // null where the scheme has no such part

    private Epc(byte[] epc, String[] parts) {
        this.epc = epc;
        this.parts = parts;
    }

    /** Decodes an EPC as an inventory gives it; throws {@link NotGs1Exception}. */
    public static Epc decode(byte[] epc) {
        if (epc.length > MAX_BYTES) throw new NotGs1Exception(epc.length + " bytes are more than any EPC holds");
        int[] in = new int[2 + epc.length];
        in[1] = epc.length;
        for (int i = 0; i < epc.length; i++) in[2 + i] = epc[i] & 0xFF;
        String[] parts = new String[PARTS];
        for (int part = 0; part < PARTS; part++) {
            in[0] = part;
            int[] r = invoke(DECODE, in, null);
            if (r[0] == NOT_GS1) throw new NotGs1Exception(text(r, 1));
            if (r[0] != OK && r[0] != NO_PART) throw new IllegalStateException("MorventEpcDecode gave " + r[0]);
            parts[part] = r[0] == OK ? text(r, 1) : null;
        }
        return new Epc(epc.clone(), parts);
    }

    /** Encodes a pure-identity URI or a tag URI with the tag URI's filter (else 0) and length (else the shortest). */
    public static byte[] encode(String identity) { return encode(identity, -1, 0, 0); }

    /** Encodes with a filter (0..7, -1: the tag URI's, else 0) and a length in bits (0: the tag URI's, else the shortest). */
    public static byte[] encode(String identity, int filter, int bits) { return encode(identity, filter, bits, 0); }

    /**
     * Encodes a pure-identity URI, a tag URI or an element string (whose
     * company prefix has {@code companyPrefixDigits} digits, 6..12). Throws
     * {@link EncodingException} naming the rule the identity breaks.
     */
    public static byte[] encode(String identity, int filter, int bits, int companyPrefixDigits) {
        for (int i = 0; i < identity.length(); i++) {
            char c = identity.charAt(i);
            if (c == 0 || c > 0x7F) {
                throw new EncodingException(String.format("U+%04X at position %d is not a character GS1 allows", (int) c, i + 1));
            }
        }
        int[] r = invoke(ENCODE, new int[] {filter, bits, companyPrefixDigits}, identity);
        int n = r[1];
        if (r[0] == REFUSED) throw new EncodingException(text(r, 2 + n));
        if (r[0] != OK) throw new IllegalStateException("MorventEpcEncode gave " + r[0]);
        byte[] epc = new byte[n];
        for (int i = 0; i < n; i++) epc[i] = (byte) r[2 + i];
        return epc;
    }

    public byte[] epc() { return epc.clone(); }
    /** The scheme as tag URIs name it: "sgtin-96". */
    public String scheme() { return parts[SCHEME]; }
    /** The filter value 0..7; none for a GID. */
    public OptionalInt filter() { return parts[FILTER] == null ? OptionalInt.empty() : OptionalInt.of(Integer.parseInt(parts[FILTER])); }
    /** The pure-identity URI: "urn:epc:id:sgtin:0614141.812345.6789". */
    public String uri() { return parts[URI]; }
    /** "urn:epc:tag:sgtin-96:3.0614141.812345.6789". */
    public String tagUri() { return parts[TAG_URI]; }
    /** "(01)80614141123458(21)6789". */
    public Optional<String> elementString() { return Optional.ofNullable(parts[ELEMENT_STRING]); }
    /** "https://id.gs1.org/01/80614141123458/21/6789". */
    public Optional<String> digitalLink() { return Optional.ofNullable(parts[DIGITAL_LINK]); }
    /** "GTIN", "SSCC", "GLN", "GRAI", "GIAI", "GDTI", "GSRN" or "GSRNP". */
    public Optional<String> keyName() { return Optional.ofNullable(parts[KEY_NAME]); }
    /** The key with its check digit: "80614141123458". */
    public Optional<String> key() { return Optional.ofNullable(parts[KEY]); }
    /** The GTIN of an SGTIN. */
    public Optional<String> gtin() { return "GTIN".equals(parts[KEY_NAME]) ? key() : Optional.empty(); }
    /** "0614141" (a GID: its general manager number). */
    public String companyPrefix() { return parts[COMPANY_PREFIX]; }
    /** "812345": the item reference, serial reference, location reference, ... */
    public String reference() { return parts[REFERENCE]; }
    /** "6789" (an SGLN: its extension). */
    public Optional<String> serial() { return Optional.ofNullable(parts[SERIAL]); }

    @Override public String toString() { return uri(); }
    @Override public boolean equals(Object other) { return other instanceof Epc && Arrays.equals(epc, ((Epc) other).epc); }
    @Override public int hashCode() { return Arrays.hashCode(epc); }

    // A text as the bridge gives it: its length at r[at], then one character per element.
    private static String text(int[] r, int at) {
        StringBuilder text = new StringBuilder();
        for (int i = 0; i < r[at]; i++) text.append((char) r[at + 1 + i]);
        return text.toString();
    }

    private static int[] invoke(MethodHandle method, int[] in, String identity) {
        int[] r;
        try {
            r = identity == null ? (int[]) method.invokeExact(in) : (int[]) method.invokeExact(in, identity);
        } catch (RuntimeException | Error e) {
            throw e;
        } catch (Throwable e) {
            throw new IllegalStateException(e);
        }
        if (r == null) throw new IllegalStateException("the bridge could not reach libMorvent's GS1 functions");
        return r;
    }
}
