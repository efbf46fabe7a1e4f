// The gateway's parts on their own: event rules, configuration checks, the
// spool, the parsing of tag records and active-mode frames, the lines
// between supervisor and workers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <tuple>

#include "gateway/channel.h"
#include "gateway/config.h"
#include "gateway/dashboard.h"
#include "gateway/events.h"
#include "gateway/history.h"
#include "gateway/reader_source.h"
#include "gateway/spool.h"
#include "gateway/supervisor.h"
#include "morvent.h"
#include "support/fake_reader.h"

using namespace morventd;

namespace {

std::string kinds(const std::vector<TagEvent>& events) {
    std::string out;
    for (const TagEvent& e : events) out += std::string(eventTypeName(e.type)) + ":" + e.epc + ":" + std::to_string(e.count) + " ";
    return out;
}

TEST(Events, ArriveReportDepart) {
    EventTracker t("r", {1000, 3000, 1});
    std::vector<TagEvent> out;
    t.read("AA", "", 10'000, out);  // arrive at once
    t.read("AA", "", 10'500, out);  // within the report interval: counted only
    t.read("BB", "", 10'600, out);
    t.read("AA", "", 11'000, out);  // report, carrying the reads since the arrival
    t.read("AA", "", 11'900, out);  // 1.9 s after the arrival, 0.9 s after the report: counted only
    t.read("AA", "", 12'000, out);  // the interval counts from the last report
    t.tick(13'999, out);            // BB quiet for 3 s: departs; AA (seen at 12.0) stays
    t.tick(15'100, out);            // AA departs, with no reads since its report
    EXPECT_EQ(kinds(out), "arrive:AA:1 arrive:BB:1 report:AA:2 report:AA:2 depart:BB:0 depart:AA:0 ");
    EXPECT_EQ(out[2].firstSeenMs, 10'000);
    EXPECT_EQ(out[2].lastSeenMs, 11'000);
    EXPECT_EQ(t.inView(), 0u);
}

TEST(Events, ArriveAfterReadsFiltersOneOffGarbleAndTidSeparatesTags) {
    EventTracker t("r", {1000, 2000, 3});
    std::vector<TagEvent> out;
    t.read("GARBLED", "", 0, out);
    t.read("AA", "01", 0, out);
    t.read("AA", "02", 0, out);  // same EPC, another TID: another tag
    t.read("AA", "01", 100, out);
    t.read("AA", "01", 200, out);  // third read: arrives, count 3
    t.tick(2'100, out);            // the garbled read expires without a word; AA/02 too
    ASSERT_EQ(kinds(out), "arrive:AA:3 ");
    EXPECT_EQ(out[0].tid, "01");
    t.tick(2'300, out);
    EXPECT_EQ(kinds(out), "arrive:AA:3 depart:AA:0 ");
}

// Location scope: the readers of a location count as one; a tag read at
// another location moves there, with the reads made there, once its own has
// not read it for the hysteresis, so a tag both read in turn does not flap.
TEST(Events, LocationsMoveWithoutFlapping) {
    EventTracker t({10'000, 3000, 1, 1000});
    std::vector<TagEvent> out;
    for (const auto& [reader, location, at] : std::vector<std::tuple<std::string, std::string, std::int64_t>>{
             {"d1", "Dock", 0}, {"d2", "Dock", 100}, {"s1", "Store", 200}, {"d1", "Dock", 300}, {"s1", "Store", 400}})
        t.read(reader, location, "AA", "", at, out);
    t.tick(1'200, out);  // Dock quiet 0.9 s: stays
    t.tick(1'300, out);  // 1 s: moves
    t.read("s1", "Store", "AA", "", 1'400, out);
    t.read("d1", "Dock", "BB", "", 1'500, out);
    for (std::int64_t at = 1'700; at < 6'000; at += 500) t.read("d2", "Dock", "BB", "", at, out);
    t.tick(4'500, out);
    t.tick(8'700, out);
    ASSERT_EQ(kinds(out), "arrive:AA:1 move:AA:2 arrive:BB:1 depart:AA:1 depart:BB:9 ");
    EXPECT_EQ(out[1].from + " " + out[1].location + " " + out[1].reader + " " + out[1].topic, "Dock Store s1 locations/Store");
    EXPECT_EQ(out[1].firstSeenMs, 200);  // its first read at Store
    EXPECT_EQ(out[4].reader, "d2");
}

// Outside, then inside within the window: in; the other way: out, found by
// a read or as time passes. One side only, another location, or the other
// side after the window: nothing. A tag both sides see in turn crosses once.
TEST(Events, PortalsTellTheDirection) {
    PortalTracker p({{"Door 3", "Yard", "Hall", 5000}}, 1000);
    std::vector<TagEvent> out;
    for (const auto& [reader, location, epc, at] : std::vector<std::tuple<std::string, std::string, std::string, std::int64_t>>{
             {"y", "Yard", "AA", 0},      {"h", "Hall", "AA", 500},    {"y", "Yard", "AA", 600}, {"h", "Hall", "AA", 900},
             {"h", "Hall", "AA", 1'700},  {"h", "Hall", "BB", 2'000},  {"y", "Yard", "BB", 3'000}, {"y", "Yard", "CC", 2'000},
             {"y", "Yard", "DD", 2'000},  {"x", "Dock", "DD", 2'500},  {"y", "Yard", "EE", 4'000}, {"h", "Hall", "EE", 4'200},
             {"h", "Hall", "DD", 7'100}})
        p.read(reader, location, epc, "", at, out);
    p.tick(5'100, out);
    p.tick(20'000, out);
    std::string seen;
    for (const TagEvent& e : out) seen += e.epc + (e.in ? ":in " : ":out ");
    ASSERT_EQ(seen, "AA:in BB:out EE:in ");
    EXPECT_EQ(out[0].reader + " " + out[0].location + " " + out[0].topic, "h Hall portals/Door_3");
    EXPECT_EQ(out[0].firstSeenMs, 0);  // on the side it came from
    EXPECT_EQ(out[0].lastSeenMs, 1'700);
}

// Names are text: quoted in the JSON, made safe as topic levels.
TEST(Events, JsonCarriesEveryField) {
    TagEvent e{"door-a", EventType::Report, "E200", "A1B2", 7, 1'765'000'000'123, 1'765'000'001'000, ""};
    EXPECT_EQ(eventJson(e, 42, "dock-1"),
              "{\"seq\":42,\"gateway\":\"dock-1\",\"reader\":\"door-a\",\"location\":\"door-a\",\"type\":\"report\","
              "\"epc\":\"E200\",\"tid\":\"A1B2\",\"count\":7,\"first_seen\":\"2025-12-06T05:46:40.123Z\","
              "\"last_seen\":\"2025-12-06T05:46:41.000Z\"}");
    e.uri = "urn:epc:id:sgtin:0614141.812345.6789";
    EXPECT_NE(eventJson(e, 42, "dock-1").find(",\"tid\":\"A1B2\",\"uri\":\"urn:epc:id:sgtin:0614141.812345.6789\","),
              std::string::npos);
    e.type = EventType::Move;
    e.location = "Hall \"B\"";
    e.from = "Yard\\1";
    EXPECT_NE(eventJson(e, 1, "g").find(R"("location":"Hall \"B\"","type":"move","from":"Yard\\1","to":"Hall \"B\"","epc")"),
              std::string::npos)
        << eventJson(e, 1, "g");
    e.type = EventType::Direction;
    e.portal = "Door 3";
    EXPECT_NE(eventJson(e, 1, "g").find(R"("type":"direction","portal":"Door 3","direction":"out","epc")"), std::string::npos);
    EXPECT_EQ(topicLevel("Door 3 / +#") + " " + topicLevel("$SYS") + " " + topicLevel("Süd-1.a_b"), "Door_3_ _SYS Süd-1.a_b");
    e.tid.clear();  // no TID asked or given: no tid field, not an empty one
    EXPECT_EQ(eventJson(e, 42, "dock-1").find("\"tid\""), std::string::npos);
}

const char kGood[] = R"([gateway]
id = "dock-1"
spool = "/tmp/x.db"
[mqtt]
url = "mqtt://10.0.0.2"
[[reader]]
name = "a"
tcp = "reader-5.dock:6000"
)";

TEST(Config, GoodFileAndDefaults) {
    const Config c = parseConfig(kGood, "f.toml");
    EXPECT_EQ(c.id, "dock-1");
    EXPECT_EQ(c.mqttHost, "10.0.0.2");
    EXPECT_EQ(c.mqttPort, 1883);
    EXPECT_EQ(c.httpPort, 8780);
    ASSERT_EQ(c.readers.size(), 1u);
    EXPECT_EQ(c.readers[0].host, "reader-5.dock");  // looked up as the link opens
    EXPECT_EQ(c.readers[0].tcpPort, 6000);
    EXPECT_FALSE(c.readers[0].active);
    // http by name resolves to IPv4; "" is off, and the summary says only that.
    const std::string readers = "[[reader]]\nname = \"a\"\ncom = 3\n";
    const Config named = parseConfig("[gateway]\nid = \"g\"\nhttp = \"localhost:8781\"\n" + readers, "f");
    EXPECT_EQ(named.httpAddress, "127.0.0.1");
    EXPECT_TRUE(named.httpLoopback());
    EXPECT_NE(named.summary().find("\nhttp localhost:8781 (127.0.0.1), writes open"), std::string::npos) << named.summary();
    EXPECT_NE(parseConfig("[gateway]\nid = \"g\"\nhttp = \"\"\n" + readers, "f").summary().find("\nhttp off\n"),
              std::string::npos);
    // A reader without a location is its own; portals join locations.
    const Config placed = parseConfig(std::string(kGood) + "location = \"Dock 3\"\n[[reader]]\nname = \"b\"\ncom = 3\n" +
                                          "[[portal]]\nname = \"In\"\noutside = \"b\"\ninside = \"Dock 3\"\n", "f");
    EXPECT_EQ(placed.readers[0].location + "," + placed.readers[1].location, "Dock 3,b");
    EXPECT_NE(placed.summary().find("\nportal In: in from b to Dock 3 within 5 s, topic morvent/dock-1/portals/In/events\n"),
              std::string::npos)
        << placed.summary();
}

TEST(Config, RefusedWithTheLineAtFault) {
    const std::string head = "[gateway]\nid = \"g\"\n";  // lines 1-2
    const struct {
        std::string text, expected;
    } cases[] = {
        {head + "colour = 1\n[[reader]]\nname=\"a\"\ntcp=\"1.2.3.4:6000\"\n", "f:3: unknown key 'colour' in [gateway]"},
        {head + "[[reader]]\nname=\"a\"\ntcp=\"1.2.3.4:6000\"\n[[reader]]\nname=\"a\"\ntcp=\"1.2.3.4:6001\"\n",
         "f:6: duplicate reader name 'a'"},
        {head + "[[reader]]\nname=\"a\"\ntcp=\"1.2.3.4:80\"\n", "f:5: reader 'a': tcp '1.2.3.4:80' is not HOST:PORT"},
        {head + "[[reader]]\nname=\"a\"\ntcp=\"10.1.5:6000\"\n", "f:5: reader 'a': tcp '10.1.5:6000'"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\nbaud=12345\n", "f:6: baud must be"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\ntcp=\"1.2.3.4:6000\"\n", "f:3: reader 'a' needs exactly one of"},
        {head + "[[reader]]\nname=\"a\"\n", "f:3: reader 'a' needs exactly one of"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\n[[reader]]\nname=\"b\"\ncom=3\n",
         "f:6: readers 'a' and 'b' share com 3: give each an address 0..254"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\naddress=1\n[[reader]]\nname=\"b\"\ncom=3\naddress=1\n",
         "f:10: reader 'b': address 1 on com 3 is already reader 'a'"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\naddress=1\n[[reader]]\nname=\"b\"\ncom=3\naddress=2\nmode=\"active\"\n",
         "f:11: readers 'a' and 'b' share com 3: mode = \"active\" needs a device of its own"},
        {head + "[[reader]]\nname=\"a\"\ntcp=\"1.2.3.4:6000\"\n[[reader]]\nname=\"b\"\ntcp=\"1.2.3.4:6000\"\n",
         "f:6: reader 'b': tcp 1.2.3.4:6000 is already used by reader 'a'"},
        {head + "[[reader]]\nname=\"a b\"\ncom=3\n", "f:4: reader name 'a b'"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\nmode=\"push\"\n", "f:6: mode must be"},
        {head + "[events]\ndepart_after_s = \"soon\"\n[[reader]]\nname=\"a\"\ncom=3\n", "f:4: 'depart_after_s' must be"},
        {head + "[mqtt]\nurl = \"http://x\"\n[[reader]]\nname=\"a\"\ncom=3\n", "f:4: url must start with"},
        {head + "http = \"localhost\"\n[[reader]]\nname=\"a\"\ncom=3\n", "f:3: http 'localhost' is not HOST:PORT"},
        {head + "http = \"nowhere.invalid:8780\"\n[[reader]]\nname=\"a\"\ncom=3\n",
         "f:3: http 'nowhere.invalid:8780': nowhere.invalid has no IPv4 address"},
        {head + "http = \"127.1:8780\"\n[[reader]]\nname=\"a\"\ncom=3\n",  // never read as 127.0.0.1
         "f:3: http '127.1:8780': 127.1 is not an IPv4 address"},
        {head + "[events]\nreport_every_s = 0.001\n[[reader]]\nname=\"a\"\ncom=3\n",
         "f:4: 'report_every_s' must be at least 0.01 (not 0.001)"},
        {head + "[colour]\nred = 1\n[[reader]]\nname=\"a\"\ncom=3\n", "f:3: unknown table [colour]"},
        {head + "[history]\nkeep_days = 0\n[[reader]]\nname=\"a\"\ncom=3\n", "f:4: 'keep_days' must be a number of days above 0"},
        {head + "[history]\nmax_events = -1\nkeep = 3\n[[reader]]\nname=\"a\"\ncom=3\n", "f:5: unknown key 'keep' in [history]"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\n[reader.extra]\n", "f:6: unknown table [reader.extra]"},
        {head + "[events]\nscope = \"zone\"\n[[reader]]\nname=\"a\"\ncom=3\n", "f:4: scope must be \"reader\" or \"location\""},
        {head + "[events]\nscope = \"location\"\ndepart_after_s = 1\n[[reader]]\nname=\"a\"\ncom=3\n",
         "f:5: move_hysteresis_s (2) must be shorter than depart_after_s (1)"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\nlocation=\"a\\tb\"\n", "f:6: reader 'a': location 'a\tb' must be 1 to 64 bytes"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\nlocation=\"Bay 1\"\n[[reader]]\nname=\"b\"\ncom=4\nlocation=\"bay/1\"\n",
         "f:10: reader 'b': location 'bay/1' would share its topic with location 'Bay 1' (locations/bay_1)"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\nlocation=\"Hall\"\n[[portal]]\nname=\"P\"\noutside=\"a\"\ninside=\"Hall\"\n",
         "f:9: portal 'P': outside 'a' is no location (the locations are Hall)"},
        {head + "[[reader]]\nname=\"a\"\ncom=3\n[[portal]]\nname=\"P\"\noutside=\"a\"\ninside=\"a\"\n",
         "f:9: portal 'P': outside and inside are both 'a'"},
        {head, "f: no [[reader]]"},
        {head + "[[reader]\n", "f:3: "},  // TOML syntax
    };
    for (const auto& c : cases) {
        try {
            parseConfig(c.text, "f");
            ADD_FAILURE() << "accepted:\n" << c.text;
        } catch (const ConfigError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.expected, 0), 0u) << e.what() << "\nexpected: " << c.expected;
        }
    }
}

class SpoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/morventd-spool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    static std::vector<TagEvent> some(int n) {
        std::vector<TagEvent> v;
        for (int i = 0; i < n; ++i) v.push_back({"r", EventType::Arrive, "E" + std::to_string(i), "", 1, 0, 0, ""});
        return v;
    }
    std::string dir_;
};

// Acknowledged events leave; the seq never goes back, even with the spool empty.
TEST_F(SpoolTest, SeqIsNeverReusedAcrossReopen) {
    const std::string path = dir_ + "/s.db";
    {
        Spool s(path, 1000);
        auto c = s.commit(some(3), "g", {}, 5);
        ASSERT_EQ(c.stored.size(), 3u);
        EXPECT_EQ(c.stored[2].seq, 3u);
        EXPECT_NE(c.stored[2].payload.find("\"seq\":3,"), std::string::npos);
        s.commit({}, "g", {1, 2, 3}, 6);
        EXPECT_EQ(s.depth(), 0);
    }
    Spool s(path, 1000);
    EXPECT_EQ(s.nextSeq(), 4u);
    s.commit(some(2), "g", {}, 7);
    const auto rest = s.fetch(0, 100);
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0].seq, 4u);
    EXPECT_EQ(s.fetch(4, 100).size(), 1u);
}

// The tags in view go to the spool with the events that change them (a tag
// only read waits for a full take), survive a reopen and carry on: no second
// arrive, and a tag quiet for the depart time departs, its row with it.
TEST_F(SpoolTest, TagsInViewCarryOverAReopen) {
    const std::string path = dir_ + "/s.db";
    std::vector<TagEvent> out;
    {
        Spool s(path, 100);
        EventTracker t("r", {5000, 3000, 1});
        std::vector<PresenceChange> changes;
        t.read("AA", "", 10'000, out);
        t.read("BB", "01", 10'000, out);
        t.read("AA", "", 10'500, out);
        t.takeChanges(false, changes);  // the arrivals, as the tags are now
        ASSERT_EQ(changes.size(), 2u);
        EXPECT_EQ(changes[0].tag.lastSeenMs, 10'500);
        s.commit(out, "g", {}, 0, changes);
        t.read("BB", "01", 11'000, out);
        changes.clear();
        t.takeChanges(false, changes);
        EXPECT_TRUE(changes.empty());
        t.takeChanges(true, changes);
        ASSERT_EQ(changes.size(), 1u);
        s.commit({}, "g", {}, 0, changes);
    }
    Spool s(path, 100);
    EventTracker t("r", {5000, 3000, 1});
    for (const PresenceChange& p : s.presence()) t.restore(p);
    out.clear();
    t.read("BB", "01", 12'000, out);
    t.tick(13'500, out);
    EXPECT_EQ(kinds(out), "depart:AA:1 ");
    std::vector<PresenceChange> changes;
    t.takeChanges(true, changes);
    s.commit(out, "g", {}, 0, changes);
    const auto left = s.presence();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].tag.tid, "01");
    EXPECT_EQ(left[0].tag.lastSeenMs, 12'000);
    EXPECT_EQ(left[0].tag.reads, 2u);
}

// By location a tag has one row wherever it is, which carries over a reopen
// as a reader's does; its events go to its location's topic. Its reads
// before it arrived count wherever they were made.
TEST_F(SpoolTest, LocatedTagsCarryOverAReopen) {
    const std::string path = dir_ + "/s.db";
    std::vector<TagEvent> out;
    const auto commit = [&](EventTracker& t, Spool& s) {
        std::vector<PresenceChange> changes;
        t.takeChanges(true, changes);
        s.commit(out, "g", {}, 0, changes);
        out.clear();
    };
    {
        Spool s(path, 100);
        EventTracker t({5000, 3000, 2, 500});
        t.read("d1", "Dock", "AA", "", 10'000, out);
        t.read("s1", "Store", "AA", "", 10'600, out);  // the second read: arrives at Store
        commit(t, s);
    }
    Spool s(path, 100);
    EventTracker t({5000, 3000, 2, 500});
    for (const PresenceChange& p : s.presence()) t.restore(p);
    t.read("s2", "Store", "AA", "", 11'000, out);  // no second arrive
    t.tick(14'000, out);
    EXPECT_EQ(kinds(out) + out.at(0).reader, "depart:AA:1 s2");
    commit(t, s);
    EXPECT_TRUE(s.presence().empty());
    const auto stored = s.fetch(0, 10);
    EXPECT_EQ(stored.front().topic + " " + stored.back().topic, "locations/Store locations/Store");
}

TEST_F(SpoolTest, PastMaxEventsTheOldestAreDroppedAndCounted) {
    Spool s(dir_ + "/s.db", 100);
    s.commit(some(90), "g", {}, 0);
    const auto c = s.commit(some(30), "g", {}, 0);
    EXPECT_EQ(c.dropped, 20);
    EXPECT_EQ(c.firstDropped, 1u);
    EXPECT_EQ(c.lastDropped, 20u);
    EXPECT_EQ(s.depth(), 100);
    EXPECT_EQ(s.fetch(0, 1).front().seq, 21u);
}

TEST_F(SpoolTest, UnwritableSpoolIsAnErrorAndChangesNothing) {
    if (geteuid() == 0) {
        // root writes through permissions; a directory in the file's place fails for anyone
        mkdir((dir_ + "/dir.db").c_str(), 0755);
        EXPECT_THROW(Spool(dir_ + "/dir.db", 100), SpoolError);
    } else {
        chmod(dir_.c_str(), 0555);
        EXPECT_THROW(Spool(dir_ + "/s.db", 100), SpoolError);
        chmod(dir_.c_str(), 0755);
    }
    Spool s(dir_ + "/s.db", 100);
    s.commit(some(2), "g", {}, 0);
    // A commit that fails part-way (here: a seq already taken) leaves the spool as it was.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/s.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "INSERT INTO events VALUES (3, 'r', '{}', 0)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_THROW(s.commit(some(1), "g", {1}, 0), SpoolError);
    EXPECT_EQ(s.nextSeq(), 3u);
    EXPECT_EQ(s.fetch(0, 10).size(), 3u);  // event 1 was not deleted either
}

// Acknowledged events stay in the history, which the read side searches
// newest first page by page; past max_events and past keep_days the oldest
// leave it, counted by reason, and its size carries over a reopen.
TEST_F(SpoolTest, HistoryKeepsAcknowledgedEventsWithinItsLimits) {
    const std::string path = dir_ + "/s.db";
    constexpr std::int64_t kDay = 86'400'000;
    {
        Spool s(path, 1000, {2, 50});
        s.commit(some(30), "g", {}, kDay);  // events without reads are of the time they are stored
        std::vector<std::uint64_t> all(30);
        std::iota(all.begin(), all.end(), 1);
        s.commit({}, "g", all, kDay);
        EXPECT_EQ(s.depth(), 0);
        const auto c = s.commit(some(30), "g", {}, 2 * kDay);
        EXPECT_EQ(c.historyOverflowed, 10);
        EXPECT_EQ(s.historySize(), 50);
    }
    History h(path);
    HistoryQuery q;
    q.fromMs = kDay;
    q.after = std::make_pair(2 * kDay, std::uint64_t(45));
    std::vector<std::uint64_t> seqs;
    for (const HistoryRow& r : h.search(q, 20)) seqs.push_back(r.seq);
    ASSERT_EQ(seqs.size(), 20u);
    EXPECT_EQ(seqs.front(), 44u);
    EXPECT_EQ(seqs.back(), 25u);  // then the acknowledged ones of the day before
    q.epc = "E17";
    q.after.reset();
    ASSERT_EQ(h.search(q, 20).size(), 2u);
    EXPECT_NE(h.search(q, 20)[1].payload.find("\"seq\":18,"), std::string::npos);

    Spool s(path, 1000, {2, 50});
    EXPECT_EQ(s.historySize(), 50);
    EXPECT_FALSE(s.historyDue(3 * kDay));
    const auto c = s.commit({}, "g", {}, 3 * kDay + 1);  // nothing else to do: the first day expires all the same
    EXPECT_EQ(c.historyExpired, 20);
    EXPECT_EQ(s.historySize(), 30);
    EXPECT_EQ(h.search(HistoryQuery{}, 100).size(), 30u);
}

TEST(History, QueriesAreCheckedParameterByParameter) {
    using Params = std::multimap<std::string, std::string>;
    const struct {
        Params params;
        std::string error;
    } refused[] = {
        {{{"colour", "red"}}, "unknown parameter 'colour': /api/history takes epc, uri,"},
        {{{"epc", "AA"}, {"epc", "BB"}}, "parameter 'epc' is given more than once"},
        {{{"epc", "30 00"}}, "epc '30 00' is not an EPC in hex"},
        {{{"uri", "sgtin:1.2.3"}}, "uri 'sgtin:1.2.3' is not a pure-identity URI"},
        {{{"reader", "a/b"}}, "reader 'a/b' is not a reader name"},
        {{{"type", "fly"}}, "type 'fly' is not one of arrive, report, depart"},
        {{{"from", "2026-02-30T10:00:00Z"}}, "from '2026-02-30T10:00:00Z' is not a time"},
        {{{"to", "2026-12-09T13:41:29"}}, "to '2026-12-09T13:41:29' is not a time"},  // no zone: no one time
        {{{"from", "2026-12-09T01:00:00+01:00"}, {"to", "2026-12-09"}}, "from (2026-12-09T01:00:00+01:00) must lie before to"},
        {{{"limit", "1001"}}, "limit '1001' must be a whole number 1..1000"},
        {{{"limit", "0"}, {"format", "csv"}}, "limit '0' must be a whole number 1.."},
        {{{"after", "17"}}, "after '17' is not a cursor"},
        {{{"format", "xml"}}, "format 'xml' must be json or csv"},
    };
    for (const auto& r : refused) {
        try {
            HistoryQuery::parse(r.params, "");
            ADD_FAILURE() << "accepted: " << r.error;
        } catch (const HistoryError& e) {
            EXPECT_EQ(e.status, 400);
            EXPECT_EQ(std::string(e.what()).rfind(r.error, 0), 0u) << e.what();
        }
    }
    const HistoryQuery q = HistoryQuery::parse({{"epc", "30ab"}, {"uri", ""}, {"from", "2026-12-09T14:41:29.5 01:00"},
                                                {"to", "1796900000000"}, {"after", "1796899999000-42"}},
                                               "text/csv, */*");
    EXPECT_EQ(q.epc, "30AB");
    EXPECT_TRUE(q.uri.empty());  // a form's empty field is no filter
    EXPECT_EQ(q.fromMs, parseTime("2026-12-09T13:41:29.500Z"));
    EXPECT_EQ(*q.fromMs, 1'796'823'689'500);
    EXPECT_EQ(q.after->second, 42u);
    EXPECT_TRUE(q.csv);
    EXPECT_EQ(q.limit, 0);  // CSV: everything unless limited
    EXPECT_EQ(HistoryQuery::parse({}, "").limit, HistoryQuery::kPage);
    EXPECT_EQ(parseTime("2026-12-09"), parseTime("2026-12-09T00:00:00Z"));
}

// A tag's stays from its events (given here oldest first): two readers of
// one location make one stay, a move ends one and begins the next, a depart
// whose arrive is not there began before, and no depart means still there.
TEST(History, TrailOfStays) {
    std::vector<HistoryRow> rows;
    auto event = [&](std::int64_t at, const char* type, const char* reader, const std::string& more = "") {
        rows.insert(rows.begin(), {0, at, std::string("{\"type\":\"") + type + "\",\"reader\":\"" + reader + "\"" + more + "}"});
    };
    event(1, "depart", "gate");
    event(2, "arrive", "dock-1", ",\"location\":\"Dock\"");
    event(3, "arrive", "dock-2", ",\"location\":\"Dock\"");
    event(4, "depart", "dock-1", ",\"location\":\"Dock\"");
    event(5, "report", "dock-2", ",\"location\":\"Dock\"");
    event(6, "depart", "dock-2", ",\"location\":\"Dock\"");
    event(7, "arrive", "shelf", ",\"location\":\"Store\"");
    event(8, "move", "yard", ",\"location\":\"Yard\",\"from\":\"Store\"");
    auto text = [](const std::vector<Visit>& visits) {
        std::string out;
        for (const Visit& v : visits)
            out += v.location + "[" + (v.sinceMs ? std::to_string(*v.sinceMs) : "?") + "-" +
                   (v.untilMs ? std::to_string(*v.untilMs) : "") + " " + std::to_string(v.readers.size()) + "] ";
        return out;
    };
    EXPECT_EQ(text(visitsOf(rows, 10)), "gate[?-1 1] Dock[2-6 2] Store[7-8 2] Yard[8- 1] ");
    EXPECT_EQ(text(visitsOf(rows, 2)), "Store[7-8 2] Yard[8- 1] ");
}

TEST(Records, InventoryRecordsAndActiveFrames) {
    std::vector<TagRead> reads;
    const std::uint8_t records[] = {2, 0xAB, 0xCD, 1, 0xEE, 3, 1, 2};  // the last overruns by one byte
    EXPECT_EQ(parseTagRecords(records, sizeof records, false, reads), 1);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].epc, "ABCD");
    reads.clear();
    const std::uint8_t withTid[] = {2, 0x12, 0x34, 2, 0xE2, 0x80};
    EXPECT_EQ(parseTagRecords(withTid, sizeof withTid, true, reads), 0);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].tid, "E280");

    // Active mode: noise, a good frame, a frame with a bad CRC, half a frame.
    std::uint8_t frame[16] = {8, 0, 0xEE, 0, 2, 0x12, 0x34};
    GetCRC(frame, 7);
    std::vector<std::uint8_t> wire{0x55};
    wire.insert(wire.end(), frame, frame + 9);
    wire.insert(wire.end(), frame, frame + 9);
    wire.back() ^= 1;
    wire.insert(wire.end(), frame, frame + 5);
    reads.clear();
    int bad = 0;
    takeActiveFrames(wire, false, reads, &bad);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].epc, "1234");
    EXPECT_EQ(bad, 1);
    EXPECT_EQ(wire.size(), 5u);  // the partial frame waits for the rest
    wire.insert(wire.end(), frame + 5, frame + 9);
    takeActiveFrames(wire, false, reads, &bad);
    EXPECT_EQ(reads.size(), 2u);
    EXPECT_TRUE(wire.empty());
}

// One missed answer can be noise: the link counts as lost at the second in a
// row, and a round that works in between starts the count again.
TEST(Records, OneMissedAnswerIsNotALostLink) {
    auto fake = mvtest::FakeReader::tcp();
    ASSERT_TRUE(fake);
    fake->scriptReaderInfo(0x00);
    morvent::Reader link = morvent::Reader::tcp("127.0.0.1", fake->port());
    ReaderConfig config;
    ReaderSource source(config);
    ASSERT_TRUE(source.attach(link));
    using R = ReaderSource::Result;
    std::vector<TagRead> reads;
    for (const R expected : {R::Quiet, R::Ok, R::Quiet, R::LinkLost}) {
        if (expected == R::Ok) fake->scriptFrame(0x00, 0x01, 0x01, {0x01, 1, 2, 0xAB, 0xCD});
        else fake->scriptSilence();
        EXPECT_EQ(source.round(reads), expected) << reads.size() << " reads so far";
    }
}

}  // namespace

namespace {

// The supervisor hands each worker the readers of its link on the command
// line: a serial device named twice is one bus, one worker.
TEST(Config, WorkerArgumentsCarryTheWholeBus) {
    const Config c = parseConfig(R"([gateway]
id = "g"
[[reader]]
name = "a"
serial = "/dev/ttyUSB0"
baud = 115200
address = 3
tid = true
tid_address = 2
tid_length = 4
mask = "E2A0"
mask_bank = "tid"
mask_address = 8
mask_bits = 12
poll_interval_ms = 7
[[reader]]
name = "t"
tcp = "10.0.0.5:6000"
mode = "active"
[[reader]]
name = "b"
serial = "/dev/ttyUSB0"
baud = 115200
address = 4
)");
    const auto links = c.links();
    ASSERT_EQ(links.size(), 2u);
    ASSERT_EQ(links[0].size(), 2u);
    EXPECT_EQ(links[0][1]->name, "b");
    const std::vector<ReaderConfig> back = fromWorkerArgs(workerArgs(links[0]));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(workerArgs({&back[0], &back[1]}), workerArgs(links[0]));
    EXPECT_EQ(back[0].maskBytes, (std::vector<std::uint8_t>{0xE2, 0xA0}));
    EXPECT_EQ(back[0].maskBank, 2);
    EXPECT_EQ(fromWorkerArgs(workerArgs(links[1])).at(0).active, true);
    EXPECT_NE(c.summary().find("bus serial /dev/ttyUSB0 at 115200: one worker taking turns between 2 readers\n"
                               "  reader a: address 3, poll mode, tid words 2+4"),
              std::string::npos)
        << c.summary();
    EXPECT_THROW(fromWorkerArgs({"--name", "a", "--tcp", "1.2.3.4:6000", "--colour", "red"}), std::invalid_argument);
    EXPECT_THROW(fromWorkerArgs({"--name", "a", "--com", "3", "--name", "b", "--com", "4"}), std::invalid_argument);
}

}  // namespace

// The dashboard's API turns request bodies into worker requests, refusing bad
// input by name before any reader is asked; answers carry status names.
TEST(Dashboard, RequestsCheckedBeforeTheReaderIsAsked) {
    const struct {
        const char* operation;
        std::string body, expected;  // a request line, or "!" and a part of the refusal
    } cases[] = {
        {"read", R"({"bank":"tid","words":6})", "read any tid 0 6 -"},
        {"read", R"({"epc":"30 00 11 11","bank":"epc","pointer":2,"password":"0000abcd"})", "read 30001111 epc 2 4 0000ABCD"},
        {"write", R"({"epc":"1234","data":"AABBCCDD"})", "write 1234 user 0 AABBCCDD -"},
        {"write", R"({"any":true,"data":"AABB"})", "write any user 0 AABB -"},
        {"write-epc", R"({"epc":"3000AAAABBBB","new_epc":"3000AAAABBBBDDDD"})", "write-epc 3000AAAABBBB 3000AAAABBBBDDDD -"},
        {"set", R"({"power":20,"region":[49,128]})", "set 20 - 49 128"},
        // A change names its tag, or asks for any by name; the old form of write-epc is refused.
        {"write", R"({"data":"AABB"})", "!give its current EPC as \"epc\", or \"any\": true"},
        {"write", R"({"epc":"","any":false,"data":"AABB"})", "!tags/write changes a tag"},
        {"write", R"({"epc":"1234","any":true,"data":"AABB"})", "!not both"},
        {"write-epc", R"({"epc":"300011112222"})", "!give new_epc (hex words) or new_uri"},
        // A GS1 identity is encoded before the reader is asked, or refused with the rule it breaks.
        {"write-epc", R"({"any":true,"new_uri":"urn:epc:id:sgtin:0614141.812345.6789","filter":3})",
         "write-epc any 3074257BF7194E4000001A85 -"},
        {"write-epc", R"({"any":true,"new_uri":"urn:epc:tag:sgtin-96:3.0614141.812345.6789","filter":1})",
         "!new_uri 'urn:epc:tag:sgtin-96:3.0614141.812345.6789' cannot be encoded: the tag URI gives filter 3"},
        {"write-epc", R"({"any":true,"new_uri":"urn:epc:id:sgtin:0614141.812345.6789","new_epc":"1234"})", "!not both"},
        {"write-epc", R"({"any":true,"new_epc":"1234","filter":3})", "!filter goes with new_uri"},
        {"write-epc", R"({"any":true,"new_uri":"urn:epc:id:sgtin:0614141.812345.6789","filter":8})",
         "!filter 8 is out of range 0..7"},
        // Unknown keys, by name, before anything else is judged.
        {"read", R"({"bank":"user","words":2,"extra":1})", "!unknown key 'extra': tags/read takes epc, any, bank"},
        {"write", R"({"epc":"1234","dta":"AABB"})", "!unknown key 'dta'"},
        {"set", R"({"powr":25})", "!unknown key 'powr'"},
        {"read", R"({"bank":"tid","words":6)", "!not JSON"},
        {"read", R"(["tid"])", "!JSON object"},
        {"read", R"({"bank":"bogus"})", "!bank 'bogus'"},
        {"read", R"({"epc":"12G4"})", "!epc '12G4' is not whole words"},
        {"read", R"({"epc":"123"})", "!is not whole words"},
        {"read", R"({"words":121})", "!words 121 is out of range 1..120"},
        {"read", R"({"words":"4; rm"})", "!words must be a whole number"},
        {"write", R"({"any":true,"data":"AABBCC"})", "!data 'AABBCC' is not whole words"},
        {"write", R"({"any":true})", "!data is missing"},
        {"write", R"({"any":true,"data":"AABB","password":"1234"})", "!password"},
        {"write-epc", R"({"any":true,"new_epc":"0011223344556677889900112233445566778899AABBCCDDEEFF0011223344"})",
         "!at most 30 bytes"},
        {"set", R"({"power":31})", "!power 31 is out of range 0..30"},
        {"set", R"({"scan_time":2})", "!scan_time 2 is out of range 3..255"},
        {"set", R"({"region":[1]})", "!region must be two numbers"},
        {"set", R"({})", "!nothing to change"},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::string line = Dashboard::requestLine(c.operation, c.body, &error);
        if (c.expected[0] == '!') {
            EXPECT_EQ(line, "") << c.body;
            EXPECT_NE(error.find(c.expected.substr(1)), std::string::npos) << c.body << " -> " << error;
        } else {
            EXPECT_EQ(line, c.expected) << c.body << " -> " << error;
        }
    }
    int status = 0;
    EXPECT_EQ(Dashboard::answerJson("read", Answer::done({"E280"}), &status), "{\"data\":\"E280\",\"ok\":true}\n");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(Dashboard::answerJson("get", Answer::done({"30", "10", "49", "128"}), &status),
              "{\"ok\":true,\"power\":30,\"region\":[49,128],\"scan_time\":10}\n");
    // A change says which tag it changed.
    EXPECT_EQ(Dashboard::answerJson("write-epc 3000AAAABBBB 3000AAAABBBBDDDD -", Answer::done({}), &status),
              "{\"epc\":\"3000AAAABBBB\",\"new_epc\":\"3000AAAABBBBDDDD\",\"ok\":true}\n");
    EXPECT_EQ(Dashboard::answerJson("write-epc any 3074257BF7194E4000001A85 -", Answer::done({}), &status),
              "{\"any\":true,\"new_epc\":\"3074257BF7194E4000001A85\","
              "\"new_uri\":\"urn:epc:id:sgtin:0614141.812345.6789\",\"ok\":true}\n");
    EXPECT_EQ(Dashboard::answerJson("write any user 0 AABB -", Answer::done({}), &status),
              "{\"any\":true,\"ok\":true}\n");
    const std::string failed = Dashboard::answerJson("write", Answer::failed(MORVENT_TAG_ERROR, 4, "lost"), &status);
    EXPECT_EQ(status, 502);
    EXPECT_NE(failed.find(std::string("\"error\":\"") + MorventStatusName(MORVENT_TAG_ERROR)), std::string::npos) << failed;
    EXPECT_NE(failed.find(std::string("\"tag_error\":\"") + MorventTagErrorName(4)), std::string::npos) << failed;
    Dashboard::answerJson("read", notConnected(), &status);
    EXPECT_EQ(status, 503);
    Dashboard::answerJson("read", Answer::refused(Outcome::ActiveMode, "the reader runs in active mode: ..."), &status);
    EXPECT_EQ(status, 409);
    // A worker busy or gone, or a gateway stopping: to be asked again later, not a bad request.
    Dashboard::answerJson("read", Answer::refused(Outcome::Unavailable, "the reader's worker is busy"), &status);
    EXPECT_EQ(status, 503);
}

// Changes need the token when one is set (401 without, 403 wrong); without
// one they are allowed only while the server listens on loopback.
TEST(Dashboard, WhoMayChangeThings) {
    Config config;
    std::string message;
    // Without a token, only a listener in 127.0.0.0/8 lets changes through.
    const std::pair<const char*, int> listeners[] = {{"127.0.0.1", 0},    {"127.18.0.9", 0},    {"0.0.0.0", 403},
                                                     {"10.127.0.1", 403}, {"192.168.127.1", 403}, {"128.0.0.1", 403}};
    for (const auto& [address, status] : listeners) {
        config.httpAddress = address;
        EXPECT_EQ(Dashboard(config).authorize("", &message), status) << address;
    }
    EXPECT_EQ(Dashboard(config).authorize("Bearer x", &message), 403);
    EXPECT_NE(message.find("no http_token"), std::string::npos);
    for (const char* host : {"127.0.0.1", "0.0.0.0"}) {
        config.httpAddress = host;
        config.httpToken = "s3cret";
        Dashboard d(config);
        EXPECT_EQ(d.authorize("", &message), 401);
        EXPECT_EQ(d.authorize("Bearer s3cre", &message), 403);
        EXPECT_EQ(d.authorize("Bearer s3cret!", &message), 403);
        EXPECT_EQ(d.authorize("bearer s3cret", &message), 403);
        EXPECT_EQ(d.authorize("Bearer s3cret", &message), 0);
    }
}

// Browsers cannot be turned against the gateway: a request must be addressed
// to one of its names (no DNS rebinding), and a change must come from the
// dashboard's own origin, or from no browser, as JSON.
TEST(Dashboard, OnlyItsOwnNamesAndOriginMayChangeThings) {
    Config config;
    config.httpHost = "localhost";
    config.httpPort = 8780;
    const Dashboard loopback(config);
    config.httpHost = config.httpAddress = "0.0.0.0";
    const Dashboard everywhere(config);
    std::string message;
    const struct {
        const Dashboard& dashboard;
        const char* host;
        int status;
    } hosts[] = {{loopback, "localhost:8780", 0},       {loopback, "127.0.0.1:8780", 0},
                 {loopback, "LocalHost.:8780", 0},      {loopback, "evil.example:8780", 403},
                 {loopback, "127.0.0.1:8781", 403},     {loopback, "127.0.0.1", 403},
                 {loopback, "", 403},                   {loopback, "[::1]:8780", 403},
                 {everywhere, "192.0.2.7:8780", 0},     {everywhere, "localhost:8780", 0},
                 {everywhere, "evil.example:8780", 403}};
    for (const auto& h : hosts) EXPECT_EQ(h.dashboard.admitHost(h.host, &message), h.status) << h.host << ": " << message;
    EXPECT_NE(message.find("Host 'evil.example:8780' is not this gateway's address"), std::string::npos) << message;

    const struct {
        const char *origin, *type;
        int status;
    } changes[] = {{"", "application/json", 0},
                   {"http://localhost:8780", "application/json; charset=utf-8", 0},
                   {"http://evil.example", "application/json", 403},
                   {"http://localhost:8781", "application/json", 403},
                   {"https://localhost:8780", "application/json", 403},
                   {"null", "application/json", 403},
                   {"", "text/plain", 415},
                   {"", "", 415}};
    for (const auto& c : changes)
        EXPECT_EQ(Dashboard::admitChange("localhost:8780", c.origin, c.type, &message), c.status)
            << c.origin << " " << c.type << ": " << message;
}

// Every message between supervisor and worker comes back from its line as
// it went; a line of another kind, or malformed, is refused.
TEST(Channel, EveryMessageRoundTrips) {
    const auto back = [](const auto& message) {
        std::decay_t<decltype(message)> out;
        const std::string line = format(message);
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_TRUE(parse(line, out)) << line;
        EXPECT_EQ(format(out), line);
        return out;
    };
    for (const ReaderState state : kReaderStates)
        EXPECT_EQ(back(StateMessage{"door-a", state, "link lost:\nno answer"}).detail, "link lost: no answer");
    EXPECT_EQ(back(StateMessage{"door-a", ReaderState::Online, ""}).state, ReaderState::Online);
    const ReadMessage read = back(ReadMessage{"door-a", 1'765'000'000'123, "E200AB", "E280"});
    EXPECT_EQ(read.atMs, 1'765'000'000'123);
    EXPECT_EQ(read.tid, "E280");
    EXPECT_EQ(back(ReadMessage{"door-a", 5, "E200AB", ""}).tid, "");
    EXPECT_EQ(back(Request{18446744073709551615u, "door-a", "write any user 0 AABB -"}).operation,
              "write any user 0 AABB -");
    std::vector<Answer> answers{Answer::done({"30", "10", "49", "128"}), Answer::done({}),
                                Answer::failed(MORVENT_TAG_ERROR, 4, "write: tag error"),
                                Answer::refused(Outcome::Invalid, "unknown bank 'x'"), notConnected(),
                                Answer::refused(Outcome::ActiveMode, "the reader runs in active mode")};
    for (Answer& a : answers) {
        a.id = 7;
        const Answer b = back(a);
        EXPECT_EQ(b.outcome, a.outcome);
        EXPECT_EQ(b.result, a.result);
        EXPECT_EQ(b.message, a.message);
    }
    EXPECT_EQ(back(answers[2]).tagError, 4);

    StateMessage state;
    ReadMessage r;
    Request request;
    Answer answer;
    EXPECT_FALSE(parse("R door-a 5 E200 -", state));   // another kind
    EXPECT_FALSE(parse("S door-a asleep x", state));   // no such state
    EXPECT_FALSE(parse("R door-a 5x E200 -", r));      // not a time
    EXPECT_FALSE(parse("R door-a 5 E200", r));         // no tid field
    EXPECT_FALSE(parse("C -1 door-a get", request));   // not an id
    EXPECT_FALSE(parse("A 1 err -1 -1 old form", answer));
    EXPECT_FALSE(parse("A 1 failed x -1 lost", answer));
}

// A worker speaks for the readers of its own link only; a reader's state
// going from online back to connecting counts a reconnect.
TEST_F(SpoolTest, SupervisorTakesEachWorkersLinesForItsOwnReaders) {
    Config config = parseConfig("[gateway]\nid = \"g\"\nhttp = \"\"\nspool = \"" + dir_ +
                                "/s.db\"\n[[reader]]\nname = \"a\"\ntcp = \"127.0.0.1:6000\"\n"
                                "[[reader]]\nname = \"b\"\ntcp = \"127.0.0.1:6001\"\n");
    Supervisor supervisor(config, "/bin/false");
    for (const char* line : {"S a online tcp 127.0.0.1:6000", "R a 1000 E200 -", "S a connecting link lost",
                             "R b 1000 E201 -", "S b online tcp", "R a x E200 -", "garbage"})
        supervisor.workerLine(0, line);
    const ReaderMetrics& a = supervisor.metrics().readers.at("a");
    const ReaderMetrics& b = supervisor.metrics().readers.at("b");
    EXPECT_EQ(a.state, ReaderState::Connecting);
    EXPECT_EQ(a.reconnects, 1u);
    EXPECT_EQ(a.reads, 1u);
    EXPECT_EQ(b.reads, 0u);
    EXPECT_EQ(b.state, ReaderState::Connecting);
    supervisor.workerLine(1, "R b 1000 E201 E280");
    EXPECT_EQ(b.reads, 1u);
}
