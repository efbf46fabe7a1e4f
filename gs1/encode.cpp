// From a pure-identity URI, a tag URI or an element string to EPC bytes.
// Each text is first cut into its components (company prefix, reference,
// serial), then the components are checked against one scheme's fields and
// packed; every refusal says which rule the identity breaks.
#include <cstring>

#include "gs1/codec.h"

namespace mv::gs1 {
namespace {

constexpr std::size_t kLongest = 256;  // no identity's text is near this long

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool startsWith(const char* text, std::size_t length, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (length < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != prefix[i]) return false;
    }
    return true;
}

// A component's text: in the input, or in a buffer of Components.
struct Component {
    const char* text = "";
    std::size_t length = 0;
};

// An identity cut into its components, before a scheme is chosen.
struct Components {
    Key key = Key::Gtin;
    const Scheme* tagScheme = nullptr;  // the scheme a tag URI names
    int tagFilter = -1;                 // the filter a tag URI gives
    bool escaped = false;               // URI text: String fields may hold %XX escapes
    Component prefix, reference, serial;
    char prefixBuffer[16], referenceBuffer[16];  // an element string's digits, regrouped
};

// ---- Checking components against a scheme's fields -------------------------

// The other scheme of the same key, for a hint in a refusal ("sgtin-198 can").
const Scheme* otherScheme(const Scheme& scheme) {
    std::size_t count = 0;
    const Scheme* first = schemesOfKey(scheme.key, &count);
    for (std::size_t i = 0; i < count; ++i)
        if (&first[i] != &scheme) return &first[i];
    return nullptr;
}

void hint(Text& m, const Scheme& scheme, const char* what) {
    const Scheme* other = otherScheme(scheme);
    if (other != nullptr) m.add(" (").add(other->name).add(' ').add(what).add(')');
}

// "the serial '12A'": how a refusal names the field it refuses.
Text& field(Text& m, const char* name, const Component& c) {
    return m.add("the ").add(name).add(' ').quoted(c.text, c.length);
}

bool checkDigits(const char* name, const Component& c, Text& m) {
    if (c.length == 0) {
        m.add("the ").add(name).add(" is empty");
        return false;
    }
    for (std::size_t i = 0; i < c.length; ++i) {
        if (!isDigit(c.text[i])) {
            field(m, name, c).add(" is not all digits");
            return false;
        }
    }
    return true;
}

bool integerField(const char* name, const Component& c, unsigned bits, const Scheme& scheme, std::uint64_t& value,
                  Text& m) {
    const bool stringElsewhere = otherScheme(scheme) != nullptr;
    if (c.length == 0) {
        m.add("the ").add(name).add(" is empty");
        return false;
    }
    for (std::size_t i = 0; i < c.length; ++i) {
        if (!isDigit(c.text[i])) {
            field(m, name, c).add(" is not a number, which ").add(scheme.name).add(" needs");
            if (stringElsewhere) hint(m, scheme, "takes characters");
            return false;
        }
    }
    if (c.length > 1 && c.text[0] == '0') {
        field(m, name, c).add(" has a leading zero, which ").add(scheme.name).add(" cannot keep");
        if (stringElsewhere) hint(m, scheme, "can");
        return false;
    }
    const std::uint64_t most = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    value = 0;
    bool over = c.length > 20;
    for (std::size_t i = 0; i < c.length && !over; ++i) {
        const auto d = static_cast<std::uint64_t>(c.text[i] - '0');
        over = value > (most - d) / 10;
        value = value * 10 + d;
    }
    if (over) {
        m.add("the ")
            .add(name)
            .add(' ')
            .add(c.text, c.length < 40 ? c.length : 40)
            .add(" is more than ")
            .add(scheme.name)
            .add(" holds (")
            .number(most)
            .add(" at most");
        if (stringElsewhere) m.add("; ").add(otherScheme(scheme)->name).add(" takes it as characters");
        m.add(')');
        return false;
    }
    return true;
}

bool hexValue(char c, unsigned& value) {
    if (isDigit(c)) value = static_cast<unsigned>(c - '0');
    else if (c >= 'A' && c <= 'F') value = static_cast<unsigned>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f') value = static_cast<unsigned>(c - 'a' + 10);
    else return false;
    return true;
}

bool stringField(const char* name, const Component& c, bool escaped, unsigned most, const Scheme& scheme, Chars& out,
                 Text& m) {
    out.length = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < c.length; ++i, ++count) {
        auto ch = static_cast<unsigned char>(c.text[i]);
        unsigned high = 0, low = 0;
        if (escaped && ch == '%') {
            if (i + 2 >= c.length || !hexValue(c.text[i + 1], high) || !hexValue(c.text[i + 2], low)) {
                m.add("the ").add(name).add(" has a '%' that is not followed by two hex digits");
                return false;
            }
            ch = static_cast<unsigned char>(high << 4 | low);
            i += 2;
        }
        if (!allowedCharacter(ch)) {
            m.add("the ").add(name).add(" has ");
            describeCharacter(m, ch);
            m.add(", which is not a character GS1 allows");
            return false;
        }
        if (count < most) out.text[out.length++] = static_cast<char>(ch);
    }
    if (count == 0) {
        m.add("the ").add(name).add(" is empty");
        return false;
    }
    if (count > most) {
        m.add("the ")
            .add(name)
            .add(" has ")
            .number(count)
            .add(" characters; ")
            .add(scheme.name)
            .add(" holds at most ")
            .number(most);
        return false;
    }
    return true;
}

