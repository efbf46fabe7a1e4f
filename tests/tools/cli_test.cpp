// The tool's parsing and formatting units: what a user types and what the
// tool prints, without a reader.
#include <gtest/gtest.h>

#include <regex>

#include "cli/args.h"
#include "cli/output.h"
#include "cli/parse.h"
#include "cli/status.h"
#include "cli/tags.h"
#include "cli/target.h"
#include "morvent.h"

using namespace morvent_cli;

namespace {

// The message of the UsageError that `action` throws, or "" when none.
template <typename F>
std::string usage_error(F action) {
    try {
        action();
    } catch (const UsageError& error) {
        return error.what();
    }
    return "";
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(CliHex, AcceptsSeparatorsPrefixAndBothCases) {
    EXPECT_EQ(parseHex("E20034ab", "x"), (Bytes{0xE2, 0x00, 0x34, 0xAB}));
    EXPECT_EQ(parseHex("0xe2 00:34-AB", "x"), (Bytes{0xE2, 0x00, 0x34, 0xAB}));
    EXPECT_EQ(parseHex("", "x"), Bytes{});
}

TEST(CliHex, RefusesOddLengthAndNonHexWithClearMessages) {
    std::string odd = usage_error([] { parseHex("E20", "--data"); });
    EXPECT_TRUE(contains(odd, "--data")) << odd;
    EXPECT_TRUE(contains(odd, "odd number of hex digits (3)")) << odd;
    std::string bad = usage_error([] { parseHex("E2G0", "--epc"); });
    EXPECT_TRUE(contains(bad, "'G' at position 3")) << bad;
}

TEST(CliHex, EpcMustBeOneToFifteenWholeWords) {
    EXPECT_EQ(parseEpc(std::string(60, 'A')).size(), 30u);
    std::string seventeen = usage_error([] { parseEpc(std::string(68, 'A')); });
    EXPECT_TRUE(contains(seventeen, "17 words is too long; at most 15")) << seventeen;
    EXPECT_TRUE(contains(usage_error([] { parseEpc(std::string(64, 'A')); }), "16 words"));
    EXPECT_TRUE(contains(usage_error([] { parseEpc("E200AB"); }), "not a whole number of 16-bit words"));
    EXPECT_TRUE(contains(usage_error([] { parseEpc(""); }), "empty"));
    EXPECT_TRUE(contains(usage_error([] { parseHexExact("0011", 4, "--password"); }), "exactly 4 bytes"));
}

TEST(CliNumbers, ParsesDecimalAndHexWithinRange) {
    EXPECT_EQ(parseNumber("42", "n", 0, 255), 42);
    EXPECT_EQ(parseNumber("0x2A", "n", 0, 255), 42);
    EXPECT_TRUE(contains(usage_error([] { parseByte("256", "--ptr"); }), "--ptr: 256 is out of range 0..255"));
    EXPECT_TRUE(contains(usage_error([] { parseByte("-1", "--ptr"); }), "out of range"));
    for (const char* junk : {"", "12x", " 12", "x"}) {
        EXPECT_TRUE(contains(usage_error([&] { parseByte(junk, "n"); }), "is not a number")) << junk;
    }
    EXPECT_EQ(parseByteList("3,0", 2, "region"), (Bytes{3, 0}));
    EXPECT_EQ(parseByteList("1 2, 3", 3, "b"), (Bytes{1, 2, 3}));
    EXPECT_TRUE(contains(usage_error([] { parseByteList("3", 2, "region"); }), "needs 2 byte values, got 1"));
}

TEST(CliNumbers, BanksBaudsAndEndpoints) {
    EXPECT_EQ(parseBank("user"), 3);
    EXPECT_EQ(parseBank("1"), 1);
    EXPECT_TRUE(contains(usage_error([] { parseBank("usr"); }), "reserved, epc, tid, user"));
    EXPECT_TRUE(contains(usage_error([] { parseBank("4"); }), "out of range"));

    EXPECT_EQ(parseBaud("57600"), 5);
    EXPECT_EQ(parseBaud("115200"), 6);
    EXPECT_EQ(parseBaud("0"), 0);
    EXPECT_FALSE(usage_error([] { parseBaud("3"); }).empty());  // codes 3 and 4 have no rate
    EXPECT_FALSE(usage_error([] { parseBaud("4800"); }).empty());
    EXPECT_EQ(baudRateOfCode(6), 115200);

    // Host names are looked up when the link opens.
    Endpoint local = parseEndpoint("reader.lan:6000");
    EXPECT_EQ(local.host, "reader.lan");
    EXPECT_EQ(local.port, 6000);
    EXPECT_EQ(parseEndpoint("192.168.0.255:65535").host, "192.168.0.255");
    EXPECT_TRUE(contains(usage_error([] { parseEndpoint(":6000"); }), "names no host"));
    EXPECT_TRUE(contains(usage_error([] { parseEndpoint("127.0.0.1:80"); }), "out of range 1024..65535"));
    EXPECT_TRUE(contains(usage_error([] { parseEndpoint("127.0.0.1"); }), "HOST:PORT"));
}

TEST(CliStatus, NamesEveryLibraryCodeAndPassesReaderCodesThrough) {
    const int library_codes[] = {MORVENT_OK,           MORVENT_NO_DATA,   MORVENT_COMM_ERROR,
                                 MORVENT_CRC_ERROR,    MORVENT_PORT_OPEN, MORVENT_INVALID_PORT,
                                 MORVENT_TAG_ERROR,    MORVENT_CMD_MISMATCH, MORVENT_PARAM_RANGE};
    for (int code : library_codes) {
        StatusInfo info = describeStatus(code);
        EXPECT_EQ(info.name.rfind("MORVENT_", 0), 0u) << code;
        EXPECT_FALSE(info.meaning.empty());
    }
    EXPECT_EQ(statusLine(MORVENT_COMM_ERROR),
              "MORVENT_COMM_ERROR (0x30, 48): link failure, time-out or failed handshake");
    EXPECT_EQ(describeStatus(0xFB).name, "MORVENT_NO_TAG");
    EXPECT_EQ(describeStatus(0x05).name, "READER_STATUS_0x05");
    EXPECT_TRUE(contains(statusLine(0xFE), "(0xFE, 254)"));
}

namespace {

int no_handler(Context&, const Arguments&) { return 0; }

const Options kGlobal = {{"tcp", "HOST:PORT", "link"}, {"json", nullptr, "json"}};
const std::vector<CommandSpec> kCommands = {
    {"read", "", "read", {{"bank", "BANK", "bank"}, {"block", nullptr, "block"}}, "", no_handler},
    {"config get", "[SETTING...]", "get", {}, "", no_handler},
    {"config set", "SETTING VALUE", "set", {}, "", no_handler},
};

Invocation parse(std::vector<std::string> args) { return parseCommandLine(args, kGlobal, kCommands); }

}  // namespace

TEST(CliArgs, GlobalOptionsBeforeOrAfterTheCommand) {
    Invocation a = parse({"--tcp", "127.0.0.1:6000", "read", "--bank=user", "--json", "--block"});
    ASSERT_NE(a.command, nullptr);
    EXPECT_STREQ(a.command->name, "read");
    EXPECT_EQ(*a.arguments.value("tcp"), "127.0.0.1:6000");
    EXPECT_EQ(*a.arguments.value("bank"), "user");
    EXPECT_TRUE(a.arguments.flag("json"));
    EXPECT_TRUE(a.arguments.flag("block"));
    EXPECT_FALSE(a.help);
}

TEST(CliArgs, TwoWordCommandsGroupsOperandsAndHelp) {
    Invocation set = parse({"config", "set", "power", "--", "--30"});
    ASSERT_NE(set.command, nullptr);
    EXPECT_STREQ(set.command->name, "config set");
    EXPECT_EQ(set.arguments.operands(), (std::vector<std::string>{"power", "--30"}));
    // A word naming a command group, after the command, is an operand.
    EXPECT_EQ(parse({"config", "set", "read", "config", "--json"}).arguments.operands(),
              (std::vector<std::string>{"read", "config"}));

    Invocation group = parse({"config", "--help"});
    EXPECT_EQ(group.command, nullptr);
    EXPECT_EQ(group.group, "config");
    EXPECT_TRUE(group.help);
    EXPECT_TRUE(contains(groupHelp("config", kCommands), "config get"));
    EXPECT_FALSE(contains(groupHelp("config", kCommands), "  read"));

    Invocation help = parse({"read", "-h"});
    EXPECT_TRUE(help.help);
    std::string text = commandHelp(*help.command, kGlobal);
    EXPECT_TRUE(contains(text, "--bank BANK")) << text;
    EXPECT_TRUE(contains(text, "--tcp HOST:PORT")) << text;
}

TEST(CliArgs, RefusesWhatItDoesNotKnow) {
    EXPECT_TRUE(contains(usage_error([] { parse({"read", "--bnak", "1"}); }), "unknown option --bnak (see morvent read --help)"));
    EXPECT_TRUE(contains(usage_error([] { parse({"--bank", "1", "read"}); }), "unknown option --bank"));
    EXPECT_TRUE(contains(usage_error([] { parse({"read", "--bank"}); }), "--bank needs a value BANK"));
    EXPECT_TRUE(contains(usage_error([] { parse({"read", "--bank", "1", "--bank", "2"}); }), "given twice"));
    EXPECT_TRUE(contains(usage_error([] { parse({"read", "--block=yes"}); }), "takes no value"));
    EXPECT_TRUE(contains(usage_error([] { parse({"inventroy"}); }), "unknown command 'inventroy'"));
    EXPECT_TRUE(contains(usage_error([] { parse({"config", "put"}); }), "unknown command 'config put'"));
    EXPECT_TRUE(contains(usage_error([] { parse({"-x", "read"}); }), "unknown option -x"));
    EXPECT_TRUE(contains(usage_error([] { Arguments().required("count"); }), "--count is required"));
}

TEST(CliOutput, TextTableAlignsColumnsAndRightAlignsNumbers) {
    Table table{{"tag", "epc", "uri"},
                {{Value::number(1), Value::text("E200"), Value::text("urn:x")}, {Value::number(10), Value::text("AB"), Value::absent()}}};
    EXPECT_EQ(renderTable(table), "tag  epc   uri\n  1  E200  urn:x\n 10  AB\n");
    EXPECT_EQ(rowJson(table.columns, table.rows[1]), (Json{{"tag", 10}, {"epc", "AB"}}));  // an absent cell: no key
    Document document;
    document.status = 0;
    document.add("tag_count", Value::number(2));
    EXPECT_EQ(renderText(document), "status     MORVENT_OK (0x00, 0): success\ntag count  2\n");
}

TEST(CliOutput, JsonCarriesStatusFieldsCodesAndTableInOrder) {
    Document document;
    document.status = 0xFC;
    const std::uint8_t region[] = {3, 0};
    document.add("tag_error_code", Value::number(11)).add("locked", Value::boolean(false)).add("x", Value::null());
    document.add("bank", Value::coded(3, "user")).add("region", Value::numbers(region, 2));
    document.table_key = "tags";
    document.table = Table{{"epc"}, {{Value::text("E2\"\n")}}};
    std::string text = renderJson(document);
    Json parsed = Json::parse(text);
    EXPECT_EQ(parsed["status"], (Json{{"code", 252}, {"name", "MORVENT_TAG_ERROR"}, {"meaning", "the tag reported an error"}}));
    EXPECT_EQ(parsed["tag_error_code"], 11);
    EXPECT_EQ(parsed["locked"], false);
    EXPECT_TRUE(parsed["x"].is_null());
    EXPECT_EQ(parsed["bank"], (Json{{"code", 3}, {"name", "user"}}));
    EXPECT_EQ(parsed["region"], (Json{3, 0}));
    EXPECT_EQ(parsed["tags"][0]["epc"], "E2\"\n");
    EXPECT_EQ(parsed.begin().key(), "status");  // fields keep the order they were added in
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(renderText(Document().add("bank", Value::coded(3, "user"))), "bank  user (3)\n");
    Document empty;
    empty.table_key = "tags";
    empty.table = Table{{"epc"}, {}};
    EXPECT_EQ(Json::parse(renderJson(empty)), (Json{{"tags", Json::array()}}));
}

TEST(CliOutput, CsvQuotesOnlyWhatNeedsItAndTimesCarryMillisecondsAndZone) {
    EXPECT_EQ(csvLine({"a", "b,c", "say \"hi\""}), "a,\"b,c\",\"say \"\"hi\"\"\"\n");
    EXPECT_EQ(csvRow({Value::number(7), Value::coded(3, "user"), Value::text("E2")}), "7,3,E2\n");
    using namespace std::chrono;
    std::string time = rfc3339(system_clock::time_point{} + hours(24 * 365 * 30) + milliseconds(250));
    EXPECT_TRUE(std::regex_match(time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.250(Z|[+-]\d\d:\d\d))"))) << time;
}

namespace {

Arguments with(std::initializer_list<std::pair<const char*, const char*>> values) {
    Arguments arguments;
    for (const auto& [key, value] : values) arguments.setValue(key, value);
    return arguments;
}

}  // namespace

TEST(CliTarget, EpcMaskOrNeither) {
    Target none = parseTarget(Arguments());
    EXPECT_EQ(none.epc_words, 0);

    Target by_epc = parseTarget(with({{"epc", "E2000000000000000000ABCD"}}));
    EXPECT_EQ(by_epc.epc_words, 6);
    EXPECT_EQ(by_epc.epc.size(), 12u);

    Target by_mask = parseTarget(with({{"mask", "E200AB"}}));
    EXPECT_EQ(by_mask.epc_words, 0xFF);
    EXPECT_EQ(by_mask.selection.bank, 1);
    EXPECT_EQ(by_mask.selection.address[0], 0);
    EXPECT_EQ(by_mask.selection.address[1], 32);
    EXPECT_EQ(by_mask.selection.bits, 24);

    Target custom = parseTarget(with({{"mask", "E2F0"}, {"mask-bank", "tid"}, {"mask-addr", "0x120"}, {"mask-bits", "12"}}));
    EXPECT_EQ(custom.selection.bank, 2);
    EXPECT_EQ(custom.selection.address[0], 0x01);
    EXPECT_EQ(custom.selection.address[1], 0x20);
    EXPECT_EQ(custom.selection.bits, 12);
}

TEST(CliTarget, RefusesContradictoryOrOversizedSelections) {
    EXPECT_TRUE(contains(usage_error([] { parseTarget(with({{"epc", "E200"}, {"mask", "E2"}})); }), "not both"));
    EXPECT_TRUE(contains(usage_error([] { parseTarget(with({{"mask", "E200"}, {"mask-bits", "17"}})); }),
                         "17 bits take 3 mask bytes, --mask has 2"));
    EXPECT_TRUE(contains(usage_error([] { parseTarget(with({{"mask", std::string(64, 'F').c_str()}})); }), "256 bits"));
    EXPECT_EQ(parseTarget(with({{"mask", std::string(64, 'F').c_str()}, {"mask-bits", "255"}})).selection.bits, 255);
    EXPECT_TRUE(contains(usage_error([] { parseTarget(with({{"mask-bits", "8"}})); }), "--mask-bits needs --mask"));
    EXPECT_TRUE(contains(usage_error([] { parsePassword(with({{"password", "123"}})); }), "odd number"));
    EXPECT_EQ(parsePassword(Arguments()), Bytes(4, 0));
}

TEST(CliTags, SplitsInventoryRecordsAndKeepsAnIncompleteTail) {
    const std::uint8_t data[] = {4, 0xE2, 0x00, 0x00, 0x01, 2, 0xAB, 0xCD, 3, 0x11};
    RecordWalk walk = splitTagRecords(data, sizeof data);
    ASSERT_EQ(walk.tags.size(), 2u);
    EXPECT_EQ(walk.tags[0].epc, (Bytes{0xE2, 0x00, 0x00, 0x01}));
    EXPECT_EQ(walk.tags[1].epc, (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(walk.rest, (Bytes{3, 0x11}));
    EXPECT_TRUE(splitTagRecords(data, 0).tags.empty());
}

TEST(CliTags, SplitsBufferRecordsByTheirLengthByte) {
    Bytes run(11, 0x01);
    run.push_back(2);
    run.insert(run.end(), {0xAA, 0xBB});
    run.insert(run.end(), 11, 0x02);
    run.push_back(5);  // claims more bytes than follow
    run.push_back(0xCC);
    BufferWalk walk = splitBufferRecords(run.data(), run.size());
    ASSERT_EQ(walk.records.size(), 1u);
    EXPECT_EQ(walk.records[0].head, Bytes(11, 0x01));
    EXPECT_EQ(walk.records[0].tail, (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(walk.rest.size(), 13u);
}

TEST(CliTags, FrameSplitterJoinsFramesAcrossReads) {
    FrameSplitter splitter;
    const std::uint8_t first[] = {0x05, 0x00, 0xEE, 0x00, 0x11, 0x22, 0x06, 0x00};
    std::vector<Bytes> frames = splitter.feed(first, sizeof first);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (Bytes{0x05, 0x00, 0xEE, 0x00, 0x11, 0x22}));
    EXPECT_EQ(splitter.pending().size(), 2u);
    const std::uint8_t rest[] = {0xEE, 0x00, 0x01, 0x02, 0x03};
    frames = splitter.feed(rest, sizeof rest);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 7u);
    EXPECT_TRUE(splitter.pending().empty());
}

namespace {

Bytes framed(Bytes frame) {
    frame.insert(frame.begin(), static_cast<std::uint8_t>(frame.size() + 2));
    frame.resize(frame.size() + 2);
    GetCRC(frame.data(), static_cast<int>(frame.size() - 2));
    return frame;
}

bool crc_intact(const std::uint8_t* frame, std::size_t size) {
    Bytes copy(frame, frame + size);
    copy.resize(size + 2);
    return CheckCRC(copy.data(), static_cast<int>(size)) == 0;
}

}  // namespace

TEST(CliTags, FrameSplitterFindsItsFootingAfterLostAndCorruptBytes) {
    Bytes good = framed({0x00, 0xEE, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78});
    Bytes corrupt = framed({0x00, 0xEE, 0x00, 0x02, 0xAB, 0xCD});
    corrupt[5] ^= 0x01;
    // The tail of a frame whose head a serial read lost, a corrupt frame
    // (whose inner bytes look like long frames), then a run of good ones.
    Bytes stream{0x02, 0x03, 0x01};
    stream.insert(stream.end(), corrupt.begin(), corrupt.end());
    for (int i = 0; i < 30; ++i) stream.insert(stream.end(), good.begin(), good.end());
    FrameSplitter splitter(crc_intact);
    std::vector<Bytes> frames = splitter.feed(stream.data(), 40);
    std::vector<Bytes> rest = splitter.feed(stream.data() + 40, stream.size() - 40);
    frames.insert(frames.end(), rest.begin(), rest.end());
    ASSERT_EQ(frames.size(), 30u);
    for (const Bytes& frame : frames) EXPECT_EQ(frame, good);
    EXPECT_EQ(splitter.discarded(), 3u + corrupt.size());
    EXPECT_TRUE(splitter.pending().empty());
}

TEST(CliTags, TallyCountsSightingsInOrderOfFirstSight) {
    using namespace std::chrono;
    TagTally tally;
    system_clock::time_point t0{};
    tally.record({0xBB}, t0 + seconds(1));
    tally.record({0xAA}, t0 + seconds(2));
    EXPECT_EQ(tally.table().columns.size(), 4u) << "no uri column without an identity";
    tally.record({0xBB}, t0 + seconds(3));
    tally.record({0xCC}, t0 + seconds(3), Value::text("urn:epc:id:x"));
    Table table = tally.table();
    EXPECT_EQ(table.columns.back(), "uri");
    EXPECT_EQ(table.rows[2][4].asText(), "urn:epc:id:x");
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[0][0].asText(), "BB");
    EXPECT_EQ(table.rows[0][1].asText(), "2");
    EXPECT_EQ(table.rows[0][2].asText(), rfc3339(t0 + seconds(1)));
    EXPECT_EQ(table.rows[0][3].asText(), rfc3339(t0 + seconds(3)));
    EXPECT_EQ(table.rows[1][1].asText(), "1");
}
