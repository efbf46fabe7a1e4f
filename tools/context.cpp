#include "context.h"

#ifdef _WIN32
#include <io.h>
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
#include "morvent.h"

namespace morvent_cli {
namespace {

// Baud codes in the order --baud auto tries them after the one asked for:
// the usual rate first, then the fastest, then the rest.
const std::uint8_t kBaudOrder[] = {5, 6, 2, 1, 0};

// The device the library opens for COMn.
std::string com_device(int number) {
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(number);
#else
    std::string variable = "MORVENT_COM" + std::to_string(number);
    const char* mapped = std::getenv(variable.c_str());
    return mapped ? std::string(mapped) + " (" + variable + ")" : "/dev/ttyS" + std::to_string(number - 1);
#endif
}

#ifndef _WIN32
// A device given by path is opened as this COM number, whose device the
// library takes from MORVENT_COM255.
constexpr int kDeviceCom = 255;

void map_device(const std::string& path) { setenv("MORVENT_COM255", path.c_str(), 1); }

// USB serial adapters and modems-class readers, in name order.
std::vector<std::string> usb_serial_devices() {
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

std::string rate_text(std::uint8_t code) { return std::to_string(baud_rate_of_code(code)) + " bit/s"; }

volatile std::sig_atomic_t g_interrupted = 0;
void on_interrupt(int) { g_interrupted = 1; }

bool stdin_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

}  // namespace

void catch_interrupts(bool on) {
    g_interrupted = 0;
    std::signal(SIGINT, on ? on_interrupt : SIG_DFL);
    std::signal(SIGTERM, on ? on_interrupt : SIG_DFL);
}

bool interrupted() { return g_interrupted != 0; }

void pause_unless_interrupted(long milliseconds) {
    for (long waited = 0; waited < milliseconds && !interrupted(); waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10L, milliseconds - waited)));
    }
}

bool output_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) != 0;
#endif
}

bool is_link_failure(int status) {
    return status == MORVENT_COMM_ERROR || status == MORVENT_INVALID_PORT || status == MORVENT_CRC_ERROR;
}

bool confirm(const Context& context, const std::string& question) {
    if (context.yes || !stdin_is_terminal()) return true;
    std::cerr << question << " This cannot be undone. Type yes to go on: " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "yes" || answer == "y";
}

void Context::configure(const Arguments& arguments) {
    int links = arguments.has("tcp") + arguments.has("com") + arguments.has("auto") + arguments.has("device");
    if (links > 1) throw UsageError("give only one of --tcp, --com, --device and --auto");
    if (auto text = arguments.value("tcp")) tcp = parse_endpoint(*text);
    if (auto text = arguments.value("com")) com = static_cast<int>(parse_number(*text, "--com", 1, 255));
    if (auto text = arguments.value("device")) {
        if (text->empty()) throw UsageError("--device: needs a path, e.g. /dev/ttyUSB0");
#ifdef _WIN32
        std::string name = *text;
        if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
        if (name.size() < 4 || (name.compare(0, 3, "COM") != 0 && name.compare(0, 3, "com") != 0)) {
            throw UsageError("--device: '" + *text + "' is not a COM device; give COMn");
        }
        com = static_cast<int>(parse_number(name.substr(3), "--device", 1, 255));
#else
        device = *text;
#endif
    }
    automatic = arguments.flag("auto");
    if (auto text = arguments.value("baud")) {
        baud_given = true;
        if (*text == "auto") baud_auto = true;
        else baud_code = parse_baud(*text);
    }
    if (auto text = arguments.value("address")) address_option = parse_byte(*text, "--address");
    if (arguments.flag("json") && arguments.flag("csv")) throw UsageError("give only one of --json and --csv");
    json = arguments.flag("json");
    format = json ? Format::Json : arguments.flag("csv") ? Format::Csv : Format::Text;
    yes = arguments.flag("yes");
}

