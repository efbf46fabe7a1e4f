#include "context.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// mmsystem.h needs the types windows.h declares.
#include <mmsystem.h>
#else
#include <glob.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "cli/status.h"
#include "common/clock.h"

namespace morvent_cli {
namespace {

// Baud codes in the order --baud auto tries them after the one asked for:
// the usual rate first, then the fastest, then the rest.
const std::uint8_t kBaudOrder[] = {5, 6, 2, 1, 0};

// The device the library opens for COMn, and where it was named.
std::string comDevice(int number) {
    std::string device = morvent::serialDevice(number);
#ifndef _WIN32
    const std::string variable = "MORVENT_COM" + std::to_string(number);
    const char* mapped = std::getenv(variable.c_str());
    if (mapped && *mapped) device += " (" + variable + ")";
#endif
    return device;
}

#ifndef _WIN32
// A device given by path is opened as this COM number, whose device the
// library takes from MORVENT_COM255.
constexpr int kDeviceCom = 255;

void mapDevice(const std::string& path) { setenv("MORVENT_COM255", path.c_str(), 1); }

// USB serial adapters and modems-class readers, in name order.
std::vector<std::string> usbSerialDevices() {
    std::vector<std::string> found;
    for (const char* pattern : {"/dev/ttyUSB*", "/dev/ttyACM*"}) {
        glob_t matches{};
        if (glob(pattern, 0, nullptr, &matches) == 0) {
            for (std::size_t i = 0; i < matches.gl_pathc; ++i) found.emplace_back(matches.gl_pathv[i]);
        }
        globfree(&matches);
    }
    return found;
}
#endif

std::string rateText(std::uint8_t code) { return std::to_string(baudRateOfCode(code)) + " bit/s"; }

volatile std::sig_atomic_t g_interrupted = 0;
void onInterrupt(int) { g_interrupted = 1; }

bool isTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

}  // namespace

void catchInterrupts(bool on) {
    g_interrupted = 0;
    std::signal(SIGINT, on ? onInterrupt : SIG_DFL);
    std::signal(SIGTERM, on ? onInterrupt : SIG_DFL);
}

bool interrupted() { return g_interrupted != 0; }

void pauseUnlessInterrupted(long milliseconds) {
    for (long waited = 0; waited < milliseconds && !interrupted(); waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10L, milliseconds - waited)));
    }
}

void pauseOneMillisecond() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

#ifdef _WIN32
FineTimer::FineTimer() { timeBeginPeriod(1); }
FineTimer::~FineTimer() { timeEndPeriod(1); }
#else
FineTimer::FineTimer() = default;
FineTimer::~FineTimer() = default;
#endif

bool outputIsTerminal() { return isTerminal(stdout); }

bool isLinkFailure(int status) {
    return status == MORVENT_COMM_ERROR || status == MORVENT_INVALID_PORT || status == MORVENT_CRC_ERROR;
}

bool confirm(const Context& context, const std::string& question) {
    if (context.yes || !isTerminal(stdin)) return true;
    std::cerr << question << " This cannot be undone. Type yes to go on: " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "yes" || answer == "y";
}

void Context::configure(const Arguments& arguments) {
    int links = arguments.has("tcp") + arguments.has("com") + arguments.has("auto") + arguments.has("device");
    if (links > 1) throw UsageError("give only one of --tcp, --com, --device and --auto");
    if (auto text = arguments.value("tcp")) tcp = parseEndpoint(*text);
    if (auto text = arguments.value("com")) com = static_cast<int>(parseNumber(*text, "--com", 1, 255));
    if (auto text = arguments.value("device")) {
        if (text->empty()) throw UsageError("--device: needs a path, e.g. /dev/ttyUSB0");
#ifdef _WIN32
        std::string name = *text;
        if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
        if (name.size() < 4 || (name.compare(0, 3, "COM") != 0 && name.compare(0, 3, "com") != 0)) {
            throw UsageError("--device: '" + *text + "' is not a COM device; give COMn");
        }
        com = static_cast<int>(parseNumber(name.substr(3), "--device", 1, 255));
#else
        device = *text;
#endif
    }
    automatic = arguments.flag("auto");
    if (auto text = arguments.value("baud")) {
        baud_given = true;
        if (*text == "auto") baud_auto = true;
        else baud_code = parseBaud(*text);
    }
    if (auto text = arguments.value("address")) address_option = parseByte(*text, "--address");
    if (arguments.flag("json") && arguments.flag("csv")) throw UsageError("give only one of --json and --csv");
    json = arguments.flag("json");
    format = json ? Format::Json : arguments.flag("csv") ? Format::Csv : Format::Text;
    yes = arguments.flag("yes");
}

std::string Failure::cause() const { return reason.empty() ? statusLine(status) : reason; }

