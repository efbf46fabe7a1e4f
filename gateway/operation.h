// Operations on a reader asked for over HTTP and carried out by its worker,
// between inventory rounds. They travel on the supervisor's channel as a
// request and its answer (channel.h); this is the operation's own text:
//   <operation> <argument>...
// Operations (hex without spaces, "-" for "not given"); <tag> is the tag's
// current EPC, or "any" for whichever tag answers, never left out. The
// results are those of a done answer:
//   read <tag> <bank> <word pointer> <word count> <password>   -> <data>
//   write <tag> <bank> <word pointer> <data> <password>         -> none
//   write-epc <tag> <new epc> <password>                        -> none
//   get                                  -> <power> <scan time> <region1> <region2>
//   set <power> <scan time> <region1> <region2>                 -> none
#pragma once

#include <string>

#include "gateway/channel.h"

namespace morvent {
class Reader;
}

namespace morventd {

// Runs one operation (a request's `operation`) on `reader`; its answer, whose
// id the caller sets. Never throws: a malformed request is answered Invalid.
Answer runOperation(morvent::Reader& reader, const std::string& operation);

}  // namespace morventd
