// The handlers of the tool's commands and the option tables they read.
#pragma once

#include <vector>

#include "cli/args.h"
#include "cli/output.h"
#include "cli/parse.h"

namespace morvent_cli {

const std::vector<CommandSpec>& tagCommands();
const std::vector<CommandSpec>& readerCommands();
const std::vector<CommandSpec>& epcCommands();

// --filter, --bits and --company-prefix-digits: how a GS1 identity becomes
// an EPC (epc encode, write-epc --uri).
extern const Options kEncodeOptions;
// The EPC of a GS1 identity as kEncodeOptions ask; an identity that cannot
// be encoded is a UsageError naming it and the rule it breaks.
Bytes encodeIdentity(const std::string& identity, const Arguments& arguments);
// The pure-identity URI of an EPC, or Value::absent() when it is no GS1 EPC.
Value identityUri(const Bytes& epc);

}  // namespace morvent_cli
