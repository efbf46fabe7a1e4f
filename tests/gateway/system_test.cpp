// morventd as deployed: real broker, simulated readers, the gateway's own
// processes. Each test checks delivery by seq against what the spool says
// was produced, so a lost or reused seq fails whatever the timing.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <list>
#include <memory>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "gateway_support.h"
#include "sim/scenario.h"
#include "support/tcp_proxy.h"

using namespace gwtest;

namespace {

const std::size_t kDefaultTags = sim::defaultScenario().gen2.size();

class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "gateway-scratch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        dir_ = std::string(cwd) + "/" + pattern;
        broker_ = std::make_unique<Broker>(dir_);
    }
    void TearDown() override {
        gateways_.clear();
        broker_.reset();
        if (!HasFailure()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    // One reader line per simulator: {name, port}.
    std::string config(const std::string& id, const std::vector<std::pair<std::string, int>>& readers,
                       const std::string& extra = "", int httpPort = 0, const std::string& mqtt = "") {
        const std::string path = dir_ + "/" + id + ".toml";
        std::ofstream f(path);
        f << "[gateway]\nid = \"" << id << "\"\nspool = \"" << spool(id) << "\"\nhttp = \""
          << (httpPort ? "127.0.0.1:" + std::to_string(httpPort) : "") << "\"\n"
          << "[mqtt]\n"
          << (mqtt.empty() ? "url = \"mqtt://127.0.0.1:" + std::to_string(broker_->port()) + "\"\n" : mqtt)
          << "prefix = \"t\"\n"
          << "[events]\nreport_every_s = 0.1\ndepart_after_s = 1\n[spool]\ncommit_ms = 10\n"
          << extra;
        for (const auto& [name, port] : readers)
            f << "[[reader]]\nname = \"" << name << "\"\ntcp = \"127.0.0.1:" << port << "\"\npoll_interval_ms = 20\n";
        return path;
    }
    std::string spool(const std::string& id) const { return dir_ + "/" + id + ".db"; }

    Process& startGateway(const std::string& configPath) {
        // One log per gateway id (the config file's name).
        const std::string id = configPath.substr(configPath.rfind('/') + 1);
        gateways_.emplace_back(std::vector<std::string>{MORVENTD_PATH, "--config", configPath}, dir_, "morventd-" + id);
        return gateways_.back();
    }

    // Seqs seen at the subscriber plus those still in the spool cover every
    // seq the gateway gave out, and a seq seen twice carried the same event.
    void expectNothingLost(const std::vector<Event>& seen, const std::string& id, bool exactlyOnce) {
        const SpoolView view = readSpool(spool(id));
        ASSERT_GT(view.nextSeq, 1u) << "no event was produced";
        std::map<std::uint64_t, std::string> bySeq;
        std::size_t duplicates = 0;
        for (const Event& e : seen) {
            auto [it, fresh] = bySeq.emplace(e.seq, e.payload);
            if (!fresh) {
                ++duplicates;
                EXPECT_EQ(it->second, e.payload) << "seq " << e.seq << " reused for another event";
            }
        }
        for (std::uint64_t s : view.waiting) bySeq.emplace(s, "");
        std::vector<std::uint64_t> missing;
        for (std::uint64_t s = 1; s < view.nextSeq; ++s)
            if (!bySeq.count(s)) missing.push_back(s);
        EXPECT_TRUE(missing.empty()) << missing.size() << " seqs lost, first " << missing.front() << " of "
                                     << view.nextSeq - 1;
        if (exactlyOnce) {
            EXPECT_EQ(duplicates, 0u);
            EXPECT_TRUE(view.waiting.empty()) << view.waiting.size() << " events left unacknowledged";
            // In order per reader.
            std::map<std::string, std::uint64_t> last;
            for (const Event& e : seen) {
                EXPECT_GT(e.seq, last[e.reader]) << "out of order on " << e.reader;
                last[e.reader] = e.seq;
            }
        }
    }

    std::string dir_;
    std::unique_ptr<Broker> broker_;
    std::list<Process> gateways_;
};

// Nothing fails: two gateways into one broker, each with two readers; every
// event arrives exactly once, in order per reader, each gateway with its own
// seq. A second instance on a spool in use is refused and disturbs nothing;
// a clean stop leaves one "offline" and nothing amiss in the broker's log.
TEST_F(GatewayTest, TwoGatewaysDeliverEveryEventExactlyOnceInOrder) {
    Subscriber sub(broker_->port(), "exactly-once");
    Sim a(dir_), b(dir_), c(dir_), d(dir_);
    const std::string first = config("gw-1", {{"door-a", a.port()}, {"door-b", b.port()}});
    Process& g1 = startGateway(first);
    Process& g2 = startGateway(config("gw-2", {{"shelf", c.port()}, {"gate", d.port()}}));
    ASSERT_TRUE(waitFor([&] { return events(sub.messages(), "gw-1").size() > 100 && events(sub.messages(), "gw-2").size() > 100; },
                        20000))
        << g1.err() << g2.err();
    Process again({MORVENTD_PATH, "--config", first}, dir_, "again");
    EXPECT_EQ(again.stop(0, 10000), 1);
    EXPECT_NE(again.err().find("spool " + spool("gw-1") + " is in use by another morventd, PID " + std::to_string(g1.pid())),
              std::string::npos)
        << again.err();
    const std::size_t refused = events(sub.messages(), "gw-1").size();
    EXPECT_TRUE(waitFor([&] { return events(sub.messages(), "gw-1").size() > refused + 50; }, 10000)) << g1.err();
    EXPECT_EQ(g1.stop(SIGTERM), 0) << g1.err();
    EXPECT_EQ(g2.stop(SIGTERM), 0) << g2.err();
    waitFor([] { return false; }, 300);  // the last messages reach the subscriber
    const auto messages = sub.messages();
    expectNothingLost(events(messages, "gw-1"), "gw-1", true);
    expectNothingLost(events(messages, "gw-2"), "gw-2", true);
    EXPECT_EQ(lastState(messages, "t/gw-1/door-a/status"), "offline");
    std::set<std::string> readers;
    for (const Event& e : events(messages, "gw-2")) readers.insert(e.reader);
    EXPECT_EQ(readers, (std::set<std::string>{"gate", "shelf"}));
    // A tag's GS1 identity rides with each of its events; a tag without one gets no uri.
    std::size_t identified = 0;
    for (const Event& e : events(messages, "gw-1")) {
        const bool gs1 = e.payload.find("\"epc\":\"3074257BF7194E4000001A85\"") != std::string::npos;
        identified += gs1;
        EXPECT_EQ(e.payload.find("\"uri\":\"urn:epc:id:sgtin:0614141.812345.6789\"") != std::string::npos, gs1) << e.payload;
        if (e.payload.find("\"epc\":\"E2003412") != std::string::npos) {
            EXPECT_EQ(e.payload.find("uri"), std::string::npos);
        }
    }
    EXPECT_GT(identified, 0u);
    std::string gatewayStates;
    for (const Message& m : messages)
        if (m.topic == "t/gw-1/status") gatewayStates += m.payload + " ";
    EXPECT_EQ(gatewayStates, "online offline ");
    EXPECT_EQ(broker_->log().find("morventd-gw-1 disconnected due to"), std::string::npos) << broker_->log();
}

// The broker goes away for a while and comes back: events keep being spooled
// and the backlog drains; no seq is missing.
TEST_F(GatewayTest, BrokerOutageLosesNothing) {
    Subscriber sub(broker_->port(), "outage");
    Sim a(dir_);
    Process& g = startGateway(config("gw", {{"door-a", a.port()}}));
    ASSERT_TRUE(waitFor([&] { return events(sub.messages(), "gw").size() > 20; }, 20000)) << g.err();
    broker_->stop();
    waitFor([] { return false; }, 1500);
    broker_->start();
    const std::size_t before = events(sub.messages(), "gw").size();
    ASSERT_TRUE(waitFor([&] { return events(sub.messages(), "gw").size() > before + 40; }, 20000)) << g.err();
    EXPECT_EQ(g.stop(SIGTERM), 0);
    waitFor([] { return false; }, 300);
    expectNothingLost(events(sub.messages(), "gw"), "gw", false);
    EXPECT_NE(g.err().find("mqtt: broker"), std::string::npos) << "the outage was not logged";
}

// The link to the broker is cut while events wait for their acknowledgement:
// after the reconnect those events go out again, with no restart.
TEST_F(GatewayTest, EventsInFlightWhenTheBrokerLinkIsCutGoOutAgain) {
    Subscriber sub(broker_->port(), "cut");
    mvtest::TcpProxy proxy(broker_->port());
    Sim a(dir_);
    Process& g = startGateway(config("gw", {{"door-a", a.port()}}, "", 0,
                                     "url = \"mqtt://127.0.0.1:" + std::to_string(proxy.port()) + "\"\n"));
    ASSERT_TRUE(waitFor([&] { return events(sub.messages(), "gw").size() > 20; }, 20000)) << g.err();
    proxy.hold(true);  // nothing reaches the broker, no acknowledgement comes back
    waitFor([] { return false; }, 500);
    proxy.cut();
    proxy.hold(false);
    const std::uint64_t cutAt = readSpool(spool("gw")).nextSeq;
    std::uint64_t missing = 0;
    EXPECT_TRUE(waitFor(
        [&] {
            std::set<std::uint64_t> seen;
            for (const Event& e : events(sub.messages(), "gw")) seen.insert(e.seq);
            for (missing = 1; missing < cutAt && seen.count(missing); ++missing) {}
            return missing == cutAt;
        },
        20000))
        << "seq " << missing << " of the " << cutAt - 1 << " made before the cut never came\n" << g.err();
    EXPECT_EQ(g.stop(SIGTERM), 0);
}

// SIGKILL mid-stream, then a restart: unacknowledged events go out again
// with their original seq; no seq goes missing or names another event. The
// tags still in view continue without a second arrive, those that left
// while the gateway was down depart, and every reader's status is new.
// The history still holds every event made before the kill, acknowledged
// or not: page by page, newest first, and as CSV alike.
TEST_F(GatewayTest, KilledGatewayResendsWithOriginalSeq) {
    Subscriber sub(broker_->port(), "killed");
    auto a = std::make_unique<Sim>(dir_), b = std::make_unique<Sim>(dir_);
    const int http = freePort();
    const std::string cfg = config("gw", {{"door-a", a->port()}, {"door-b", b->port()}}, "", http);
    std::string text = slurp(cfg);
    std::ofstream(cfg) << text.replace(text.find("depart_after_s = 1"), 18, "depart_after_s = 5");
    Process& first = startGateway(cfg);
    ASSERT_TRUE(waitFor([&] { return events(sub.messages(), "gw").size() > 50; }, 20000)) << first.err();
    first.stop(SIGKILL);
    const std::int64_t killedAt = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::system_clock::now().time_since_epoch()).count();
    const std::uint64_t produced = readSpool(spool("gw")).nextSeq;
    // Of door-b's five tags one stays.
    const int port = b->port();
    b.reset();
    std::ofstream(dir_ + "/one.json") << R"({"gen2": [{"epc": "300011112222333344445555"}]})";
    b = std::make_unique<Sim>(dir_, std::vector<std::string>{"--scenario", dir_ + "/one.json"}, port);
    const std::size_t mark = sub.count();
    Process& second = startGateway(cfg);
    // Seq by seq (a resent event counts once): reader/epc -> its event types.
    auto types = [&] {
        std::map<std::uint64_t, const Event*> bySeq;
        const std::vector<Event> seen = events(sub.messages(), "gw");
        for (const Event& e : seen) bySeq.emplace(e.seq, &e);
        std::map<std::string, std::string> out;
        for (const auto& [seq, e] : bySeq) {
            const auto at = e->payload.find("\"epc\":\"") + 7;
            out[e->reader + "/" + e->payload.substr(at, e->payload.find('"', at) - at)] += e->type.substr(0, 1);
        }
        return out;
    };
    ASSERT_TRUE(waitFor(
        [&] {
            std::size_t departed = 0;
            for (const auto& [tag, t] : types()) departed += t.back() == 'd';
            return readSpool(spool("gw")).nextSeq > produced + 20 && departed == kDefaultTags - 1;
        },
        20000))
        << second.err();
    const auto m = sub.messages();
    EXPECT_EQ(lastState(std::vector<Message>(m.begin() + static_cast<std::ptrdiff_t>(mark), m.end()), "t/gw/door-a/status"),
              "online");

    httplib::Client client("127.0.0.1", http);
    std::vector<std::uint64_t> paged;
    std::string last = "9", cursor;
    for (int pages = 0; pages < 1000; ++pages) {
        const auto res = client.Get("/api/history?limit=7&to=" + std::to_string(killedAt) + cursor);
        ASSERT_TRUE(res && res->status == 200) << (res ? res->body : "no answer");
        const auto page = nlohmann::json::parse(res->body);
        for (const auto& e : page["events"]) {
            EXPECT_LE(e["last_seen"].get<std::string>(), last) << "not newest first";
            last = e["last_seen"];
            paged.push_back(e["seq"]);
        }
        if (page["next"].is_null()) break;
        cursor = "&after=" + page["next"].get<std::string>();
    }
    const auto csv = client.Get("/api/history?to=" + std::to_string(killedAt), {{"Accept", "text/csv"}});
    ASSERT_TRUE(csv && csv->status == 200);
    std::istringstream lines(csv->body);
    std::vector<std::uint64_t> exported;
    for (std::string line; std::getline(lines, line);)
        if (std::isdigit(static_cast<unsigned char>(line[0]))) exported.push_back(std::stoull(line));
    EXPECT_EQ(exported, paged);
    std::sort(paged.begin(), paged.end());
    EXPECT_EQ(std::adjacent_find(paged.begin(), paged.end()), paged.end()) << "an event on two pages";
    // Events read after killedAt can only have seqs from `produced` on.
    ASSERT_GE(paged.size(), produced - 1);
    for (std::uint64_t s = 1; s < produced; ++s) ASSERT_EQ(paged[s - 1], s) << "seq " << s << " is not in the history";
    EXPECT_EQ(second.stop(SIGTERM), 0);
    waitFor([] { return false; }, 300);
    expectNothingLost(events(sub.messages(), "gw"), "gw", false);
    for (const auto& [tag, t] : types()) {
        EXPECT_EQ(t.find('a', 1), std::string::npos) << tag << " arrived twice: " << t;
        EXPECT_EQ(t.back() == 'd', tag.rfind("door-b/", 0) == 0 && tag != "door-b/300011112222333344445555") << tag << ": " << t;
    }
}

