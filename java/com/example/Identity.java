package com.example;

import org.morvent.Epc;
import org.morvent.Hex;

/**
 * The GS1 identity of an EPC, and the EPC of an identity.
 * Usage: java com.example.Identity [HEX]   (default: 3074257BF7194E4000001A85, an SGTIN-96)
 */
public final class Identity {
    public static void main(String[] args) {
        byte[] epc = Hex.parse(args.length > 0 ? args[0] : "3074257BF7194E4000001A85");
        try {
            Epc id = Epc.decode(epc);
            System.out.println(id.scheme() + ", filter " + id.filter().orElse(0));
            System.out.println("pure identity   " + id.uri());
            System.out.println("element string  " + id.elementString().orElse("(none)"));
            System.out.println("Digital Link    " + id.digitalLink().orElse("(none)"));
            System.out.println("encoded         " + Hex.of(Epc.encode(id.uri(), 3, 0)));
            Epc.encode("urn:epc:id:sgtin:0614141.812345.ab#c");
        } catch (Epc.NotGs1Exception e) {
            System.out.println("not a GS1 EPC: " + e.reason());
            System.exit(1);
        } catch (Epc.EncodingException e) {
            // "the serial has '#' (0x23), which is not a character GS1 allows"
            System.out.println("refused         " + e.getMessage());
        }
    }
}
