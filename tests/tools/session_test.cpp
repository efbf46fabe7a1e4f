// Whole sessions of the morvent tool against the simulated reader, and bad
// input that must be refused before anything is sent.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "morvent.h"
#include "process.h"
#include "sim/scenario.h"

using clitest::Outcome;
using Json = nlohmann::json;

namespace {

const char kProtectedTag[] = "300011112222333344445555";  // access password 12345678
const char kFirstTag[] = "E20034120123456789ABCDEF";
const char kGs1Tag[] = "3074257BF7194E4000001A85";
const char kGs1Uri[] = "urn:epc:id:sgtin:0614141.812345.6789";
const std::size_t kDefaultTags = sim::defaultScenario().gen2.size();

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Each line of a stream of JSON lines; a line that does not parse fails the test.
std::vector<Json> json_lines(const std::string& text) {
    std::vector<Json> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (line.empty()) continue;
        Json parsed = Json::parse(line, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << line;
        lines.push_back(parsed);
    }
    return lines;
}

// A tag shows the GS1 identity of an EPC that has one, and no uri where there is none.
void expectIdentity(const Json& tag) {
    if (tag.value("epc", "") == kGs1Tag) {
        EXPECT_EQ(tag.value("uri", ""), kGs1Uri) << tag;
    }
    if (tag.value("epc", "") == kFirstTag) {
        EXPECT_FALSE(tag.contains("uri")) << tag;
    }
}

Json json_of(const Outcome& outcome) {
    Json parsed = Json::parse(outcome.out, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << outcome.out << outcome.err;
    return parsed;
}

class Session : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // One simulator per test process; ctest runs several at once.
        pty_ = clitest::scratch_dir("session") + "/com3-" + std::to_string(getpid());
        sim_ = std::make_unique<clitest::Simulator>(pty_);
    }
    static void TearDownTestSuite() { sim_.reset(); }

    // morvent --tcp SIM ARGS...
    Outcome tool(std::vector<std::string> args) {
        args.insert(args.begin(), {MORVENT_TOOL_PATH, "--tcp", sim_->tcp()});
        return clitest::run(args);
    }
    Outcome serial_tool(std::vector<std::string> args) {
        args.insert(args.begin(), {MORVENT_TOOL_PATH, "--com", "3"});
        return clitest::run(args, {"MORVENT_COM3=" + pty_});
    }

    static std::string pty_;
    static std::unique_ptr<clitest::Simulator> sim_;
};

std::string Session::pty_;
std::unique_ptr<clitest::Simulator> Session::sim_;

TEST_F(Session, InventoryOverTcpAndSerialListsTheSameField) {
    Outcome tcp = tool({"inventory", "--json"});
    ASSERT_EQ(tcp.exit_code, 0) << tcp.err;
    const Json field = json_of(tcp);
    EXPECT_EQ(field["tag_count"], kDefaultTags) << tcp.out;
    ASSERT_EQ(field["tags"].size(), kDefaultTags) << tcp.out;
    EXPECT_TRUE(contains(tcp.out, std::string("\"epc\": \"") + kFirstTag + "\"")) << tcp.out;
    for (const Json& tag : field["tags"]) {
        expectIdentity(tag);
        EXPECT_EQ(tag["words"], tag["epc"].get<std::string>().size() / 4) << tag;  // the EPC's length in words
    }

    Outcome serial = serial_tool({"inventory"});
    ASSERT_EQ(serial.exit_code, 0) << serial.err;
    EXPECT_TRUE(contains(serial.out, "MORVENT_INVENTORY_DONE (0x01, 1)")) << serial.out;
    EXPECT_TRUE(contains(serial.out, kFirstTag)) << serial.out;

    Outcome masked = tool({"inventory", "--mask", "3000", "--tid", "0,2"});
    ASSERT_EQ(masked.exit_code, 0) << masked.err;
    EXPECT_TRUE(contains(masked.out, "tag count  2")) << masked.out;
    EXPECT_FALSE(contains(masked.out, kFirstTag)) << masked.out;

    // A host name is looked up.
    Outcome iso6b = clitest::run({MORVENT_TOOL_PATH, "--tcp", "localhost:" + std::to_string(sim_->tcp_port()),
                                  "inventory", "--6b"});
    ASSERT_EQ(iso6b.exit_code, 0) << iso6b.err;
    EXPECT_TRUE(contains(iso6b.out, "E004010012345678")) << iso6b.out;
}

