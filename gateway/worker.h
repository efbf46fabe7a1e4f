// A worker: one process per link, so that readers run in parallel (the
// core's link lock is per process) and a reader that hangs or crashes takes
// nothing else with it. The link is one TCP reader, or one serial device
// with one reader or several on an RS-485 bus, which the worker reads in
// turns, each at its own address. It opens the link, reconnects with a
// capped back-off, and tells the supervisor on `fd` (channel.h) each
// reader's state and reads, and answers the operations the supervisor
// forwards (operation.h).
#pragma once

#include <vector>

#include "gateway/reader_config.h"

namespace morventd {

// Runs until SIGTERM/SIGINT, or until the supervisor goes away. Exit status.
// `readers` share one link (ReaderConfig::port()).
int runWorker(const std::vector<ReaderConfig>& readers, int fd);

}  // namespace morventd
