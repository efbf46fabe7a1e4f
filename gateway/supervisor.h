// The supervisor: starts one worker per reader and restarts those that die
// (with back-off), turns their reads into events, commits the events to the
// spool and publishes them over MQTT, deleting each from the spool on its
// acknowledgement. One poll loop, one spool writer, one sequence per gateway.
#pragma once

#include <string>

#include "gateway/config.h"

namespace morventd {

// Runs until SIGTERM or SIGINT; the process exit status. `worker` is the
// worker program.
int runSupervisor(const Config& config, const std::string& worker);

}  // namespace morventd