TEST_F(Session, WrittenUserMemoryReadsBackByEpcAndByMask) {
    Outcome write = tool({"write", "--epc", kFirstTag, "--bank", "user", "--ptr", "8", "--data", "CAFE BABE"});
    ASSERT_EQ(write.exit_code, 0) << write.err;
    EXPECT_TRUE(contains(write.out, "words written  2")) << write.out;

    Outcome by_epc = tool({"read", "--epc", kFirstTag, "--bank", "user", "--ptr", "8", "--count", "2", "--json"});
    ASSERT_EQ(by_epc.exit_code, 0) << by_epc.err;
    EXPECT_TRUE(contains(by_epc.out, "\"data\": \"CAFEBABE\"")) << by_epc.out;

    Outcome by_mask = tool({"read", "--mask", "E2003412", "--bank", "3", "--ptr", "9", "--count", "1"});
    ASSERT_EQ(by_mask.exit_code, 0) << by_mask.err;
    EXPECT_TRUE(contains(by_mask.out, "data          BABE")) << by_mask.out;
}

TEST_F(Session, ReaderAndTagFailuresAreNamedWithNumberAndMeaning) {
    Outcome wrong_password = tool({"read", "--epc", kProtectedTag, "--bank", "reserved", "--count", "2", "--password",
                               "00000001"});
    EXPECT_EQ(wrong_password.exit_code, 1);
    EXPECT_TRUE(contains(wrong_password.err, "MORVENT_TAG_ERROR (0xFC, 252): the tag reported an error"))
        << wrong_password.err;
    EXPECT_TRUE(contains(wrong_password.err, "tag error 0x05 MORVENT_TAG_ERR_PASSWORD")) << wrong_password.err;

    Outcome json = tool({"--json", "read", "--epc", "AAAA", "--bank", "user", "--count", "1"});
    EXPECT_EQ(json.exit_code, 1);
    EXPECT_EQ(json_of(json)["status"]["code"], 251);
    EXPECT_EQ(json_of(json)["status"]["name"], "MORVENT_NO_TAG");

    Outcome refused = tool({"config", "set", "power", "40"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(contains(refused.err, "config set power: MORVENT_PARAM_RANGE (0xFF, 255)")) << refused.err;
}

TEST_F(Session, SettingsChangeAndReadBack) {
    ASSERT_EQ(tool({"config", "set", "power", "17"}).exit_code, 0);
    ASSERT_EQ(tool({"config", "set", "region", "3,0"}).exit_code, 0);
    ASSERT_EQ(tool({"config", "set", "auto-mask", "E200", "epc", "32"}).exit_code, 0);
    Outcome get = tool({"--json", "config", "get", "power", "region", "auto-mask", "serial"});
    ASSERT_EQ(get.exit_code, 0) << get.err;
    Json settings = json_of(get);
    EXPECT_EQ(settings["power"], 17);
    EXPECT_EQ(settings["region"]["bytes"], (Json{3, 0}));
    EXPECT_EQ(settings["auto_mask"], (Json{{"mask", "E200"}, {"bank", {{"code", 1}, {"name", "epc"}}}, {"bit", 32}, {"bits", 16}}));
    EXPECT_TRUE(settings["serial"].is_number()) << get.out;

    Outcome info = serial_tool({"info"});
    ASSERT_EQ(info.exit_code, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "power           17")) << info.out;
    ASSERT_EQ(tool({"config", "set", "power", "30"}).exit_code, 0);
}

TEST_F(Session, WatchCountsEveryRoundAndStopsOnInterrupt) {
    // One JSON line per sighting as it happens, then the summary.
    Outcome rounds = tool({"inventory", "--watch", "--rounds", "3", "--interval", "0", "--json"});
    ASSERT_EQ(rounds.exit_code, 0) << rounds.err;
    std::vector<Json> lines = json_lines(rounds.out);
    ASSERT_EQ(lines.size(), 3 * kDefaultTags + 1) << rounds.out;
    EXPECT_EQ(lines[kDefaultTags]["round"], 2);
    EXPECT_EQ(lines[kDefaultTags]["count"], 2);
    EXPECT_EQ(lines.back()["tags_seen"], kDefaultTags);
    for (const Json& tag : lines.back()["tags"]) EXPECT_EQ(tag["count"], 3) << tag;
    for (const Json& line : lines) expectIdentity(line);

    Outcome interrupted = clitest::run_and_signal({MORVENT_TOOL_PATH, "--tcp", sim_->tcp(), "inventory", "--watch", "--json"},
                                              SIGINT, 1500);
    EXPECT_EQ(interrupted.exit_code, 0) << interrupted.err;
    Json summary = json_lines(interrupted.out).back();
    EXPECT_EQ(summary["tags_seen"], kDefaultTags) << interrupted.out;
    EXPECT_EQ(summary["failed_rounds"], 0) << interrupted.out;
    EXPECT_TRUE(contains(interrupted.out, kFirstTag)) << interrupted.out;

    Outcome csv = tool({"inventory", "--watch", "--rounds", "1", "--csv"});
    ASSERT_EQ(csv.exit_code, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("time,round,epc,count,uri\n", 0), 0u) << csv.out;
    EXPECT_EQ(occurrences(csv.out, "\n"), kDefaultTags + 1) << csv.out;
    EXPECT_TRUE(contains(csv.out, std::string(",") + kGs1Tag + ",1," + kGs1Uri + "\n")) << csv.out;
}

TEST(CliWatch, GoesOnThroughRoundsTheLinkSpoils) {
    // Half the answers are never sent; each such round fails after the
    // receive time-out and the watch carries on.
    clitest::Simulator lossy(clitest::scratch_dir("lossy") + "/com-" + std::to_string(getpid()),
                             {"--drop", "0.5", "--seed", "3"});
    Outcome watch = clitest::run({MORVENT_TOOL_PATH, "--tcp", lossy.tcp(), "--json", "inventory", "--watch",
                                  "--rounds", "8", "--interval", "0"});
    ASSERT_EQ(watch.exit_code, 0) << watch.err;
    Json summary = json_lines(watch.out).back();
    EXPECT_EQ(summary["tags_seen"], kDefaultTags) << watch.out;
    EXPECT_GT(summary["failed_rounds"], 0) << watch.out;
    EXPECT_TRUE(contains(watch.err, "MORVENT_COMM_ERROR (0x30, 48)")) << watch.err;
    // The link is reopened at the second failed round in a row, not at the first.
    int reopened = 0, in_a_row = 0, last = -1;
    for (const Json& line : json_lines(watch.out)) {
        if (!line.contains("error")) continue;
        in_a_row = line["round"] == last + 1 ? in_a_row + 1 : 1;
        last = line["round"];
        if (in_a_row == 2) ++reopened, in_a_row = 0;
    }
    EXPECT_EQ(summary["reconnects"], reopened) << watch.out;
}

TEST_F(Session, ActiveModeFramesAndTheTagBuffer) {
    ASSERT_EQ(tool({"buffer", "clear"}).exit_code, 0);
    ASSERT_EQ(tool({"inventory"}).exit_code, 0);
    Outcome buffer = tool({"buffer", "read"});
    ASSERT_EQ(buffer.exit_code, 0) << buffer.err;
    EXPECT_TRUE(contains(buffer.out, "record count  " + std::to_string(kDefaultTags))) << buffer.out;

    ASSERT_EQ(tool({"config", "set", "work-mode", "1"}).exit_code, 0);
    Outcome active = tool({"--json", "active", "--frames", "3", "--seconds", "20"});
    Outcome leave = tool({"config", "set", "work-mode", "0"});
    EXPECT_EQ(leave.exit_code, 0) << leave.err;
    ASSERT_EQ(active.exit_code, 0) << active.err;
    EXPECT_EQ(json_lines(active.out).size(), 3u) << active.out;
    EXPECT_TRUE(contains(active.out, "00EE00")) << active.out;  // address 0, command 0xEE, status 0
}

TEST_F(Session, SixBAndTransparentCommands) {
    Outcome read = tool({"6b", "read", "--uid", "E004010012345678", "--start", "18", "--count", "5"});
    ASSERT_EQ(read.exit_code, 0) << read.err;
    EXPECT_TRUE(contains(read.out, "48656C6C6F")) << read.out;  // "Hello"

    Outcome lock = tool({"6b", "lock", "--uid", "E004010087654321", "--byte", "20", "--check", "--json"});
    ASSERT_EQ(lock.exit_code, 0) << lock.err;
    EXPECT_TRUE(contains(lock.out, "\"lock_state\": 1")) << lock.out;

    Outcome raw = tool({"raw", "--param", "7", "01 02 03"});
    ASSERT_EQ(raw.exit_code, 0) << raw.err;
    EXPECT_TRUE(contains(raw.out, "answer         01 02 03")) << raw.out;
}

TEST_F(Session, EveryCommandsJsonOutputParses) {
    const std::vector<std::vector<std::string>> commands = {
        {"info"}, {"inventory"}, {"inventory", "--6b"}, {"inventory", "--tid", "0,2"},
        {"read", "--epc", kFirstTag, "--bank", "tid", "--count", "2"},
        {"write", "--epc", kFirstTag, "--bank", "user", "--ptr", "12", "--data", "0102"},
        {"erase", "--mask", "E2003412", "--bank", "user", "--ptr", "12", "--count", "1"},
        {"lock", "--epc", kFirstTag, "--area", "user", "--mode", "writable"},
        {"eas", "set", "--epc", kFirstTag, "--state", "off"}, {"eas", "alarm"}, {"privacy", "check"},
        {"config", "list"}, {"config", "get"}, {"config", "set", "beep", "0"}, {"buffer", "read"},
        {"6b", "read", "--uid", "E004010012345678", "--start", "0", "--count", "4"},
        {"6b", "lock", "--uid", "E004010087654321", "--byte", "20", "--check"}, {"raw", "01"},
        {"read", "--epc", kProtectedTag, "--bank", "reserved", "--count", "2", "--password", "00000001"},
        {"config", "set", "power", "99"},
    };
    for (std::vector<std::string> command : commands) {
        command.push_back("--json");
        Outcome outcome = tool(command);
        Json parsed = json_of(outcome);
        ASSERT_TRUE(parsed.is_object()) << command[0] << outcome.out;
        if (outcome.exit_code != 0) {
            EXPECT_TRUE(parsed.contains("error")) << outcome.out;
            EXPECT_TRUE(parsed["status"]["name"].is_string()) << outcome.out;
            EXPECT_TRUE(parsed["status"]["meaning"].is_string()) << outcome.out;
        }
    }
    Json written = json_of(tool({"--json", "write", "--epc", kFirstTag, "--bank", "user", "--data", "0000"}));
    EXPECT_EQ(written["tag"], kFirstTag);
    EXPECT_EQ(written["bank"], (Json{{"code", 3}, {"name", "user"}}));
}

TEST_F(Session, WriteEpcActsOnTheChosenTagOnly) {
    ASSERT_EQ(tool({"write-epc", "--epc", "3000AAAABBBB", "11112222"}).exit_code, 0);
    Outcome after = tool({"inventory"});
    EXPECT_TRUE(contains(after.out, "11112222 ")) << after.out;
    EXPECT_TRUE(contains(after.out, kFirstTag)) << after.out;
    // A GS1 identity is encoded, filter and all, and said back.
    Outcome uri = tool({"write-epc", "--mask", "11112222", "--uri", "urn:epc:id:giai:0614141.777", "--filter", "2", "--json"});
    ASSERT_EQ(uri.exit_code, 0) << uri.err;
    EXPECT_EQ(json_of(uri)["new_uri"], "urn:epc:id:giai:0614141.777");
    const std::string written = json_of(uri)["new_epc"];
    EXPECT_TRUE(contains(tool({"inventory"}).out, written + "      6  urn:epc:id:giai:0614141.777\n"));
    ASSERT_EQ(tool({"write-epc", "--epc", written, "3000AAAABBBB"}).exit_code, 0);
    EXPECT_TRUE(contains(tool({"inventory"}).out, "3000AAAABBBB")) ;
}

// GS1 identities need no reader: decoded by the parts' names, encoded back,
// and an EPC that is none is a failure with the reason.
TEST(CliEpc, DecodesEncodesAndNamesWhyAnEpcIsNone) {
    Outcome decoded = clitest::run({MORVENT_TOOL_PATH, "epc", "decode", kGs1Tag, "--json"});
    ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
    const Json id = json_of(decoded);
    EXPECT_EQ(id["uri"], kGs1Uri);
    EXPECT_EQ(id["tag_uri"], "urn:epc:tag:sgtin-96:3.0614141.812345.6789");
    EXPECT_EQ(id["element_string"], "(01)80614141123458(21)6789");
    EXPECT_EQ(id["digital_link"], "https://id.gs1.org/01/80614141123458/21/6789");
    EXPECT_EQ(id["scheme"], "sgtin-96");
    EXPECT_EQ(id["filter"], 3);
    EXPECT_EQ(id["key"], "80614141123458");
    EXPECT_EQ(id["serial"], "6789");
    Outcome encoded = clitest::run({MORVENT_TOOL_PATH, "epc", "encode", kGs1Uri, "--filter", "3", "--json"});
    EXPECT_EQ(json_of(encoded)["epc"], kGs1Tag) << encoded.err;

    Outcome none = clitest::run({MORVENT_TOOL_PATH, "epc", "decode", kFirstTag});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_EQ(none.err, std::string("morvent: epc decode ") + kFirstTag +
                            ": not a GS1 EPC: header 0xE2 is not the header of a GS1 EPC scheme\n");
    Outcome json = clitest::run({MORVENT_TOOL_PATH, "epc", "decode", "3074257B", "--json"});
    EXPECT_EQ(json.exit_code, 1);
    EXPECT_EQ(json_of(json)["status"]["name"], "MORVENT_EPC_NOT_GS1");
    EXPECT_TRUE(contains(json_of(json)["reason"], "sgtin-96 takes 96 bits")) << json.out;
}

TEST(CliActive, OverTheSerialLineShowsEveryTagOfTheField) {
    // A paced simulator sends at its line speed, as a reader does; the core
    // keeps at most 50 bytes per serial read, so only a tool that polls
    // often enough sees every tag of a round.
    const std::string pty = clitest::scratch_dir("paced") + "/com-" + std::to_string(getpid());
    clitest::Simulator paced(pty, {}, true);
    auto tcp = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {MORVENT_TOOL_PATH, "--tcp", paced.tcp()});
        return clitest::run(args);
    };
    ASSERT_EQ(tcp({"config", "set", "work-mode", "1"}).exit_code, 0);
    Outcome active = clitest::run({MORVENT_TOOL_PATH, "--device", pty, "--json", "active", "--frames",
                                   std::to_string(3 * kDefaultTags), "--seconds", "20"});
    Outcome leave = tcp({"config", "set", "work-mode", "0"});
    EXPECT_EQ(leave.exit_code, 0) << leave.err;
    ASSERT_EQ(active.exit_code, 0) << active.err;
    // Three rounds of the field's tags, a frame each; a tool that polls too
    // seldom loses the later frames of every round.
    std::map<std::string, int> sightings;
    for (const Json& line : json_lines(active.out)) ++sightings[line.value("epc", "")];
    EXPECT_EQ(sightings.size(), kDefaultTags) << active.out;
    for (const auto& [epc, count] : sightings) EXPECT_GE(count, 2) << epc << "\n" << active.out;
    EXPECT_EQ(sightings.count(kFirstTag), 1u) << active.out;
}

