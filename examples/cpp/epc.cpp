// The GS1 identity of an EPC, and the EPC of an identity.
// Usage: epc [HEX]   (default: 3074257BF7194E4000001A85, an SGTIN-96)
#include <iostream>

#include <morvent.hpp>

int main(int argc, char** argv) {
    const morvent::Tag tag{morvent::fromHex(argc > 1 ? argv[1] : "3074257BF7194E4000001A85"), {}};
    // An Epc tests false, with the reason, when the EPC is no GS1 EPC.
    const morvent::Epc id = tag.identity();
    if (!id) {
        std::cout << "not a GS1 EPC: " << id.reason() << "\n";
        return 1;
    }
    std::cout << id.scheme() << ", filter " << id.filter().value_or(0) << "\n"
              << "pure identity   " << id.uri() << "\n"
              << "element string  " << id.elementString() << "\n"
              << "Digital Link    " << id.digitalLink() << "\n"
              << id.keyName() << " " << id.key() << ", serial " << id.serial() << "\n";
    try {
        morvent::EpcOptions options;
        options.filter = 3;
        options.companyPrefixDigits = 7;  // an element string does not show it
        std::cout << "encoded         " << morvent::hex(morvent::encodeEpc(id.elementString(), options)) << "\n";
        morvent::encodeEpc("urn:epc:id:sgtin:0614141.812345.0123", {3, 96, 0});
    } catch (const morvent::EpcError& error) {
        // "the serial "0123" has a leading zero, which sgtin-96 cannot keep (sgtin-198 can)"
        std::cout << "refused         " << error.what() << "\n";
    }
    return 0;
}
