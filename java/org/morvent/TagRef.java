package org.morvent;

/** Which tag a command addresses: by EPC, by selection mask, or whichever answers first. */
public final class TagRef {
    final byte[] epc;  // null: by mask
    final Mask mask;

    private TagRef(byte[] epc, Mask mask) {
        this.epc = epc;
        this.mask = mask;
    }

    public static TagRef any() { return new TagRef(new byte[0], null); }
    public static TagRef epc(byte[] epc) { return new TagRef(epc.clone(), null); }
    public static TagRef mask(Mask mask) { return new TagRef(null, mask); }
    public static TagRef of(Tag tag) { return epc(tag.epc()); }

    /** The EPC run of the bridge's tag methods: W, then 2W bytes (0xFF and 510 unused elements by mask). */
    int[] epcRun(String operation) {
        if (epc == null) {
            int[] run = new int[1 + 510];
            run[0] = 0xFF;
            return run;
        }
        if (epc.length % 2 != 0 || epc.length > 30) {
            throw new MorventException(Status.PARAM_RANGE, operation, -1,
                                       "an EPC is 0 to 15 whole words (an even number of bytes, at most 30)");
        }
        int[] run = new int[1 + epc.length];
        run[0] = epc.length / 2;
        for (int i = 0; i < epc.length; ++i) run[1 + i] = epc[i] & 0xFF;
        return run;
    }

    /** The mask block: the mask's, or an empty one (bank, address, 0 bits) when addressed by EPC. */
    int[] maskBlock(String operation) {
        return mask != null ? mask.block(operation) : new int[] {0, 0, 0, 0};
    }
}
