// GS1 identities of EPCs: `epc decode` and `epc encode`, which need no
// reader, and the identity shown beside an EPC by the tag commands.

#include "cli/target.h"
#include "commands.h"
#include "context.h"

namespace morvent_cli {
namespace {

Value partOrNull(const std::string& part) { return part.empty() ? Value::null() : Value::text(part); }

// The whole identity, under the keys every face uses; parts the scheme has
// not (a GID's element string, an SSCC's serial) are null.
void addIdentity(Document& document, const morvent::Epc& id) {
    document.add("scheme", Value::text(id.scheme()));
    document.add("filter", id.filter() ? Value::number(*id.filter()) : Value::null());
    document.add("uri", Value::text(id.uri()));
    document.add("tag_uri", Value::text(id.tagUri()));
    document.add("element_string", partOrNull(id.elementString()));
    document.add("digital_link", partOrNull(id.digitalLink()));
    document.add("key_name", partOrNull(id.keyName()));
    document.add("key", partOrNull(id.key()));
    document.add("company_prefix", Value::text(id.companyPrefix()));
    document.add("reference", Value::text(id.reference()));
    document.add("serial", partOrNull(id.serial()));
}

int runEpcDecode(Context& context, const Arguments& arguments) {
    if (arguments.operands().size() != 1) throw UsageError("needs exactly one EPC (hex)");
    const Bytes epc = parseEpc(arguments.operands()[0], "EPC");
    const morvent::Epc id = morvent::decodeEpc(epc);
    // A well-formed EPC that is no GS1 identity is an answer, not bad input:
    // the library's status and its reason, exit status 1.
    if (!id) throw Failure{MORVENT_EPC_NOT_GS1, "epc decode " + toHex(epc), {}, {}, "not a GS1 EPC: " + id.reason()};
    Document document;
    document.add("epc", Value::text(toHex(epc)));
    addIdentity(document, id);
    context.emit(document);
    return 0;
}

int runEpcEncode(Context& context, const Arguments& arguments) {
    if (arguments.operands().size() != 1)
        throw UsageError("needs exactly one identity (urn:epc:id:... or urn:epc:tag:...)");
    const Bytes epc = encodeIdentity(arguments.operands()[0], arguments);
    Document document;
    document.add("epc", Value::text(toHex(epc)));
    document.add("words", Value::number(static_cast<long long>(epc.size() / 2)));
    addIdentity(document, morvent::decodeEpc(epc));
    context.emit(document);
    return 0;
}

}  // namespace

const Options kEncodeOptions = {
    {"filter", "N", "filter value 0..7 (default: a tag URI's, else 0)"},
    {"bits", "N", "the scheme's size: 96, 198, ... (default: a tag URI's, else the shortest that holds it)"},
    {"company-prefix-digits", "N", "an element string's company prefix length, 6..12"},
};

Bytes encodeIdentity(const std::string& identity, const Arguments& arguments) {
    morvent::EpcOptions options;
    if (auto text = arguments.value("filter")) options.filter = static_cast<int>(parseNumber(*text, "--filter", 0, 7));
    if (auto text = arguments.value("bits")) options.bits = static_cast<int>(parseNumber(*text, "--bits", 1, 256));
    if (auto text = arguments.value("company-prefix-digits")) {
        options.companyPrefixDigits = static_cast<int>(parseNumber(*text, "--company-prefix-digits", 6, 12));
    }
    try {
        return morvent::encodeEpc(identity, options);
    } catch (const morvent::EpcError& error) {
        throw UsageError("cannot encode '" + identity + "': " + error.what());
    }
}

Value identityUri(const Bytes& epc) {
    const morvent::Epc id = morvent::decodeEpc(epc);
    return id ? Value::text(id.uri()) : Value::absent();
}

const std::vector<CommandSpec>& epcCommands() {
    static const std::vector<CommandSpec> commands = {
        {"epc decode",
         "EPC",
         "show the GS1 identity of an EPC (hex); needs no reader",
         {},
         "Shows the scheme, filter, pure-identity URI, tag URI, element string,\n"
         "Digital Link and the parts (key, company prefix, reference, serial).\n"
         "An EPC that is no GS1 identity is a failure (exit status 1) with the\n"
         "reason, e.g. an unknown header or a partition of 7.",
         runEpcDecode},
        {"epc encode", "IDENTITY", "give the EPC (hex) of a GS1 identity; needs no reader", kEncodeOptions,
         "IDENTITY is a pure-identity URI (urn:epc:id:sgtin:0614141.812345.6789),\n"
         "a tag URI (urn:epc:tag:sgtin-96:3.0614141.812345.6789) or an element\n"
         "string ('(01)80614141123458(21)6789' with --company-prefix-digits).\n"
         "An identity that does not fit (a serial too long for 96 bits, a\n"
         "partition that does not match, a wrong check digit) is refused with\n"
         "the rule it breaks (exit status 2).",
         runEpcEncode},
    };
    return commands;
}

}  // namespace morvent_cli
