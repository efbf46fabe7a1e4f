"""Lists the Gen2 tags a network reader sees, then writes two words of the
first tag's user memory and reads them back.
Usage: python3 tags.py HOST PORT   (e.g. python3 tags.py 127.0.0.1 6000)"""
import sys

import morvent

host = sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1"
port = int(sys.argv[2]) if len(sys.argv) > 2 else 6000

try:
    with morvent.Reader.tcp(host, port) as reader:
        tags = reader.inventory()
        for tag in tags:
            print("EPC", tag)
        if tags:
            # A Tag addresses itself by its EPC; the password defaults to 0.
            reader.write(tags[0], morvent.Bank.USER, 0, bytes.fromhex("CAFEF00D"))
            words = reader.read(tags[0], morvent.Bank.USER, 0, 2)
            print(f"user memory of {tags[0]}: {words.hex().upper()}")
except morvent.MorventError as error:
    # e.g. "OpenNetPort: MORVENT_COMM_ERROR (0x30): link failure, ..."
    sys.exit(str(error))
