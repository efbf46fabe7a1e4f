// morvent.hpp - the C++ API of libMorvent (C++17, header-only).
//
// A thin layer over the C functions of morvent.h: a `morvent::Reader` owns
// one open link and offers every command as a method with value results;
// failures are thrown as `morvent::Error`. Inputs are taken as const byte
// vectors and arrays and passed to the core, which only ever reads them.
//
//     auto reader = morvent::Reader::tcp("127.0.0.1", 6000);
//     for (const morvent::Tag& tag : reader.inventory())
//         std::cout << tag.epcHex() << "\n";
//
// Threads: every Reader of a process goes through the core's one link lock,
// so exchanges with readers never overlap, even on different links; a
// Reader may be used from any thread, one call at a time.
//
// Status codes that are not failures are results, not exceptions: the
// inventory statuses and MORVENT_NO_TAG give a (possibly empty) tag list,
// MORVENT_NO_DATA an empty byte vector. A command addressed to one tag that
// is not in the field fails with MORVENT_NO_TAG.
//
// The GS1 identities of EPCs (morvent::Epc, decodeEpc, encodeEpc) are in
// morvent/epc.hpp, included here; Tag::identity() leads to them.
#ifndef MORVENT_HPP
#define MORVENT_HPP

// The C++ API, one header per concept:
//   morvent/error.hpp    morvent::Error, the names of status and tag error codes
//   morvent/values.hpp   bytes and hex, banks, passwords, masks, Tag, TagRef, options and records
//   morvent/epc.hpp      GS1 identities of EPCs
//   morvent/records.hpp  the walk over inventory tag records
//   morvent/reader.hpp   morvent::Reader, its methods as a table of contents
//                        (the bodies in morvent/impl/reader_inl.hpp)
#include "morvent.h"
#include "morvent/epc.hpp"
#include "morvent/error.hpp"
#include "morvent/reader.hpp"
#include "morvent/records.hpp"
#include "morvent/values.hpp"

#endif  // MORVENT_HPP
