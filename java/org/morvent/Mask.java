package org.morvent;

/**
 * A Gen2 selection mask: the tags whose bank holds these bits from a bit
 * address on (the EPC starts at bit 0x20 of the EPC bank).
 */
public final class Mask {
    final Bank bank;
    final int bitAddress;
    final byte[] bits;
    final int bitLength;

    public Mask(Bank bank, int bitAddress, byte[] bits, int bitLength) {
        this.bank = bank;
        this.bitAddress = bitAddress;
        this.bits = bits.clone();
        this.bitLength = bitLength;
    }

    /** The tags whose EPC begins with {@code prefix}. */
    public static Mask epcPrefix(byte[] prefix) {
        return new Mask(Bank.EPC, 0x20, prefix, prefix.length * 8);
    }

    /** The mask block of the bridge: bank, two address bytes, bit length, the mask bytes. */
    int[] block(String operation) {
        int bytes = (bitLength + 7) / 8;
        if (bitLength < 0 || bitLength > 255 || bits.length < bytes || bitAddress < 0 || bitAddress > 0xFFFF) {
            throw new MorventException(Status.PARAM_RANGE, operation, -1,
                                       "a mask is at most 255 bits, and needs a byte per 8 of them");
        }
        int[] block = new int[4 + bytes];
        block[0] = bank.code;
        block[1] = bitAddress >> 8;
        block[2] = bitAddress & 0xFF;
        block[3] = bitLength;
        for (int i = 0; i < bytes; ++i) block[4 + i] = bits[i] & 0xFF;
        return block;
    }
}
