package com.example;

import java.util.List;

import org.morvent.Bank;
import org.morvent.Hex;
import org.morvent.MorventException;
import org.morvent.Reader;
import org.morvent.Tag;
import org.morvent.TagRef;

/**
 * Lists the Gen2 tags a network reader sees, then writes two words of the
 * first tag's user memory and reads them back.
 * Usage: java com.example.Tags HOST PORT   (e.g. 127.0.0.1 6000)
 */
public final class Tags {
    public static void main(String[] args) {
        String host = args.length > 0 ? args[0] : "127.0.0.1";
        int port = args.length > 1 ? Integer.parseInt(args[1]) : 6000;
        try (Reader reader = Reader.tcp(host, port)) {
            List<Tag> tags = reader.inventory();
            for (Tag tag : tags) System.out.println("EPC " + tag);
            if (tags.isEmpty()) return;

            TagRef first = TagRef.of(tags.get(0));  // addressed by its EPC; password 0
            reader.write(first, Bank.USER, 0, Hex.parse("CAFEF00D"));
            byte[] words = reader.read(first, Bank.USER, 0, 2);
            System.out.println("user memory of " + tags.get(0) + ": " + Hex.of(words));
        } catch (MorventException error) {
            // e.g. "OpenNetPort: MORVENT_COMM_ERROR (0x30): link failure, ..."
            System.err.println(error.getMessage());
            System.exit(1);
        }
    }
}
