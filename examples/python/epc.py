"""The GS1 identity of an EPC, and the EPC of an identity.
Usage: python3 epc.py [HEX]   (default: 3074257BF7194E4000001A85, an SGTIN-96)"""
import sys

from morvent import epc

data = bytes.fromhex(sys.argv[1] if len(sys.argv) > 1 else "3074257BF7194E4000001A85")
try:
    identity = epc.decode(data)
except epc.NotGs1Error as error:
    sys.exit(str(error))  # "not a GS1 EPC: header 0xE2 is not the header of a GS1 EPC scheme"
print(identity.scheme, "filter", identity.filter)
print("pure identity  ", identity.uri)
print("element string ", identity.element_string)
print("Digital Link   ", identity.digital_link)
print("GTIN", identity.gtin, "serial", identity.serial)

print("encoded        ", epc.encode(identity.uri, filter=3).hex().upper())
try:
    epc.encode("(01)80614141123459(21)6789", company_prefix_digits=7)
except epc.EpcEncodingError as error:
    print("refused        ", error)  # "GTIN 80614141123459: its check digit is 9, it should be 8"
