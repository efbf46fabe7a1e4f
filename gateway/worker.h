// A worker: one process per reader, so that readers run in parallel (the
// core's link lock is per process) and a reader that hangs or crashes takes
// nothing else with it. It opens its reader, reconnects with a capped
// back-off, and sends the supervisor lines on `fd`:
//   S <online|connecting|offline> <detail>
//   R <unix ms> <epc hex> <tid hex or ->
#pragma once

#include "gateway/reader_config.h"

namespace morventd {

// Runs until SIGTERM/SIGINT, or until the supervisor goes away. Exit status.
int runWorker(const ReaderConfig& reader, int fd);

}  // namespace morventd