// A worker killed is restarted after the shortest back-off, one killed again
// after twice that, and its reader comes back online; a reader that
// disappears shows as connecting, then online again when it is back.
TEST_F(GatewayTest, WorkerAndReaderComeBack) {
    Subscriber sub(broker_->port(), "comeback");
    auto sim = std::make_unique<Sim>(dir_);
    const int port = sim->port();
    const int http = freePort();
    Process& g = startGateway(config("gw", {{"door-a", port}}, "", http));
    const std::string topic = "t/gw/door-a/status";
    ASSERT_TRUE(waitFor([&] { return lastState(sub.messages(), topic) == "online"; }, 20000)) << g.err();

    // The worker is the gateway's only child.
    auto child = [&] {
        pid_t pid = -1;
        std::ifstream("/proc/" + std::to_string(g.pid()) + "/task/" + std::to_string(g.pid()) + "/children") >> pid;
        return pid;
    };
    const pid_t worker = child();
    ASSERT_GT(worker, 0);
    std::size_t mark = sub.count();
    auto since = [&] {
        const auto m = sub.messages();
        return std::vector<Message>(m.begin() + static_cast<std::ptrdiff_t>(mark), m.end());
    };
    kill(worker, SIGKILL);
    ASSERT_TRUE(waitFor([&] { return lastState(since(), topic) == "online"; }, 20000)) << g.err();
    EXPECT_NE(g.err().find("killed by signal 9; restarting in 250 ms"), std::string::npos) << g.err();
    httplib::Client client("127.0.0.1", http);
    std::string page;
    EXPECT_TRUE(waitFor(
        [&] {
            const auto metrics = client.Get("/metrics");
            page = metrics ? metrics->body : "";
            return page.find("morventd_worker_restarts_total{gateway=\"gw\",reader=\"door-a\"} 1") != std::string::npos;
        },
        5000))
        << page;
    const auto health = client.Get("/health");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    // Killed again soon after: the back-off has doubled.
    const pid_t second = child();
    const auto killed = std::chrono::steady_clock::now();
    mark = sub.count();
    kill(second, SIGKILL);
    ASSERT_TRUE(waitFor([&] { return child() > 0 && child() != second; }, 20000)) << g.err();
    EXPECT_GE(std::chrono::steady_clock::now() - killed, std::chrono::milliseconds(500));
    EXPECT_NE(g.err().find("killed by signal 9; restarting in 500 ms"), std::string::npos) << g.err();
    ASSERT_TRUE(waitFor([&] { return lastState(since(), topic) == "online"; }, 20000)) << g.err();

    mark = sub.count();
    sim->process().stop(SIGKILL);
    ASSERT_TRUE(waitFor([&] { return lastState(since(), topic) == "connecting"; }, 20000)) << g.err();
    mark = sub.count();
    sim = std::make_unique<Sim>(dir_, std::vector<std::string>{}, port);
    ASSERT_TRUE(waitFor([&] { return lastState(since(), topic) == "online"; }, 40000)) << g.err();
    // One link lost, however many attempts it took to get it back; a worker restart is not one.
    page = client.Get("/metrics")->body;
    EXPECT_NE(page.find("morventd_reader_reconnects_total{gateway=\"gw\",reader=\"door-a\"} 1\n"), std::string::npos) << page;
    EXPECT_EQ(g.stop(SIGTERM), 0);
}