morvent::Reader& Context::reader() {
    if (link_reader) return *link_reader;
    int status = MORVENT_COMM_ERROR;
    std::string hint, reason;
    // Tries one opening, keeping the reader or the failure's status and,
    // when the library found it, its cause.
    auto attempt = [&](auto&& open) {
        try {
            link_reader.emplace(open());
            return true;
        } catch (const morvent::Error& error) {
            status = error.status();
            reason = error.reason();
            return false;
        }
    };
    // The baud codes to try: the one asked for, then with --baud auto the rest.
    auto codes = [&] {
        std::vector<std::uint8_t> list{baud_code};
        if (baud_auto) {
            for (std::uint8_t code : kBaudOrder) {
                if (code != baud_code) list.push_back(code);
            }
        }
        return list;
    };
    auto answeredAt = [&](std::uint8_t code) {
        if (baud_auto)
            note("the reader answered at " + rateText(code) + " (--baud " + std::to_string(baudRateOfCode(code)) + ")");
        baud_code = code;
        baud_auto = false;  // a reconnection goes straight to the rate that answered
    };
    // One serial opening at each baud code to try; says which one answered.
    auto openSerial = [&](int number) {
        for (std::uint8_t code : codes()) {
            const int rate = static_cast<int>(baudRateOfCode(code));
            // With --address the handshake asks that reader alone: on a bus every reader answers 0xFF.
            if (attempt([&] { return morvent::Reader::serial(number, rate, address_option.value_or(0xFF)); })) {
                answeredAt(code);
                serial_com = number;
                return true;
            }
            // Another rate cannot help a port that is taken or a device that is not there.
            if (status == MORVENT_PORT_OPEN || status == MORVENT_INVALID_PORT || !reason.empty()) break;
        }
        return false;
    };
    if (tcp) {
        link = "TCP " + tcp->host + ":" + std::to_string(tcp->port);
        network = true;
        if (attempt([&] { return morvent::Reader::tcp(tcp->host, tcp->port); })) status = MORVENT_OK;
    } else if (com) {
        link = "COM" + std::to_string(*com) + " at " + comDevice(*com);
        if (openSerial(*com)) status = MORVENT_OK;
#ifndef _WIN32
    } else if (device) {
        link = *device;
        mapDevice(*device);
        if (openSerial(kDeviceCom)) status = MORVENT_OK;
#endif
    } else if (automatic) {
        std::vector<std::string> tried;
#ifndef _WIN32
        for (const std::string& path : usbSerialDevices()) {
            note("looking for a reader on " + path);
            mapDevice(path);
            tried.push_back(path);
            if (openSerial(kDeviceCom)) {
                link = path;
                device = path;
                status = MORVENT_OK;
                break;
            }
        }
#endif
        if (!link_reader) {
            note("looking for a reader on COM1..COM12:");
            for (int n = 1; n <= 12; ++n) note("  COM" + std::to_string(n) + "  " + comDevice(n));
            for (std::uint8_t code : codes()) {
                const int rate = static_cast<int>(baudRateOfCode(code));
                if (attempt([&] { return morvent::Reader::autoSerial(rate); })) {
                    const int found = link_reader->port();
                    link = "COM" + std::to_string(found) + " at " + comDevice(found);
                    com = found;
                    serial_com = found;
                    answeredAt(code);
                    status = MORVENT_OK;
                    break;
                }
            }
            tried.push_back("COM1..COM12");
        }
        if (status != MORVENT_OK) {
            link.clear();
            for (const std::string& name : tried) link += (link.empty() ? "" : ", ") + name;
        }
        if (status == MORVENT_OK) note("found a reader on " + link);
    } else {
        throw UsageError("no reader link: give --tcp HOST:PORT, --com N or --auto (or --device PATH)");
    }
    if (status != MORVENT_OK && !network && !baud_given && reason.empty()) {
        hint = "no reader answered at " + rateText(baud_code) +
               "; if its rate was changed (config set baud), give --baud RATE or --baud auto" +
               (address_option ? "" : "; on a bus of several readers, give --address");
    }
    if (status != MORVENT_OK || !link_reader) throw Failure{status, "cannot open " + link, {}, hint, reason};
    link_reader->useAddress(address_option.value_or(link_reader->answeredAddress()));
    return *link_reader;
}

void Context::close() { link_reader.reset(); }

bool Context::reconnect(int status) {
    close();
    warn("link lost (" + statusLine(status) + "); reconnecting to " + link);
    morvent_common::Backoff backoff{200, 5000};
    for (int attempt = 1; !interrupted(); ++attempt) {
        try {
            reader();
            ++reconnects;
            warn("reconnected to " + link + (attempt > 1 ? " after " + std::to_string(attempt) + " attempts" : ""));
            return true;
        } catch (const Failure& failure) {
            const std::int64_t wait_ms = backoff.next();
            warn("reconnecting: " + failure.cause() + "; next attempt in " + std::to_string(wait_ms) + " ms");
            pauseUnlessInterrupted(static_cast<long>(wait_ms));
        }
    }
    return false;
}

void Context::check(int status, const std::string& what, Document details) const {
    if (status != MORVENT_OK) throw Failure{status, what.empty() ? command : what, std::move(details), {}};
}

Failure Context::failure(const morvent::Error& error, const std::string& what) const {
    Document details;
    if (error.status() == MORVENT_TAG_ERROR && error.tagError() >= 0) {
        const int code = error.tagError();
        StatusInfo info = describeTagError(code);
        details.add("tag_error", Value::custom(Json{{"code", code}, {"name", info.name}, {"meaning", info.meaning}},
                                               tagErrorLine(code)));
    }
    return Failure{error.status(), what.empty() ? command : what, std::move(details), {}, error.reason()};
}

void Context::emit(const Document& document) const {
    std::cout << (json ? renderJson(document) : renderText(document)) << std::flush;
}

void Context::note(const std::string& line) const {
    (format == Format::Text ? std::cout : std::cerr) << line << std::endl;
}

void Context::warn(const std::string& line) const { std::cerr << "morvent: " << line << std::endl; }

}  // namespace morvent_cli
