// Network links: one TCP connection per reader, named by the reader's TCP
// port number, and the keep-alive that keeps idle connections alive.
#pragma once

namespace mv::link {

// Closes the port's connection, ends its socket-library start, clears the
// open flag. Holds the busy flag while it does so, so the keep-alive can
// never send on a socket being closed.
void closeNetLink(int port);

// Makes sure the keep-alive runs and will sweep at least once more. Called
// whenever a network link is connected or opened.
void ensureKeepAlive();

// Milliseconds between keep-alive sweeps, and idle sweeps before the two
// zero bytes go out.
constexpr unsigned kKeepAlivePeriodMs = 1000;
constexpr int kKeepAliveThreshold = 16;
// The keep-alive thread's name, as /proc/self/task/*/comm shows it.
constexpr const char* kKeepAliveThreadName = "mv-keepalive";

}  // namespace mv::link