// Tags that come and go give arrive, then depart, once each: in active mode
// over a serial line, and in poll mode over TCP.
TEST_F(GatewayTest, ActiveSerialAndPollTcpReadersSeeTagsComeAndGo) {
    Subscriber sub(broker_->port(), "moving");
    const std::vector<std::string> moving{"--arrive-rate", "8", "--stay", "0.3-0.6"};
    // A serial call hands over at most 50 bytes and drops the rest, and the
    // simulator's pty delivers a whole active round at once: keep rounds short.
    std::ofstream(dir_ + "/few.json") << R"({"gen2": [], "population": {"rate_per_s": 8, "stay_s": [0.3, 0.6],
                                          "max": 2, "epc_words": 2}})";
    Sim a(dir_, {"--scenario", dir_ + "/few.json", "--pty", dir_ + "/com"}), b(dir_, moving);
    Process& g = startGateway(config("gw", {{"tcp-poll", b.port()}},
                                     "[[reader]]\nname = \"serial-active\"\nserial = \"" + dir_ + "/com\"\nmode = \"active\"\n"));
    auto departed = [&](const std::string& reader) {
        std::size_t n = 0;
        for (const Event& e : events(sub.messages(), "gw")) n += e.reader == reader && e.type == "depart";
        return n;
    };
    ASSERT_TRUE(waitFor([&] { return departed("serial-active") >= 3 && departed("tcp-poll") >= 3; }, 20000)) << g.err();
    EXPECT_EQ(g.stop(SIGTERM), 0);
    std::map<std::string, std::string> seen;  // reader/epc -> the event types in order
    for (const Event& e : events(sub.messages(), "gw")) {
        const auto j = e.payload.find("\"epc\":\"") + 7;
        const std::string epc = e.payload.substr(j, e.payload.find('"', j) - j);
        if (epc.rfind("35", 0) != 0) continue;  // only the moving tags come and go
        seen[e.reader + "/" + epc] += e.type.substr(0, 1);
    }
    std::size_t complete = 0;
    for (const auto& [tag, types] : seen) {
        EXPECT_EQ(types[0], 'a') << tag << ": " << types;
        EXPECT_EQ(types.find('a', 1), std::string::npos) << tag << " arrived twice: " << types;
        if (types.back() == 'd') ++complete;
    }
    EXPECT_GE(complete, 6u);
}

