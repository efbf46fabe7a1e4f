"""morvent.epc and Tag.identity are wired to the core's GS1 codec (the codec
itself is tested in C++)."""

import pytest

from morvent import Tag, epc

EXAMPLE = bytes.fromhex("3074257BF7194E4000001A85")


def test_decode_gives_every_part_and_tags_lead_to_it():
    identity = Tag(EXAMPLE).identity
    assert identity == epc.decode(EXAMPLE)
    assert (identity.scheme, identity.filter, identity.uri, identity.tag_uri) == (
        "sgtin-96", 3, "urn:epc:id:sgtin:0614141.812345.6789", "urn:epc:tag:sgtin-96:3.0614141.812345.6789")
    assert identity.element_string == "(01)80614141123458(21)6789"
    assert identity.digital_link == "https://id.gs1.org/01/80614141123458/21/6789"
    assert (identity.gtin, identity.serial, identity.sscc) == ("80614141123458", "6789", None)
    assert Tag(bytes.fromhex("E20034120123456789ABCDEF")).identity is None
    with pytest.raises(epc.NotGs1Error, match="header 0xE2"):
        epc.decode(bytes.fromhex("E20034120123456789ABCDEF"))


def test_encode_round_trips_and_names_what_it_refuses():
    assert epc.encode(epc.decode(EXAMPLE).uri, filter=3) == EXAMPLE
    assert epc.encode("(01)80614141123458(21)6789", filter=3, bits=96, company_prefix_digits=7) == EXAMPLE
    with pytest.raises(epc.EpcEncodingError, match="check digit is 9, it should be 8"):
        epc.encode("(01)80614141123459(21)6789", company_prefix_digits=7)
    with pytest.raises(epc.EpcEncodingError, match="not a character GS1 allows"):
        epc.encode("urn:epc:id:sgtin:0614141.812345.caf\u00e9")
