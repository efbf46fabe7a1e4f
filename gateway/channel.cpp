#include "gateway/channel.h"

#include <charconv>

namespace morventd {

namespace {

template <typename Enum, std::size_t N>
bool fromName(std::string_view word, const char* const (&names)[N], Enum& out) {
    for (std::size_t i = 0; i < N; ++i)
        if (word == names[i]) {
            out = static_cast<Enum>(i);
            return true;
        }
    return false;
}

// Free text on a line of its own: a line break would end the message early.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

// Takes the word at the front of `rest` (up to a space, or all of it).
std::string_view word(std::string_view& rest) {
    const std::size_t space = rest.find(' ');
    const std::string_view w = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    return w;
}

template <typename Number>
bool number(std::string_view text, Number& out) {
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, out);
    return !text.empty() && error == std::errc() && at == end;
}

// "<kind> " at the front of `line`, which loses it and its '\n'.
bool kind(std::string_view& line, char k) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (line.size() < 2 || line[0] != k || line[1] != ' ') return false;
    line.remove_prefix(2);
    return true;
}

}  // namespace

Answer Answer::done(std::vector<std::string> result) {
    Answer a;
    a.outcome = Outcome::Done;
    a.result = std::move(result);
    return a;
}

Answer Answer::failed(int status, int tagError, std::string message) {
    Answer a;
    a.outcome = Outcome::Failed;
    a.status = status;
    a.tagError = tagError;
    a.message = std::move(message);
    return a;
}

Answer Answer::refused(Outcome why, std::string message) {
    Answer a;
    a.outcome = why;
    a.message = std::move(message);
    return a;
}

Answer notConnected() { return Answer::refused(Outcome::Unavailable, "the reader is not connected"); }

std::string format(const StateMessage& m) {
    return "S " + m.reader + " " + stateName(m.state) + " " + oneLine(m.detail) + "\n";
}

std::string format(const ReadMessage& m) {
    return "R " + m.reader + " " + std::to_string(m.atMs) + " " + m.epc + " " + (m.tid.empty() ? "-" : m.tid) + "\n";
}

std::string format(const Request& m) {
    return "C " + std::to_string(m.id) + " " + m.reader + " " + oneLine(m.operation) + "\n";
}

std::string format(const Answer& m) {
    std::string line = "A " + std::to_string(m.id) + " " + kOutcomeNames[static_cast<int>(m.outcome)];
    switch (m.outcome) {
    case Outcome::Done:
        for (const std::string& r : m.result) line += " " + r;
        break;
    case Outcome::Failed:
        line += " " + std::to_string(m.status) + " " + std::to_string(m.tagError) + " " + oneLine(m.message);
        break;
    default: line += " " + oneLine(m.message); break;
    }
    return line + "\n";
}

bool parse(std::string_view line, StateMessage& out) {
    if (!kind(line, 'S')) return false;
    out.reader = word(line);
    if (out.reader.empty() || !fromName(word(line), kStateNames, out.state)) return false;
    out.detail = line;
    return true;
}

bool parse(std::string_view line, ReadMessage& out) {
    if (!kind(line, 'R')) return false;
    out.reader = word(line);
    if (out.reader.empty() || !number(word(line), out.atMs)) return false;
    out.epc = word(line);
    out.tid = line == "-" ? std::string() : std::string(line);
    // The tid is the last word: a space in it would be a line of another shape.
    return !out.epc.empty() && !line.empty() && line.find(' ') == std::string_view::npos;
}

bool parse(std::string_view line, Request& out) {
    if (!kind(line, 'C') || !number(word(line), out.id)) return false;
    out.reader = word(line);
    out.operation = line;
    return !out.reader.empty();
}

bool parse(std::string_view line, Answer& out) {
    if (!kind(line, 'A') || !number(word(line), out.id) || !fromName(word(line), kOutcomeNames, out.outcome))
        return false;
    out.result.clear();
    out.status = out.tagError = -1;
    out.message.clear();
    switch (out.outcome) {
    case Outcome::Done:
        while (!line.empty()) out.result.emplace_back(word(line));
        return true;
    case Outcome::Failed:
        if (!number(word(line), out.status) || !number(word(line), out.tagError)) return false;
        break;
    default: break;
    }
    out.message = line;
    return true;
}

}  // namespace morventd