int Context::handle() {
    if (port >= 0) return port;
    int opened = -1;
    int status = MORVENT_COMM_ERROR;
    std::string hint;
    // One serial opening at each baud code to try; says which one answered.
    auto open_serial = [&](int number) {
        std::vector<std::uint8_t> codes{baud_code};
        if (baud_auto) {
            for (std::uint8_t code : kBaudOrder) {
                if (code != baud_code) codes.push_back(code);
            }
        }
        for (std::uint8_t code : codes) {
            status = OpenComPort(number, &reader_address, code, &opened);
            if (status == MORVENT_OK) {
                if (baud_auto) note("the reader answered at " + rate_text(code) + " (--baud " +
                                    std::to_string(baud_rate_of_code(code)) + ")");
                baud_code = code;
                baud_auto = false;  // a reconnection goes straight to the rate that answered
                serial_com = number;
                return true;
            }
            if (status == MORVENT_PORT_OPEN || status == MORVENT_INVALID_PORT) break;
        }
        return false;
    };
    if (tcp) {
        link = "TCP " + tcp->host + ":" + std::to_string(tcp->port);
        status = OpenNetPort(tcp->port, tcp->host.c_str(), &reader_address, &opened);
        network = true;
    } else if (com) {
        link = "COM" + std::to_string(*com) + " at " + com_device(*com);
        open_serial(*com);
#ifndef _WIN32
    } else if (device) {
        link = *device;
        map_device(*device);
        open_serial(kDeviceCom);
#endif
    } else if (automatic) {
        std::vector<std::string> tried;
#ifndef _WIN32
        for (const std::string& path : usb_serial_devices()) {
            if (serial_com != 0) break;
            note("looking for a reader on " + path);
            map_device(path);
            if (open_serial(kDeviceCom)) {
                link = path;
                device = path;
            }
            tried.push_back(path);
        }
#endif
        if (serial_com == 0) {
            note("looking for a reader on COM1..COM12:");
            for (int n = 1; n <= 12; ++n) note("  COM" + std::to_string(n) + "  " + com_device(n));
            std::vector<std::uint8_t> codes{baud_code};
            if (baud_auto) {
                for (std::uint8_t code : kBaudOrder) {
                    if (code != baud_code) codes.push_back(code);
                }
            }
            for (std::uint8_t code : codes) {
                int found = -1;
                status = AutoOpenComPort(&found, &reader_address, code, &opened);
                if (status == MORVENT_OK) {
                    link = "COM" + std::to_string(found) + " at " + com_device(found);
                    com = found;
                    serial_com = found;
                    baud_code = code;
                    if (baud_auto) note("the reader answered at " + rate_text(code));
                    baud_auto = false;
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
    if (status != MORVENT_OK && !network && !baud_given) {
        hint = "no reader answered at " + rate_text(baud_code) +
               "; if its rate was changed (config set baud), give --baud RATE or --baud auto";
    }
    if (status != MORVENT_OK) throw Failure{status, "cannot open " + link, {}, hint};
    port = opened;
    return port;
}

std::uint8_t* Context::address() {
    handle();
    if (address_option) reader_address = *address_option;
    return &reader_address;
}

void Context::close() {
    if (port < 0) return;
    if (network) CloseNetPort(port);
    else CloseSpecComPort(port);
    port = -1;
}

bool Context::reconnect(int status) {
    close();
    warn("link lost (" + status_line(status) + "); reconnecting to " + link);
    long wait_ms = 200;
    for (int attempt = 1; !interrupted(); ++attempt) {
        try {
            handle();
            ++reconnects;
            warn("reconnected to " + link + (attempt > 1 ? " after " + std::to_string(attempt) + " attempts" : ""));
            return true;
        } catch (const Failure& failure) {
            warn("reconnecting: " + status_line(failure.status) + "; next attempt in " +
                 std::to_string(wait_ms) + " ms");
        }
        pause_unless_interrupted(wait_ms);
        wait_ms = std::min(wait_ms * 2, 5000L);
    }
    return false;
}

void Context::check(int status, const std::string& what, Document details) const {
    if (status != MORVENT_OK) throw Failure{status, what.empty() ? command : what, std::move(details), {}};
}

void Context::emit(const Document& document) const {
    std::cout << (json ? render_json(document) : render_text(document)) << std::flush;
}

void Context::note(const std::string& line) const {
    (format == Format::Text ? std::cout : std::cerr) << line << std::endl;
}

void Context::warn(const std::string& line) const { std::cerr << "morvent: " << line << std::endl; }

}  // namespace morvent_cli