// Checks the components against `scheme` and fills `id`.
bool fill(const Components& c, const Scheme& scheme, Identity& id, Text& m) {
    id = Identity{};
    id.scheme = &scheme;
    const KeyInfo& key = keyInfo(scheme.key);
    // The company prefix's digits choose the partition.
    if (scheme.prefix == Field::Digits) {
        if (!checkDigits("company prefix", c.prefix, m)) return false;
        id.partition = kPartitions;
        for (unsigned p = 0; p < kPartitions; ++p)
            if (scheme.partitions[p].prefixDigits == c.prefix.length) id.partition = p;
        if (id.partition == kPartitions) {
            m.add("the company prefix ")
                .quoted(c.prefix.text, c.prefix.length)
                .add(" has ")
                .number(c.prefix.length)
                .add(" digits; a company prefix has 6 to 12");
            return false;
        }
        id.prefix = 0;
        for (std::size_t i = 0; i < c.prefix.length; ++i) id.prefix = id.prefix * 10 + (c.prefix.text[i] - '0');
    } else if (!integerField(prefixName(key), c.prefix, id.row().prefixBits, scheme, id.prefix, m)) {
        return false;
    }
    const Partition& row = id.row();
    switch (scheme.reference) {
    case Field::Digits: {
        bool digitsOnly = true;
        for (std::size_t i = 0; i < c.reference.length; ++i) digitsOnly = digitsOnly && isDigit(c.reference.text[i]);
        if (!digitsOnly) {
            m.add("the ")
                .add(key.referenceName)
                .add(' ')
                .quoted(c.reference.text, c.reference.length)
                .add(" is not all digits");
            return false;
        }
        if (c.reference.length != row.referenceDigits) {
            m.add("the company prefix and the ")
                .add(key.referenceName)
                .add(" have ")
                .number(key.keyDigits)
                .add(" digits together (")
                .add(key.name)
                .add("); these have ")
                .number(c.prefix.length + c.reference.length)
                .add(" (")
                .number(c.prefix.length)
                .add(" and ")
                .number(c.reference.length)
                .add("): the company prefix does not match the partition the digits need");
            return false;
        }
        id.reference = 0;
        for (std::size_t i = 0; i < c.reference.length; ++i)
            id.reference = id.reference * 10 + (c.reference.text[i] - '0');
        break;
    }
    case Field::Integer:
        if (!integerField(key.referenceName, c.reference, row.referenceBits, scheme, id.reference, m)) return false;
        break;
    case Field::String:
        if (!stringField(key.referenceName, c.reference, c.escaped, row.referenceDigits, scheme, id.referenceChars, m))
            return false;
        break;
    default: break;
    }
    switch (scheme.serial) {
    case Field::Integer: return integerField(key.serialName, c.serial, scheme.serialBits, scheme, id.serial, m);
    case Field::String:
        return stringField(key.serialName, c.serial, c.escaped, scheme.serialChars, scheme, id.serialChars, m);
    default: return true;
    }
}

// ---- Cutting texts into components -----------------------------------------

const char* partNames(const KeyInfo& key, Text& scratch) {
    scratch.add(prefixName(key)).add(", ").add(key.referenceName);
    if (key.serialName) scratch.add(", ").add(key.serialName);
    return scratch.data();
}