// Two readers at their own addresses on one pty, one worker taking turns:
// each gives its own events and answers its own operations. The bus opens
// though its first reader (address 3) is not there. A reader whose device
// is missing says so by its configured path.
TEST_F(GatewayTest, TwoAddressesOnOnePty) {
    Subscriber sub(broker_->port(), "bus");
    std::ofstream(dir_ + "/two.json") << R"({"gen2": [{"epc": "2222000000000002"}]})";
    const std::string bus = dir_ + "/bus";
    Sim sim(dir_, {"--pty", bus, "--address", "1", "--reader", "--pty", bus, "--address", "2", "--scenario", dir_ + "/two.json"});
    const int http = freePort();
    std::string readers;
    for (const char* r : {"3", "1", "2"})
        readers += "[[reader]]\nname = \"bus-" + std::string(r) + "\"\nserial = \"" + bus + "\"\naddress = " + r + "\n";
    Process& g = startGateway(config("gw", {}, readers + "[[reader]]\nname = \"gone\"\nserial = \"" + dir_ + "/nowhere\"\n", http));
    auto epcs = [&](const std::string& reader) {
        std::set<std::string> out;
        for (const Event& e : events(sub.messages(), "gw")) {
            const auto at = e.payload.find("\"epc\":\"") + 7;
            if (e.reader == reader) out.insert(e.payload.substr(at, e.payload.find('"', at) - at));
        }
        return out;
    };
    ASSERT_TRUE(waitFor([&] { return epcs("bus-1").size() == kDefaultTags && epcs("bus-2").size() == 1; }, 20000))
        << g.err();
    EXPECT_EQ(epcs("bus-1").count("2222000000000002"), 0u);
    EXPECT_EQ(epcs("bus-2"), std::set<std::string>{"2222000000000002"});
    httplib::Client client("127.0.0.1", http);
    const auto read = client.Post("/api/readers/bus-2/tags/read", R"({"bank":"epc","pointer":2,"words":4})", "application/json");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->body, "{\"data\":\"2222000000000002\",\"ok\":true}\n");
    EXPECT_NE(g.err().find("cannot open serial " + dir_ + "/nowhere at 57600: no such device " + dir_ + "/nowhere"),
              std::string::npos)
        << g.err();
    EXPECT_EQ(g.stop(SIGTERM), 0);
}