TEST(CliWatch, GoesOnAfterTheReaderIsRestartedOnTheSamePort) {
    const std::string pty = clitest::scratch_dir("restart") + "/com-" + std::to_string(getpid());
    auto first = std::make_unique<clitest::Simulator>(pty);
    const std::string port = std::to_string(first->tcp_port());
    Outcome watch;
    std::thread watcher([&] {
        watch = clitest::run_and_signal({MORVENT_TOOL_PATH, "--tcp", "127.0.0.1:" + port, "--json", "inventory",
                                         "--watch", "--interval", "100"},
                                        SIGINT, 7000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    first.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    clitest::Simulator second(pty + "b", {"--tcp", port});
    watcher.join();
    ASSERT_EQ(watch.exit_code, 0) << watch.err;
    std::vector<Json> lines = json_lines(watch.out);
    ASSERT_FALSE(lines.empty());
    // Sightings after the first failed round: the watch came back.
    auto failed = std::find_if(lines.begin(), lines.end(), [](const Json& l) { return l.contains("error"); });
    ASSERT_NE(failed, lines.end()) << watch.out;
    EXPECT_TRUE(std::any_of(failed, lines.end() - 1, [](const Json& l) { return l.contains("epc"); })) << watch.out;
    EXPECT_GE(lines.back()["reconnects"], 1) << watch.out;
    EXPECT_GE(lines.back()["failed_rounds"], 1) << watch.out;
    EXPECT_TRUE(contains(watch.err, "reconnected")) << watch.err;
}

// A listener that is never a reader: any connection to it means the tool
// sent (or tried to send) something.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 4);
        socklen_t size = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(fd_); }
    std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }
    bool connected() const {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

private:
    int fd_;
    int port_ = 0;
};

TEST(CliBadInput, IsRefusedWithAMessageAndNothingIsSent) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
        const char* typed = "";  // on a terminal, the answer typed to its question
    };
    const std::string epc17(68, 'A');
    const Case cases[] = {
        {{"read", "--epc", "E20", "--bank", "user", "--count", "1"}, "--epc: 'E20' has an odd number of hex digits (3)"},
        {{"read", "--epc", epc17, "--bank", "user", "--count", "1"}, "--epc: 17 words is too long; at most 15"},
        {{"write-epc", epc17}, "NEW_EPC: 17 words is too long"},
        {{"write", "--bank", "user", "--data", "ABC"}, "odd number of hex digits"},
        {{"write", "--bank", "user", "--data", "ABCD", "--epc", "E200", "--mask", "E2"}, "not both"},
        {{"config", "set", "loudness", "3"}, "unknown setting 'loudness'; settings are: power, region"},
        {{"config", "get", "relay"}, "cannot be read back"},
        {{"config", "set", "region", "3"}, "region: needs 2 byte values, got 1"},
        {{"read", "--bank", "user"}, "--count is required"},
        {{"read", "--bank", "flash", "--count", "1"}, "memory bank: 'flash'"},
        {{"inventory", "--frobnicate"}, "unknown option --frobnicate (see morvent inventory --help)"},
        {{"kill", "--epc", "E200"}, "kill password"},
        {{"6b", "read", "--uid", "E004", "--start", "0", "--count", "1"}, "--uid: needs exactly 8 bytes"},
        {{"raw", "0G"}, "is not hex"},
        {{"info", "--csv"}, "--csv: info prints no rows"},
        // Tag-changing commands that cannot pick their tag change none.
        {{"write", "--bank", "user", "--data", "ABCD"}, "no tag chosen: give --epc or --mask; give --any"},
        {{"erase", "--bank", "user", "--count", "1"}, "no tag chosen"},
        {{"write-epc", "1234"}, "no tag chosen"},
        {{"lock", "--area", "epc", "--mode", "permanently-locked"}, "no tag chosen"},
        {{"kill", "--password", "12345678"}, "no tag chosen"},
        {{"privacy", "set"}, "no tag chosen"},
        {{"privacy", "reset"}, "give --any"},
        {{"eas", "set", "--state", "on"}, "no tag chosen"},
        {{"write", "--epc", "E200", "--any", "--bank", "user", "--data", "ABCD"}, "already chosen"},
        // What cannot be undone is sent only once confirmed on a terminal.
        {{"lock", "--epc", "E200", "--area", "epc", "--mode", "permanently-locked"},
         "not confirmed; nothing was sent",
         "no\n"},
        {{"lock", "--epc", "E200", "--area", "user", "--mode", "permanently-writable"}, "not confirmed", "no\n"},
        {{"kill", "--epc", "E200", "--password", "12345678"}, "not confirmed", "no\n"},
        {{"6b", "lock", "--uid", "E004010087654321", "--byte", "20"}, "not confirmed", "no\n"},
        // GS1 identities that cannot be the new EPC.
        {{"write-epc", "--any", "--uri", "urn:epc:id:sgtin:0614141.812345.67890123456789", "--bits", "96"},
         "cannot encode 'urn:epc:id:sgtin:0614141.812345.67890123456789': the serial"},
        {{"write-epc", "--any", "--uri", "urn:epc:id:sgtin:0614141.812345.6789", "1234"}, "give NEW_EPC or --uri"},
        {{"write-epc", "--any", "1234", "--filter", "1"}, "--filter goes with --uri"},
        {{"epc", "encode", "urn:epc:id:sgtin:0614141.812345.6789", "--filter", "8"}, "--filter: 8 is out of range 0..7"},
        {{"epc", "decode", "3074257"}, "odd number of hex digits"},
    };
    Listener listener;
    for (const Case& c : cases) {
        std::vector<std::string> argv{MORVENT_TOOL_PATH, "--tcp", listener.endpoint()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Outcome result = clitest::run(argv, {}, 30000, c.typed);
        EXPECT_EQ(result.exit_code, 2) << c.message;
        EXPECT_TRUE(contains(result.err, c.message)) << "wanted: " << c.message << "\ngot: " << result.err;
        EXPECT_FALSE(listener.connected()) << c.message;
        // Under --json the refusal is a JSON object on stdout too.
        argv.push_back("--json");
        Json error = json_of(clitest::run(argv, {}, 30000, c.typed));
        EXPECT_TRUE(contains(error.value("error", ""), c.message)) << c.message;
    }
}