// "urn:epc:id:sgtin:0614141.812345.6789" or "urn:epc:tag:sgtin-96:3.0614141.812345.6789".
bool parseUri(const char* text, std::size_t length, bool tag, Components& c, Text& m) {
    const std::size_t start = tag ? 12 : 11;
    const char* name = text + start;
    const char* colon = static_cast<const char*>(std::memchr(name, ':', length - start));
    if (colon == nullptr) {
        m.add("no ':' after the scheme name in ").quoted(text, length);
        return false;
    }
    const std::size_t nameLength = static_cast<std::size_t>(colon - name);
    if (tag) {
        c.tagScheme = schemeByName(name, nameLength);
        if (c.tagScheme == nullptr) {
            m.add("the tag URI's scheme ")
                .quoted(name, nameLength)
                .add(
                    " is not one of sgtin-96, sgtin-198, sscc-96, sgln-96, sgln-195, grai-96, grai-170, giai-96, "
                    "giai-202, gdti-96, gdti-174, gsrn-96, gsrnp-96, gid-96");
            return false;
        }
        c.key = c.tagScheme->key;
    } else if (!keyByUri(name, nameLength, &c.key)) {
        m.add("the URI's scheme ")
            .quoted(name, nameLength)
            .add(" is not one of sgtin, sscc, sgln, grai, giai, gdti, gsrn, gsrnp, gid");
        return false;
    }
    const char* body = colon + 1;
    std::size_t left = length - static_cast<std::size_t>(body - text);
    if (c.tagScheme != nullptr && c.tagScheme->filtered) {
        if (left < 2 || body[0] < '0' || body[0] > '7' || body[1] != '.') {
            m.add("a tag URI gives the filter first: one digit 0 to 7 and a '.'");
            return false;
        }
        c.tagFilter = body[0] - '0';
        body += 2;
        left -= 2;
    }
    // The last component takes the rest: a serial may hold '.'.
    const KeyInfo& key = keyInfo(c.key);
    Component* parts[3] = {&c.prefix, &c.reference, &c.serial};
    const unsigned count = key.serialName ? 3 : 2;
    for (unsigned i = 0; i < count; ++i) {
        const char* dot = i + 1 < count ? static_cast<const char*>(std::memchr(body, '.', left)) : nullptr;
        if (i + 1 < count && dot == nullptr) {
            char names[96];
            Text scratch(names, sizeof names);
            m.add(key.uri)
                .add(" identities have ")
                .number(count)
                .add(" parts (")
                .add(partNames(key, scratch))
                .add(") separated by '.'; ")
                .quoted(text, length)
                .add(" has ")
                .number(i + 1);
            return false;
        }
        const std::size_t n = dot ? static_cast<std::size_t>(dot - body) : left;
        *parts[i] = Component{body, n};
        body += n + (dot ? 1 : 0);
        left -= n + (dot ? 1 : 0);
    }
    c.escaped = true;
    return true;
}