// Tags carried along paths through the fields of three readers of one
// simulator: Yard (one reader) and Hall (two), with a door between them. A
// tag through both readers of Hall arrives and departs once; one from Yard
// to Hall moves and goes in through the door, one the other way moves and
// goes out, one in Yard alone passes no door. Each event goes to the topic
// of its location or portal, all of them under the one seq of the gateway.
TEST_F(GatewayTest, LocationsMovesAndPortals) {
    Subscriber sub(broker_->port(), "where");
    Sim sim(dir_, {"--no-tags", "--reader", "--tcp", "0", "--no-tags", "--reader", "--tcp", "0", "--no-tags", "--path", "1,2",
                   "--path", "3,1", "--path", "1", "--path", "2,3", "--path-every", "3"});
    std::string readers = "[[portal]]\nname = \"Door 3\"\noutside = \"Yard\"\ninside = \"Hall\"\n";
    for (const auto& [i, name, location] : {std::tuple(0, "yard", "Yard"), {1, "hall-1", "Hall"}, {2, "hall-2", "Hall"}})
        readers += "[[reader]]\nname = \"" + std::string(name) + "\"\ntcp = \"127.0.0.1:" + std::to_string(sim.port(i)) +
                   "\"\npoll_interval_ms = 20\nlocation = \"" + location + "\"\n";
    const std::string cfg = config("gw", {}, readers);
    std::string text = slurp(cfg);
    std::ofstream(cfg) << text.replace(text.find("depart_after_s = 1"), 18,
                                       "depart_after_s = 2\nscope = \"location\"\nmove_hysteresis_s = 0.5");
    Process& g = startGateway(cfg);
    // By EPC, seq by seq, "<location>:<type letter> " for each event but
    // reports; the directions apart, as a move and its passage may come in
    // either order. And the topics as they should be.
    std::map<std::string, std::string> where, ways;
    bool topicsRight = true;
    const auto sort = [&] {
        where.clear(), ways.clear();
        std::map<std::uint64_t, std::pair<std::string, nlohmann::json>> bySeq;
        for (const Message& m : sub.messages())
            if (m.topic.find("/events") != std::string::npos) {
                const auto j = nlohmann::json::parse(m.payload);
                bySeq[j.at("seq")] = {m.topic, j};
            }
        for (const auto& [seq, e] : bySeq) {
            const auto& [topic, j] = e;
            const std::string type = j.at("type"), location = j.at("location");
            topicsRight &= topic == (type == "direction" ? "t/gw/portals/Door_3/events" : "t/gw/locations/" + location + "/events");
            if (type == "direction") ways[j.at("epc")] += j.at("direction").get<std::string>();
            else if (type != "report") where[j.at("epc")] += location + ":" + type[0] + " ";
        }
    };
    // The tags of path p seen from its start (Yard for paths 1 and 3) to their departure.
    const auto passed = [&](int p) {
        std::map<std::string, std::string> out;
        for (const auto& [epc, seen] : where)
            if (std::stoi(epc.substr(2, 2)) == p && seen.rfind(p % 2 ? "Yard:a" : "Hall:a", 0) == 0 && seen.find(":d") != std::string::npos)
                out[epc] = seen + ways[epc];
        return out;
    };
    const auto enough = [&] { return sort(), passed(1).size() > 1 && passed(2).size() > 1 && passed(3).size() > 1 && passed(4).size() > 1; };
    ASSERT_TRUE(waitFor(enough, 30000)) << g.err();
    EXPECT_EQ(g.stop(SIGTERM), 0);
    waitFor([] { return false; }, 300);
    sort();
    const std::string expected[] = {"", "Yard:a Hall:m Hall:d in", "Hall:a Yard:m Yard:d out", "Yard:a Yard:d ", "Hall:a Hall:d "};
    for (int p = 1; p <= 4; ++p)
        for (const auto& [epc, seen] : passed(p)) EXPECT_EQ(seen, expected[p]) << epc;
    EXPECT_TRUE(topicsRight);
    expectNothingLost(events(sub.messages(), "gw"), "gw", false);
}

