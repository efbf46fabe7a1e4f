#include "context.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "morvent.h"

namespace morvent_cli {
namespace {

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

volatile std::sig_atomic_t g_interrupted = 0;
void on_interrupt(int) { g_interrupted = 1; }

}  // namespace

void catch_interrupts(bool on) {
    g_interrupted = 0;
    std::signal(SIGINT, on ? on_interrupt : SIG_DFL);
    std::signal(SIGTERM, on ? on_interrupt : SIG_DFL);
}

bool interrupted() { return g_interrupted != 0; }

void pause_unless_interrupted(long milliseconds) {
    for (long waited = 0; waited < milliseconds && !interrupted(); waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool output_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) != 0;
#endif
}

void Context::configure(const Arguments& arguments) {
    int links = arguments.has("tcp") + arguments.has("com") + arguments.has("auto");
    if (links > 1) throw UsageError("give only one of --tcp, --com and --auto");
    if (auto text = arguments.value("tcp")) tcp = parse_endpoint(*text);
    if (auto text = arguments.value("com")) com = static_cast<int>(parse_number(*text, "--com", 1, 255));
    automatic = arguments.flag("auto");
    if (auto text = arguments.value("baud")) baud_code = parse_baud(*text);
    if (auto text = arguments.value("address")) address_option = parse_byte(*text, "--address");
    json = arguments.flag("json");
}

int Context::handle() {
    if (port >= 0) return port;
    int opened = -1;
    int status;
    std::string link;
    if (tcp) {
        link = "TCP " + tcp->host + ":" + std::to_string(tcp->port);
        status = OpenNetPort(tcp->port, tcp->host.c_str(), &reader_address, &opened);
        network = true;
    } else if (com) {
        link = "COM" + std::to_string(*com) + " at " + com_device(*com);
        status = OpenComPort(*com, &reader_address, baud_code, &opened);
    } else if (automatic) {
        note("looking for a reader on COM1..COM12:");
        for (int n = 1; n <= 12; ++n) note("  COM" + std::to_string(n) + "  " + com_device(n));
        int found = -1;
        status = AutoOpenComPort(&found, &reader_address, baud_code, &opened);
        link = found > 0 ? "COM" + std::to_string(found) + " at " + com_device(found) : "COM1..COM12";
        if (status == MORVENT_OK) note("found a reader on " + link);
    } else {
        throw UsageError("no reader link: give --tcp HOST:PORT, --com N or --auto");
    }
    check(status, "cannot open " + link);
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

void Context::check(int status, const std::string& what, Document details) const {
    if (status != MORVENT_OK) throw Failure{status, what.empty() ? command : what, std::move(details)};
}

void Context::emit(const Document& document) const {
    std::cout << (json ? render_json(document) : render_text(document)) << std::flush;
}

void Context::note(const std::string& line) const { (json ? std::cerr : std::cout) << line << std::endl; }

}  // namespace morvent_cli