// "(01)80614141123458(21)6789", spaces allowed around the AIs.
bool parseElementString(const char* text, std::size_t length, int prefixDigits, Components& c, Text& m) {
    std::size_t at = 0;
    auto skipSpaces = [&] {
        while (at < length && text[at] == ' ') ++at;
    };
    // The AI at `at`: "(" digits ")".
    auto readAi = [&](const char*& ai, std::size_t& aiLength) {
        if (at >= length || text[at] != '(') return false;
        const char* close = static_cast<const char*>(std::memchr(text + at, ')', length - at));
        if (close == nullptr) return false;
        ai = text + at + 1;
        aiLength = static_cast<std::size_t>(close - ai);
        at = static_cast<std::size_t>(close - text) + 1;
        skipSpaces();
        return true;
    };
    const char* ai = nullptr;
    std::size_t aiLength = 0;
    bool found = false;
    if (readAi(ai, aiLength)) {
        for (unsigned k = 0; k <= static_cast<unsigned>(Key::Gid) && !found; ++k) {
            const KeyInfo& info = keyInfo(static_cast<Key>(k));
            if (info.ai && std::strlen(info.ai) == aiLength && std::memcmp(info.ai, ai, aiLength) == 0) {
                c.key = static_cast<Key>(k);
                found = true;
            }
        }
    }
    if (!found) {
        m.add(
             "an element string starts with the AI of a key an EPC carries: (01), (00), (414), (8003), (8004), "
             "(253), (8018) or (8017); ")
            .quoted(text, length)
            .add(" does not");
        return false;
    }
    const KeyInfo& key = keyInfo(c.key);
    if (prefixDigits < 6 || prefixDigits > 12) {
        m.add("an element string does not say how long its company prefix is: give its digits (6 to 12)");
        if (prefixDigits != 0) m.add(", not ").number(static_cast<std::uint64_t>(prefixDigits));
        return false;
    }
    const auto g = static_cast<std::size_t>(prefixDigits);
    if (key.keyDigits == 0) {  // GIAI: company prefix and asset reference, to the end
        c.prefix = Component{text + at, g <= length - at ? g : length - at};
        c.reference = Component{text + at + c.prefix.length, length - at - c.prefix.length};
        return true;
    }
    const std::size_t size = key.keyDigits + 1u + (key.paddingZero ? 1u : 0u);
    std::size_t n = 0;
    while (at + n < length && isDigit(text[at + n])) ++n;
    const char* digits = text + at;
    if (n < size || (n > size && !key.serialJoined)) {
        m.add("the ").add(key.name).add(" has ").number(size).add(" digits; ").quoted(digits, n).add(" has ").number(n);
        return false;
    }
    const char expected = checkDigit(digits, size - 1);
    if (digits[size - 1] != expected) {
        m.add(key.name)
            .add(' ')
            .add(digits, size)
            .add(": its check digit is ")
            .add(digits[size - 1])
            .add(", it should be ")
            .add(expected);
        return false;
    }
    if (key.paddingZero && digits[0] != '0') {
        m.add("a GRAI in an EPC starts with the digit 0; ").add(digits, size).add(" starts with ").add(digits[0]);
        return false;
    }
    if (g > key.keyDigits - (key.referenceLeads ? 1u : 0u)) {
        m.add("a company prefix of ").number(g).add(" digits leaves no room in a ").add(key.name);
        return false;
    }
    // Regroup: [indicator or padding] prefix reference.
    const std::size_t first = key.referenceLeads || key.paddingZero ? 1 : 0;
    std::memcpy(c.prefixBuffer, digits + first, g);
    c.prefix = Component{c.prefixBuffer, g};
    std::size_t r = 0;
    if (key.referenceLeads) c.referenceBuffer[r++] = digits[0];
    const std::size_t rest = size - 1 - first - g;
    std::memcpy(c.referenceBuffer + r, digits + first + g, rest);
    c.reference = Component{c.referenceBuffer, r + rest};
    at += size;
    if (key.serialJoined) {
        c.serial = Component{text + at, length - at};
        return true;
    }
    skipSpaces();
    if (key.serialAi == nullptr || at == length) {
        if (at != length) {
            m.add("nothing may follow the ").add(key.name).add("; ").quoted(text + at, length - at).add(" does");
            return false;
        }
        if (key.serialAi != nullptr && c.key == Key::Gln) c.serial = Component{"0", 1};  // no extension
        else if (key.serialAi != nullptr) {
            m.add("the EPC of a ").add(key.name).add(" needs a serial: (").add(key.serialAi).add(") is missing");
            return false;
        }
        return true;
    }
    const std::size_t serialAiLength = std::strlen(key.serialAi);
    if (!readAi(ai, aiLength) || aiLength != serialAiLength || std::memcmp(ai, key.serialAi, aiLength) != 0) {
        m.add("after the ")
            .add(key.name)
            .add(" comes (")
            .add(key.serialAi)
            .add(") and the ")
            .add(key.serialName)
            .add("; found ")
            .quoted(text + at, length - at);
        return false;
    }
    c.serial = Component{text + at, length - at};
    return true;
}

// ---- Packing ---------------------------------------------------------------

class BitWriter {
public:
    explicit BitWriter(std::uint8_t* out) : out_(out) {}
    void put(std::uint64_t value, unsigned count) {
        for (unsigned i = count; i > 0; --i, ++at_)
            if ((value >> (i - 1)) & 1u) out_[at_ >> 3] |= static_cast<std::uint8_t>(0x80u >> (at_ & 7u));
    }
    void chars(const Chars& chars, unsigned bits) {
        const std::size_t end = at_ + bits;
        for (unsigned i = 0; i < chars.length; ++i) put(static_cast<unsigned char>(chars.text[i]), 7);
        at_ = end;
    }
    void skip(unsigned bits) { at_ += bits; }

private:
    std::uint8_t* out_;
    std::size_t at_ = 0;
};

void pack(const Identity& id, std::uint8_t* out) {
    const Scheme& s = *id.scheme;
    const Partition& row = id.row();
    std::memset(out, 0, wordBytes(s));
    BitWriter w(out);
    w.put(s.header, 8);
    if (s.filtered) {
        w.put(id.filter, 3);
        w.put(id.partition, 3);
    }
    w.put(id.prefix, row.prefixBits);
    if (s.reference == Field::String) w.chars(id.referenceChars, row.referenceBits);
    else w.put(id.reference, row.referenceBits);
    if (s.serial == Field::String) w.chars(id.serialChars, s.serialBits);
    else if (s.serial == Field::Integer) w.put(id.serial, s.serialBits);
}

}  // namespace

