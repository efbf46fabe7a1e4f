// From an identity to its texts: the URIs, the element string, the Digital
// Link and the parts.
#include "gs1/codec.h"

namespace mv::gs1 {
namespace {

const char kHex[] = "0123456789ABCDEF";

// How characters of a String field go into a text.
enum class Escape {
    None,  // as they are (element strings, the parts)
    Uri,   // the seven URIs escape as %XX
    Link,  // all but letters, digits and "-._" as %XX, as a URI path segment wants
};

void addChars(Text& out, const Chars& chars, Escape escape) {
    for (unsigned i = 0; i < chars.length; ++i) {
        const auto c = static_cast<unsigned char>(chars.text[i]);
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                           c == '.' || c == '_';
        if ((escape == Escape::Uri && escapedInUri(c)) || (escape == Escape::Link && !plain)) {
            out.add('%').add(kHex[c >> 4]).add(kHex[c & 15]);
        } else {
            out.add(static_cast<char>(c));
        }
    }
}

void addPrefix(Text& out, const Identity& id) {
    if (id.scheme->prefix == Field::Digits) out.digits(id.prefix, id.row().prefixDigits);
    else out.number(id.prefix);
}

void addReference(Text& out, const Identity& id, Escape escape) {
    switch (id.scheme->reference) {
    case Field::Digits: out.digits(id.reference, id.row().referenceDigits); break;
    case Field::Integer: out.number(id.reference); break;
    case Field::String: addChars(out, id.referenceChars, escape); break;
    default: break;
    }
}

bool hasSerial(const Identity& id) { return id.scheme->serial == Field::Integer || id.scheme->serial == Field::String; }

void addSerial(Text& out, const Identity& id, Escape escape) {
    if (id.scheme->serial == Field::Integer) out.number(id.serial);
    else if (id.scheme->serial == Field::String) addChars(out, id.serialChars, escape);
}

// An SGLN whose extension is 0 names the GLN alone.
bool serialShown(const Identity& id) {
    if (id.scheme->key != Key::Gln) return true;
    if (id.scheme->serial == Field::Integer) return id.serial != 0;
    return !(id.serialChars.length == 1 && id.serialChars.text[0] == '0');
}

// The key: its digits with the check digit, or a GIAI's characters.
void addKey(Text& out, const Identity& id, Escape escape) {
    const KeyInfo& key = id.key();
    if (key.keyDigits == 0) {
        addPrefix(out, id);
        addReference(out, id, escape);
        return;
    }
    char prefix[13], reference[13], digits[19];
    Text p(prefix, sizeof prefix), r(reference, sizeof reference);
    addPrefix(p, id);
    addReference(r, id, Escape::None);
    Text d(digits, sizeof digits);
    if (key.paddingZero) d.add('0');
    if (key.referenceLeads && r.size() > 0) d.add(reference[0]).add(prefix).add(reference + 1);
    else d.add(prefix).add(reference);
    out.add(digits).add(checkDigit(digits, d.size()));
}

void addUri(Text& out, const Identity& id, bool tag) {
    if (tag) {
        out.add("urn:epc:tag:").add(id.scheme->name).add(':');
        if (id.scheme->filtered) out.number(id.filter).add('.');
    } else {
        out.add("urn:epc:id:").add(id.key().uri).add(':');
    }
    addPrefix(out, id);
    out.add('.');
    addReference(out, id, Escape::Uri);
    if (hasSerial(id)) {
        out.add('.');
        addSerial(out, id, Escape::Uri);
    }
}

// The element string "(01)...(21)..." or the Digital Link
// "https://id.gs1.org/01/.../21/...": the key's AI and value, then the serial's.
void addAis(Text& out, const Identity& id, bool link) {
    const KeyInfo& key = id.key();
    const Escape escape = link ? Escape::Link : Escape::None;
    out.add(link ? "https://id.gs1.org/" : "(").add(key.ai).add(link ? '/' : ')');
    addKey(out, id, escape);
    if (key.serialJoined) addSerial(out, id, escape);
    if (key.serialAi && serialShown(id)) {
        out.add(link ? '/' : '(').add(key.serialAi).add(link ? '/' : ')');
        addSerial(out, id, escape);
    }
}

}  // namespace

Text& Text::number(std::uint64_t value) {
    char text[20];
    unsigned at = sizeof text;
    do {
        text[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return add(text + at, sizeof text - at);
}

Text& Text::digits(std::uint64_t value, unsigned count) {
    char text[20];
    for (unsigned i = count; i > 0; --i) {
        text[i - 1] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return add(text, count);
}

Text& Text::hexByte(unsigned value) { return add(kHex[(value >> 4) & 15]).add(kHex[value & 15]); }

Text& Text::quoted(const char* text, std::size_t length) {
    add('"');
    for (std::size_t i = 0; i < length && i < 40; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) add(static_cast<char>(c));
        else add("\\x").hexByte(c);
    }
    if (length > 40) add("...");
    return add('"');
}

void describeCharacter(Text& out, unsigned char c) {
    if (c > 0x20 && c < 0x7F) out.add('\'').add(static_cast<char>(c)).add("' (0x").hexByte(c).add(')');
    else out.add("0x").hexByte(c);
}

char checkDigit(const char* digits, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned d = static_cast<unsigned>(digits[count - 1 - i] - '0');
        sum += i % 2 == 0 ? 3 * d : d;  // the rightmost digit weighs 3
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

bool format(const Identity& id, Part part, Text& out) {
    const bool gs1Key = id.key().name != nullptr;
    switch (part) {
    case Part::Scheme: out.add(id.scheme->name); return true;
    case Part::Filter:
        if (!id.scheme->filtered) return false;
        out.number(id.filter);
        return true;
    case Part::Uri: addUri(out, id, false); return true;
    case Part::TagUri: addUri(out, id, true); return true;
    case Part::ElementString:
        if (gs1Key) addAis(out, id, false);
        return gs1Key;
    case Part::DigitalLink:
        if (gs1Key) addAis(out, id, true);
        return gs1Key;
    case Part::KeyName:
        if (gs1Key) out.add(id.key().name);
        return gs1Key;
    case Part::Key:
        if (gs1Key) addKey(out, id, Escape::None);
        return gs1Key;
    case Part::CompanyPrefix: addPrefix(out, id); return true;
    case Part::Reference: addReference(out, id, Escape::None); return true;
    case Part::Serial:
        if (hasSerial(id)) addSerial(out, id, Escape::None);
        return hasSerial(id);
    case Part::Count: break;
    }
    return false;
}

}  // namespace mv::gs1
