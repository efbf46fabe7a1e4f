// The channel between the supervisor and a worker: a stream socket (the
// worker's fd 3) carrying one message a line. Worker to supervisor:
//   S <reader> <state> <detail>                    a reader's state, on each change of it or its detail
//   R <reader> <unix ms> <epc hex> <tid hex or ->  one tag read
//   A <id> <outcome> ...                           the answer to request <id>:
//       A <id> ok [<result>...]
//       A <id> failed <status> <tag error> <message>
//       A <id> invalid|unavailable|active-mode <message>
// Supervisor to worker:
//   C <id> <reader> <operation> <argument>...      an operation on a reader (operation.h)
// Each message is a struct here with its format() and parse(); nothing else
// in the gateway writes or reads these lines, nor spells a reader's state or
// an answer's outcome: what the MQTT status, the metrics, /health and the
// dashboard say comes from the names below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morventd {

// Where the gateway stands with a reader.
enum class ReaderState {
    Connecting,  // its link is being opened or it does not answer yet; the detail says which, and why
    Online,      // it answers at its address and its reads come in
    Offline,     // nobody reads it: its worker ended (a new one follows) or the gateway stopped
};
// Every state, in the order the metrics list them.
inline constexpr ReaderState kReaderStates[] = {ReaderState::Online, ReaderState::Connecting, ReaderState::Offline};
// The word of each state, in the order of the enum: on the channel and in
// every face of the gateway. Its own MQTT status uses the same words.
inline constexpr const char* kStateNames[] = {"connecting", "online", "offline"};
constexpr const char* stateName(ReaderState state) { return kStateNames[static_cast<int>(state)]; }

// How an operation ended.
enum class Outcome {
    Done,         // carried out: `result` holds what it returned
    Failed,       // the reader or the tag refused: `status`, and `tagError` with MORVENT_TAG_ERROR
    Invalid,      // refused before any reader was asked: malformed, out of range, unknown
    Unavailable,  // the reader cannot be asked now: not connected, its worker busy or gone, the gateway stopping
    ActiveMode,   // the reader sends on its own in active mode; operations need poll mode
};
// The word that starts an answer of each outcome, in the order of the enum.
inline constexpr const char* kOutcomeNames[] = {"ok", "failed", "invalid", "unavailable", "active-mode"};

// S: a reader's state and what explains it (its link, or why it is not online).
struct StateMessage {
    std::string reader;
    ReaderState state = ReaderState::Connecting;
    std::string detail;
};

// R: one read of a tag.
struct ReadMessage {
    std::string reader;
    std::int64_t atMs = 0;  // Unix time
    std::string epc, tid;   // hex, upper case; tid empty when not read
};

// C: an operation asked for over HTTP, for the worker of its reader.
struct Request {
    std::uint64_t id = 0;  // the dashboard's, echoed by the answer
    std::string reader;
    std::string operation;  // "<operation> <argument>...", as operation.h describes
};

// A: the answer to a request.
struct Answer {
    std::uint64_t id = 0;
    Outcome outcome = Outcome::Invalid;
    std::vector<std::string> result;  // Done: the operation's results, a word each
    int status = -1;                  // Failed: the core's status
    int tagError = -1;                // Failed: the tag's error code, -1 when none
    std::string message;              // all but Done: what went wrong, for a person

    static Answer done(std::vector<std::string> result);
    static Answer failed(int status, int tagError, std::string message);
    // Refused without asking the reader, for `why` (not Done or Failed).
    static Answer refused(Outcome why, std::string message);
};

// The refusal of an operation on a reader whose link is down, said alike by
// the supervisor (no worker to ask) and the worker (not attached).
Answer notConnected();

// Each message as its line, ending in '\n'. Line breaks inside a detail or a
// message become spaces: one message, one line.
std::string format(const StateMessage& message);
std::string format(const ReadMessage& message);
std::string format(const Request& message);
std::string format(const Answer& message);

// A line (with or without its '\n') into the message it carries; false, and
// `out` unspecified, when it is not that message or is malformed.
bool parse(std::string_view line, StateMessage& out);
bool parse(std::string_view line, ReadMessage& out);
bool parse(std::string_view line, Request& out);
bool parse(std::string_view line, Answer& out);

}  // namespace morventd
