// morvent/epc.hpp - GS1 EPC identities in C++ (C++17, header-only; part of
// the C++ API, included by morvent.hpp).
//
// decodeEpc() takes EPC bytes apart into their GS1 identity; bytes that are
// not a GS1 EPC give an Epc that tests false and tells why:
//
//     morvent::Epc id = morvent::decodeEpc(morvent::fromHex("3074257BF7194E4000001A85"));
//     if (id) std::cout << id.uri() << "\n";       // urn:epc:id:sgtin:0614141.812345.6789
//     else    std::cout << id.reason() << "\n";
//
// encodeEpc() goes the other way and throws morvent::EpcError, naming the
// rule that failed, for an identity that cannot be encoded.
#ifndef MORVENT_EPC_HPP
#define MORVENT_EPC_HPP

#include <climits>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "../morvent.h"

namespace morvent {

// An identity that cannot be encoded: what() names the rule it breaks.
class EpcError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The GS1 identity of an EPC, or why the EPC is none. Parts a scheme does
// not have (a GID's element string, an SSCC's serial) are empty strings.
class Epc {
public:
    // Decodes `size` bytes: an EPC as an inventory gives it.
    static Epc decode(const std::uint8_t* epc, std::size_t size) {
        Epc id;
        id.bytes_.assign(epc, epc + size);
        const int bytes = size > INT_MAX ? INT_MAX : static_cast<int>(size);
        char text[MORVENT_EPC_TEXT_ROOM];
        const int status = MorventEpcDecode(epc, bytes, MORVENT_EPC_PART_SCHEME, text, sizeof text);
        if (status != MORVENT_OK) {
            id.reason_ = status == MORVENT_EPC_NOT_GS1 ? text : "not decodable";
            return id;
        }
        std::string* parts[] = {&id.scheme_,        nullptr,          &id.uri_,     &id.tagUri_,
                                &id.elementString_, &id.digitalLink_, &id.keyName_, &id.key_,
                                &id.companyPrefix_, &id.reference_,   &id.serial_};
        for (int part = MORVENT_EPC_PART_SCHEME; part <= MORVENT_EPC_PART_SERIAL; ++part) {
            if (MorventEpcDecode(epc, bytes, part, text, sizeof text) != MORVENT_OK) continue;
            if (part == MORVENT_EPC_PART_FILTER) id.filter_ = text[0] - '0';
            else *parts[part] = text;
        }
        return id;
    }

    // True when the bytes are a GS1 EPC.
    bool isGs1() const noexcept { return !scheme_.empty(); }
    explicit operator bool() const noexcept { return isGs1(); }
    // Why the bytes are not a GS1 EPC; empty when they are.
    const std::string& reason() const noexcept { return reason_; }
    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }

    const std::string& scheme() const noexcept { return scheme_; }  // "sgtin-96"
    std::optional<int> filter() const noexcept { return filter_; }  // none for gid-96
    const std::string& uri() const noexcept { return uri_; }        // "urn:epc:id:sgtin:0614141.812345.6789"
    const std::string& tagUri() const noexcept { return tagUri_; }  // "urn:epc:tag:sgtin-96:3.0614141.812345.6789"
    const std::string& elementString() const noexcept { return elementString_; }  // "(01)80614141123458(21)6789"
    const std::string& digitalLink() const noexcept { return digitalLink_; }      // "https://id.gs1.org/01/..."
    const std::string& keyName() const noexcept { return keyName_; }              // "GTIN", "SSCC", "GLN", ...
    const std::string& key() const noexcept { return key_; }                      // "80614141123458"
    const std::string& companyPrefix() const noexcept { return companyPrefix_; }  // "0614141"
    const std::string& reference() const noexcept { return reference_; }          // "812345"
    const std::string& serial() const noexcept { return serial_; }                // "6789"
    // The GTIN, when the identity is an SGTIN.
    std::string gtin() const { return keyName_ == "GTIN" ? key_ : std::string(); }

private:
    std::vector<std::uint8_t> bytes_;
    std::string reason_, scheme_, uri_, tagUri_, elementString_, digitalLink_, keyName_, key_, companyPrefix_,
        reference_, serial_;
    std::optional<int> filter_;
};

inline Epc decodeEpc(const std::vector<std::uint8_t>& epc) { return Epc::decode(epc.data(), epc.size()); }

// What an encoding takes beside the identity.
struct EpcOptions {
    int filter = -1;              // 0..7; -1: a tag URI's filter, else 0
    int bits = 0;                 // 96, 198, ...; 0: a tag URI's, else the shortest scheme that holds it
    int companyPrefixDigits = 0;  // 6..12: where an element string's company prefix ends
};

// The EPC of a pure-identity URI, a tag URI or an element string, in whole
// words. Throws EpcError naming the rule the identity breaks.
inline std::vector<std::uint8_t> encodeEpc(const std::string& identity, const EpcOptions& options = {}) {
    if (identity.find('\0') != std::string::npos) throw EpcError("the identity holds a zero byte");
    unsigned char epc[MORVENT_EPC_MAX_BYTES];
    int size = 0;
    char message[MORVENT_EPC_TEXT_ROOM];
    const int status = MorventEpcEncode(identity.c_str(), options.filter, options.bits, options.companyPrefixDigits,
                                        epc, &size, message, sizeof message);
    if (status != MORVENT_OK) throw EpcError(status == MORVENT_EPC_REFUSED ? message : "not encodable");
    return std::vector<std::uint8_t>(epc, epc + size);
}

}  // namespace morvent

#endif  // MORVENT_EPC_HPP
