// Operations on a reader asked for over HTTP and carried out by its worker,
// between inventory rounds. On the supervisor's channel a request is one line
//   C <id> <reader> <operation> <argument>...
// and its answer
//   A <id> ok [<result>...]      or      A <id> err <status> <tag error> <message>
// Operations (hex without spaces, "-" for "not given"); <tag> is the tag's
// current EPC, or "any" for whichever tag answers, never left out:
//   read <tag> <bank> <word pointer> <word count> <password>   -> ok <data>
//   write <tag> <bank> <word pointer> <data> <password>         -> ok
//   write-epc <tag> <new epc> <password>                        -> ok
//   get                                  -> ok <power> <scan time> <region1> <region2>
//   set <power> <scan time> <region1> <region2>                 -> ok
#pragma once

#include <string>

namespace morvent {
class Reader;
}

namespace morventd {

// Runs one operation (the line after "C <id> ") on `reader`; the answer after
// "A <id> ". Never throws: malformed requests are answered with an error.
std::string runOperation(morvent::Reader& reader, const std::string& request);

}  // namespace morventd