bool encode(const char* identity, const EncodeOptions& options, std::uint8_t* epc, std::size_t* size, Text& m) {
    std::size_t length = 0;
    while (length <= kLongest && identity[length] != '\0') ++length;
    if (length > kLongest) {
        m.add("the identity is longer than ").number(kLongest).add(" characters");
        return false;
    }
    // Spaces and line ends around the text are no part of it.
    while (length > 0 && (identity[0] == ' ' || identity[0] == '\t' || identity[0] == '\n' || identity[0] == '\r')) {
        ++identity;
        --length;
    }
    while (length > 0 && (identity[length - 1] == ' ' || identity[length - 1] == '\t' || identity[length - 1] == '\n' ||
                          identity[length - 1] == '\r'))
        --length;

    Components c;
    bool parsed;
    if (startsWith(identity, length, "urn:epc:id:")) {
        parsed = parseUri(identity, length, false, c, m);
    } else if (startsWith(identity, length, "urn:epc:tag:")) {
        parsed = parseUri(identity, length, true, c, m);
    } else if (length > 0 && identity[0] == '(') {
        parsed = parseElementString(identity, length, options.companyPrefixDigits, c, m);
    } else if (length == 0) {
        m.add("the identity is empty");
        return false;
    } else {
        m.quoted(identity, length)
            .add(
                " is not a pure-identity URI (urn:epc:id:...), a tag URI (urn:epc:tag:...) or an element string "
                "((01)...)");
        return false;
    }
    if (!parsed) return false;
    if (options.filter < -1 || options.filter > 7) {
        m.add("the filter value is 0 to 7");
        return false;
    }
    const bool elementString = identity[0] == '(';
    if (!elementString && options.companyPrefixDigits != 0 && keyInfo(c.key).name != nullptr &&
        static_cast<std::size_t>(options.companyPrefixDigits) != c.prefix.length) {
        m.add("the URI's company prefix has ")
            .number(c.prefix.length)
            .add(" digits, not the ")
            .number(static_cast<std::uint64_t>(options.companyPrefixDigits))
            .add(" given");
        return false;
    }

    // The scheme: the tag URI's, the one of the length asked for, or the
    // shortest that holds the identity.
    std::size_t count = 0;
    const Scheme* schemes = schemesOfKey(c.key, &count);
    const Scheme* chosen = c.tagScheme;
    if (chosen != nullptr && options.bits != 0 && options.bits != chosen->bits) {
        m.add("the tag URI names ")
            .add(chosen->name)
            .add(", not ")
            .number(static_cast<std::uint64_t>(options.bits))
            .add(" bits");
        return false;
    }
    if (chosen == nullptr && options.bits != 0) {
        for (std::size_t i = 0; i < count; ++i)
            if (schemes[i].bits == options.bits) chosen = &schemes[i];
        if (chosen == nullptr) {
            m.add("no scheme of ")
                .add(keyInfo(c.key).uri)
                .add(" has ")
                .number(static_cast<std::uint64_t>(options.bits > 0 ? options.bits : 0))
                .add(" bits; its schemes are");
            for (std::size_t i = 0; i < count; ++i) m.add(i ? ", " : " ").add(schemes[i].name);
            return false;
        }
    }
    Identity id;
    bool filled = false;
    if (chosen != nullptr) {
        filled = fill(c, *chosen, id, m);
    } else {
        for (std::size_t i = 0; i < count && !filled; ++i) {
            m.clear();
            filled = fill(c, schemes[i], id, m);
        }
    }
    if (!filled) return false;

    const Scheme& scheme = *id.scheme;
    int filter = options.filter;
    if (!scheme.filtered) {
        if (filter != -1) {
            m.add(scheme.name).add(" has no filter value");
            return false;
        }
        filter = 0;
    } else {
        if (c.tagFilter >= 0 && filter != -1 && filter != c.tagFilter) {
            m.add("the tag URI gives filter ")
                .number(static_cast<std::uint64_t>(c.tagFilter))
                .add(", not ")
                .number(static_cast<std::uint64_t>(filter));
            return false;
        }
        if (c.tagFilter >= 0) filter = c.tagFilter;
        if (filter == -1) filter = 0;
    }
    id.filter = static_cast<unsigned>(filter);
    pack(id, epc);
    *size = wordBytes(scheme);
    return true;
}

}  // namespace mv::gs1