// The dashboard's API with two simulated readers: both online, a moving tag
// streamed as it arrives and listed while in view, user memory written
// through a reader's worker and read back, and changes refused without the
// token, without a named tag, with bad input or from another site, each by
// name. A second gateway on the same http address does not start.
TEST_F(GatewayTest, DashboardApi) {
    Sim a(dir_, {"--arrive-rate", "4", "--stay", "0.3-0.6"}), b(dir_);
    const int http = freePort();
    const std::string path = config("gw", {{"door-a", a.port()}, {"door-b", b.port()}}, "", http);
    std::string text = slurp(path);
    text.insert(text.find("[mqtt]"), "http_token = \"s3cret\"\n");
    std::ofstream(path) << text;
    Process& g = startGateway(path);
    httplib::Client client("127.0.0.1", http);
    client.set_read_timeout(10, 0);
    std::string body;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto res = client.Get("/api/readers");
            body = res ? res->body : "";
            std::size_t online = 0;
            for (std::size_t at = 0; (at = body.find("\"state\":\"online\"", at)) != std::string::npos; ++at) ++online;
            return online == 2;
        },
        20000))
        << body << g.err();

    // The event stream carries a moving tag's arrival; /api/tags lists tags in view.
    std::string stream;
    httplib::Client sse("127.0.0.1", http);
    sse.set_read_timeout(5, 0);
    const auto started = std::chrono::steady_clock::now();
    sse.Get("/api/events", [&](const char* data, std::size_t size) {
        stream.append(data, size);
        return stream.find("\"type\":\"arrive\"") == std::string::npos &&
               std::chrono::steady_clock::now() - started < std::chrono::seconds(10);
    });
    ASSERT_NE(stream.find("event: tag\ndata: {"), std::string::npos) << stream;
    const auto tags = client.Get("/api/tags");
    ASSERT_TRUE(tags);
    EXPECT_NE(tags->body.find("\"epc\":\"300011112222333344445555\""), std::string::npos) << tags->body;
    std::map<std::string, std::string> uris;  // epc -> uri, of the tags in view
    for (const auto& t : nlohmann::json::parse(tags->body)) uris[t["epc"]] = t.value("uri", "");
    EXPECT_EQ(uris["3074257BF7194E4000001A85"], "urn:epc:id:sgtin:0614141.812345.6789") << tags->body;
    EXPECT_EQ(uris.at("300011112222333344445555"), "") << tags->body;
    EXPECT_NE(client.Get("/")->body.find("<title>morventd</title>"), std::string::npos);

    const httplib::Headers token{{"Authorization", "Bearer s3cret"}};
    const std::string write = R"({"epc":"300011112222333344445555","bank":"user","pointer":1,"data":"CAFEF00D"})";
    const auto post = [&](const std::string& where, const std::string& body, const httplib::Headers& headers) {
        auto res = client.Post(where, headers, body, "application/json");
        return res ? std::make_pair(res->status, res->body) : std::make_pair(-1, std::string());
    };
    EXPECT_EQ(post("/api/readers/door-b/tags/write", write, {}).first, 401);
    EXPECT_EQ(post("/api/readers/door-b/tags/write", write, {{"Authorization", "Bearer nope"}}).first, 403);
    EXPECT_EQ(post("/api/readers/door-b/tags/write", write, token),
              std::make_pair(200, std::string("{\"epc\":\"300011112222333344445555\",\"ok\":true}\n")));
    const auto back = post("/api/readers/door-b/tags/read",
                           R"({"epc":"300011112222333344445555","bank":"user","pointer":1,"words":2})", token);
    EXPECT_EQ(back, std::make_pair(200, std::string("{\"data\":\"CAFEF00D\",\"ok\":true}\n")));
    // A tag that is not there: the reader's refusal, by name.
    const auto absent = post("/api/readers/door-b/tags/read", R"({"epc":"DEAD","bank":"user"})", token);
    EXPECT_EQ(absent.first, 502);
    EXPECT_NE(absent.second.find("\"error\":\"MORVENT_"), std::string::npos) << absent.second;
    EXPECT_EQ(post("/api/readers/door-b/tags/write", R"({"any":true,"data":"XYZ!"})", token).first, 400);
    EXPECT_EQ(post("/api/readers/door-b/tags/write", R"({"bank":"user","data":"AABB"})", token).first, 400);
    const auto unknown = post("/api/readers/door-b/tags/read", R"({"bank":"user","words":2,"extra":1})", token);
    EXPECT_EQ(unknown.first, 400);
    EXPECT_NE(unknown.second.find("unknown key 'extra'"), std::string::npos) << unknown.second;
    // A page elsewhere posting text/plain, and any request by a foreign Host, are refused.
    httplib::Headers crossSite = token;
    crossSite.emplace("Origin", "http://evil.example");
    const auto plain = client.Post("/api/readers/door-b/tags/write", crossSite, write, "text/plain");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->status, 403) << plain->body;
    const auto rebound = client.Get("/api/tags", {{"Host", "evil.example:" + std::to_string(http)}});
    ASSERT_TRUE(rebound);
    EXPECT_EQ(rebound->status, 403) << rebound->body;
    EXPECT_EQ(post("/api/readers/nobody/tags/read", "{}", token).first, 404);
    EXPECT_EQ(post("/api/readers/door-b/tags/write", std::string(64 * 1024, ' '), token).first, 413);
    // Values that differ from each other: each comes back under its own name.
    const auto put = client.Put("/api/readers/door-a/settings", token,
                                R"({"power":17,"scan_time":23,"region":[3,140]})", "application/json");
    ASSERT_TRUE(put);
    EXPECT_EQ(put->status, 200) << put->body;
    const auto settings = client.Get("/api/readers/door-a/settings");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->body, "{\"ok\":true,\"power\":17,\"region\":[3,140],\"scan_time\":23}\n");

    Process& second = startGateway(config("gw-2", {{"door-a", a.port()}}, "", http));
    EXPECT_EQ(second.stop(0, 10000), 1);
    EXPECT_NE(second.err().find("127.0.0.1:" + std::to_string(http) + ": Address already in use"), std::string::npos)
        << second.err();
    EXPECT_EQ(g.stop(SIGTERM), 0);
}