TEST(CliBadInput, LinkProblemsAreExplained) {
    Outcome no_link = clitest::run({MORVENT_TOOL_PATH, "info"});
    EXPECT_EQ(no_link.exit_code, 2);
    EXPECT_TRUE(contains(no_link.err, "no reader link: give --tcp HOST:PORT, --com N or --auto")) << no_link.err;

    std::string closed_port;
    {
        Listener gone;  // its port refuses connections once it is closed
        closed_port = gone.endpoint();
    }
    Outcome refused = clitest::run({MORVENT_TOOL_PATH, "--tcp", closed_port, "info"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(contains(refused.err, "cannot open TCP " + closed_port + ": MORVENT_COMM_ERROR (0x30, 48)"))
        << refused.err;

    // A missing device is named, with no word of baud rates.
    Outcome missing = clitest::run({MORVENT_TOOL_PATH, "--device", "/dev/no-such-reader", "info"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.err, "morvent: cannot open /dev/no-such-reader: no such device /dev/no-such-reader\n");

    Outcome low_port = clitest::run({MORVENT_TOOL_PATH, "--tcp", "127.0.0.1:80", "info"});
    EXPECT_EQ(low_port.exit_code, 2);
    EXPECT_TRUE(contains(low_port.err, "out of range 1024..65535")) << low_port.err;
}

TEST(CliHelp, EveryCommandExplainsItsOptions) {
    Outcome help = clitest::run({MORVENT_TOOL_PATH, "--help"});
    ASSERT_EQ(help.exit_code, 0);
    for (const char* command : {"info", "inventory", "read", "write", "erase", "write-epc", "lock", "kill",
                                "privacy set", "eas set", "6b read", "config set", "buffer read", "active", "raw"}) {
        EXPECT_TRUE(contains(help.out, std::string("  ") + command + " ")) << command;
    }
    Outcome read = clitest::run({MORVENT_TOOL_PATH, "read", "--help"});
    EXPECT_EQ(read.exit_code, 0);
    EXPECT_TRUE(contains(read.out, "--count N")) << read.out;
    Outcome config = clitest::run({MORVENT_TOOL_PATH, "config", "set", "--help"});
    EXPECT_TRUE(contains(config.out, "scan-time")) << config.out;
    Outcome group = clitest::run({MORVENT_TOOL_PATH, "privacy"});
    EXPECT_EQ(group.exit_code, 2);
    EXPECT_TRUE(contains(group.out, "privacy check")) << group.out;
    Outcome version = clitest::run({MORVENT_TOOL_PATH, "--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("morvent ") + MorventVersion() + "\n");
}

}  // namespace