// A TLS listener that checks passwords: the gateway with the CA file and the
// right password delivers; with a wrong one it is refused, says so, and
// keeps its events in the spool.
TEST_F(GatewayTest, PasswordOverTls) {
    const std::string make =
        "cd '" + dir_ + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=ca "
        "&& openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 "
        "&& echo subjectAltName=IP:127.0.0.1 > san.ext "
        "&& openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile san.ext "
        "&& mosquitto_passwd -c -b passwords dock secret";
    ASSERT_EQ(std::system(("(" + make + ") > '" + dir_ + "/openssl.log' 2>&1").c_str()), 0) << slurp(dir_ + "/openssl.log");
    const int tlsPort = freePort();
    broker_.reset();
    broker_ = std::make_unique<Broker>(dir_, 0,
                                       "password_file " + dir_ + "/passwords\nlistener " + std::to_string(tlsPort) +
                                           " 127.0.0.1\ncafile " + dir_ + "/ca.pem\ncertfile " + dir_ +
                                           "/server.pem\nkeyfile " + dir_ + "/server.key\n");
    Subscriber sub(broker_->port(), "tls");
    Sim a(dir_), b(dir_);
    auto mqtt = [&](const std::string& password) {
        return "url = \"mqtts://127.0.0.1:" + std::to_string(tlsPort) + "\"\nca_file = \"" + dir_ +
               "/ca.pem\"\nusername = \"dock\"\npassword = \"" + password + "\"\n";
    };
    Process& good = startGateway(config("gw", {{"door-a", a.port()}}, "", 0, mqtt("secret")));
    Process& bad = startGateway(config("gw-bad", {{"door-a", b.port()}}, "", 0, mqtt("guess")));
    ASSERT_TRUE(waitFor([&] { return events(sub.messages(), "gw").size() > 10; }, 20000)) << good.err();
    ASSERT_TRUE(waitFor([&] { return bad.err().find("not authorised") != std::string::npos; }, 10000)) << bad.err();
    EXPECT_EQ(bad.stop(SIGTERM), 0);
    EXPECT_EQ(good.stop(SIGTERM), 0);
    EXPECT_TRUE(events(sub.messages(), "gw-bad").empty());
    EXPECT_GT(readSpool(spool("gw-bad")).waiting.size(), 0u) << "the refused gateway did not keep its events";
}

TEST_F(GatewayTest, MalformedConfigurationExitsWithTwoAndTheLine) {
    const std::string path = dir_ + "/bad.toml";
    std::ofstream(path) << "[gateway]\nid = \"g\"\n[[reader]]\nname = \"a\"\ntcp = \"127.0.0.1:80\"\n";
    Process check({MORVENTD_PATH, "--check-config", path}, dir_, "check");
    EXPECT_EQ(check.stop(0, 10000), 2);
    EXPECT_NE(check.err().find("bad.toml:5:"), std::string::npos) << check.err();
    Process run({MORVENTD_PATH, "--config", path}, dir_, "run");
    EXPECT_EQ(run.stop(0, 10000), 2);
}

}  // namespace
