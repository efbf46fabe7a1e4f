// Tag commands: inventory (Gen2 and 6B, once or watching), Gen2 memory,
// protection and EAS, and the 6B memory commands.

#include <algorithm>
#include <array>
#include <iostream>

#include "cli/status.h"
#include "cli/tags.h"
#include "cli/target.h"
#include "commands.h"
#include "context.h"

namespace morvent_cli {
namespace {

morvent::Mask maskOf(const Selection& selection) {
    morvent::Mask mask;
    mask.bank = static_cast<morvent::Bank>(selection.bank);
    mask.bitAddress = static_cast<std::uint16_t>(selection.address[0] << 8 | selection.address[1]);
    mask.bits = selection.mask;
    mask.bitLength = selection.bits;
    return mask;
}

// The tag a command addresses: by EPC, by selection mask, or whichever answers.
morvent::TagRef tagRef(const Target& target) {
    if (target.epc_words == 0xFF) return morvent::TagRef::mask(maskOf(target.selection));
    if (target.epc_words == 0) return morvent::TagRef::any();
    return morvent::TagRef::epc(target.epc);
}

morvent::Password passwordOf(const Bytes& bytes) {
    std::array<std::uint8_t, 4> value{};
    for (std::size_t i = 0; i < value.size() && i < bytes.size(); ++i) value[i] = bytes[i];
    return morvent::Password(value);
}

morvent::Bank bankOf(std::uint8_t bank) { return static_cast<morvent::Bank>(bank); }

// How a tag command picks its tag, as the command line gave it.
struct Addressing {
    Target target;
    morvent::TagRef tag() const { return tagRef(target); }
    bool any() const { return target.epc_words == 0; }
};

void reportOk(const Context& context, Document document = {}) {
    document.status = MORVENT_OK;
    context.emit(document);
}

// Success of a command that acted on one tag: says which one.
void reportTag(const Context& context, const Target& target, Document document = {}) {
    document.fields.insert(document.fields.begin(), Field{"tag", targetValue(target)});
    reportOk(context, document);
}

void refuseUnlessConfirmed(const Context& context, const std::string& question) {
    if (!confirm(context, question)) throw UsageError("not confirmed; nothing was sent");
}

// The longest request is 255 bytes after Len; what the write data may take.
long writeRoom(const Target& target) {
    long fixed = target.epc_words == 0xFF ? 16 + static_cast<long>(target.selection.mask.size())
                                          : 12 + static_cast<long>(target.epc.size());
    return 255 - fixed;
}

Bytes parseWords(const std::string& text, const char* what) {
    Bytes data = parseHex(text, what);
    if (data.empty() || data.size() % 2 != 0) {
        throw UsageError(std::string(what) + ": needs whole 16-bit words (4 hex digits each), got " +
                         std::to_string(data.size()) + " bytes");
    }
    return data;
}

// ---- inventory ---------------------------------------------------------

struct InventoryRequest {
    Selection selection;
    bool masked = false;
    std::uint8_t tid[2] = {0, 0};
    bool with_tid = false;

    morvent::InventoryOptions options() const {
        morvent::InventoryOptions options;
        if (masked) options.mask = maskOf(selection);
        options.tid = with_tid;
        options.tidAddress = tid[0];
        options.tidWords = tid[1];
        return options;
    }
};

// One inventory; a failure ends it as the command's Failure.
std::vector<morvent::Tag> inventoryG2(Context& context, const InventoryRequest& request, int& status) {
    try {
        morvent::InventoryResult result = context.reader().inventoryRound(request.options());
        status = result.status;
        return std::move(result.tags);
    } catch (const morvent::Error& error) {
        throw context.failure(error);
    }
}

// The GS1 identity, when an EPC has one, goes last: columns keep their
// places for scripts that read them by position.
Table tagTable(const std::vector<morvent::Tag>& tags, bool with_tid) {
    Table table{{"tag", "epc", "words"}, {}};
    if (with_tid) table.columns.push_back("tid");
    std::vector<Value> uris;
    for (const morvent::Tag& tag : tags) uris.push_back(identityUri(tag.epc));
    const bool identities = std::any_of(uris.begin(), uris.end(), [](const Value& uri) { return !uri.isAbsent(); });
    if (identities) table.columns.push_back("uri");
    for (std::size_t i = 0; i < tags.size(); ++i) {
        table.rows.push_back({Value::number(static_cast<long long>(i + 1)), Value::text(toHex(tags[i].epc)),
                              Value::number(static_cast<long long>(tags[i].epc.size() / 2))});
        if (with_tid) table.rows.back().push_back(Value::text(toHex(tags[i].tid)));
        if (identities) table.rows.back().push_back(uris[i]);
    }
    return table;
}

// One JSON line or CSV row per tag sighting as the rounds go, a summary at
// the end. A round the link or the reader spoils is counted, not fatal; two
// link failures in a row (one lost answer is not a broken link) reopen the
// link with capped back-off, and the watch goes on until it is stopped.
int watch(Context& context, InventoryRequest& request, long rounds, long interval_ms) {
    TagTally tally;
    bool live = outputIsTerminal() && context.format == Format::Text;
    catchInterrupts(true);
    context.reader();  // a link that cannot be opened ends the watch at once
    context.note("watching the field; Ctrl-C stops");
    std::vector<std::string> columns{"time", "round", "epc", "count"};
    if (request.with_tid) columns.push_back("tid");
    columns.push_back("uri");  // empty in CSV, left out of JSON, for an EPC that is no GS1 identity
    if (context.format == Format::Csv) std::cout << csvLine(columns) << std::flush;
    long failed = 0, round = 0;
    int failed_in_a_row = 0;
    while (!interrupted() && (rounds == 0 || round < rounds)) {
        ++round;
        int status = 0;
        std::vector<morvent::Tag> tags;
        try {
            tags = inventoryG2(context, request, status);
            failed_in_a_row = 0;
        } catch (const Failure& failure) {
            ++failed;
            context.warn("round " + std::to_string(round) + ": " + statusLine(failure.status));
            if (context.json) {
                Json line{{"time", rfc3339(std::chrono::system_clock::now())},
                          {"round", round},
                          {"error", statusJson(failure.status)}};
                std::cout << line.dump() << "\n" << std::flush;
            }
            failed_in_a_row = isLinkFailure(failure.status) ? failed_in_a_row + 1 : 0;
            if (failed_in_a_row >= 2) {
                if (!context.reconnect(failure.status)) break;
                failed_in_a_row = 0;
            }
        }
        auto now = std::chrono::system_clock::now();
        for (const morvent::Tag& tag : tags) {
            const Value uri = identityUri(tag.epc);
            long long count = tally.record(tag.epc, now, uri);
            if (context.format == Format::Text) continue;
            std::vector<Value> row{Value::time(now), Value::number(round), Value::text(toHex(tag.epc)),
                                   Value::number(count)};
            if (request.with_tid) row.push_back(Value::text(toHex(tag.tid)));
            row.push_back(uri);
            std::cout << (context.json ? rowJson(columns, row).dump() + "\n" : csvRow(row));
        }
        std::cout << std::flush;
        if (live) {
            std::printf("\033[H\033[2J%s\n%zu tag(s) seen, round %ld; Ctrl-C stops\n",
                        renderTable(tally.table()).c_str(), tally.size(), round);
            std::fflush(stdout);
        }
        if (rounds == 0 || round < rounds) pauseUnlessInterrupted(interval_ms);
    }
    catchInterrupts(false);
    Document document;
    document.add("tags_seen", Value::number(static_cast<long long>(tally.size())));
    document.add("rounds", Value::number(round));
    document.add("failed_rounds", Value::number(failed));
    document.add("reconnects", Value::number(context.reconnects));
    document.table_key = "tags";
    document.table = tally.table();
    if (context.json) std::cout << toJson(document).dump() << "\n";
    else if (context.format == Format::Csv) std::cerr << renderText(document);
    else context.emit(document);
    std::cout << std::flush;
    return 0;
}

// Every 6B tag: the group selection "equal" over no bytes matches them all.
int inventory6B(Context& context) {
    std::vector<morvent::Tag6B> tags = context.reader().inventory6B(morvent::Selection6B{});
    Document document;
    document.status = tags.empty() ? MORVENT_NO_TAG : MORVENT_OK;
    document.add("tag_count", Value::number(static_cast<long long>(tags.size())));
    document.table_key = "tags";
    document.table = Table{{"tag", "uid", "antenna"}, {}};
    for (std::size_t i = 0; i < tags.size(); ++i) {
        document.table->rows.push_back({Value::number(static_cast<long long>(i + 1)),
                                        Value::text(toHex(tags[i].uid.data(), tags[i].uid.size())),
                                        Value::number(tags[i].antenna)});
    }
    context.emit(document);
    return 0;
}

int runInventory(Context& context, const Arguments& arguments) {
    InventoryRequest request;
    request.masked = parseSelection(arguments, request.selection);
    if (auto tid = arguments.value("tid")) {
        Bytes pair = parseByteList(*tid, 2, "--tid ADDR,LEN");
        request.tid[0] = pair[0];
        request.tid[1] = pair[1];
        request.with_tid = true;
    }
    long rounds = arguments.has("rounds") ? parseNumber(*arguments.value("rounds"), "--rounds", 1, 1000000) : 0;
    long interval = arguments.has("interval") ? parseNumber(*arguments.value("interval"), "--interval", 0, 60000) : 200;
    if (arguments.flag("6b")) {
        if (request.masked || request.with_tid || arguments.flag("watch")) {
            throw UsageError("--6b takes none of --mask, --tid and --watch");
        }
        return inventory6B(context);
    }
    if (arguments.flag("watch")) return watch(context, request, rounds, interval);
    if (arguments.has("rounds")) throw UsageError("--rounds needs --watch");
    int status = 0;
    std::vector<morvent::Tag> tags = inventoryG2(context, request, status);
    Document document;
    document.status = status;
    document.add("tag_count", Value::number(static_cast<long long>(tags.size())));
    document.table_key = "tags";
    document.table = tagTable(tags, request.with_tid);
    context.emit(document);
    return 0;
}

// ---- Gen2 memory -------------------------------------------------------

// What read, write and erase share: the tag, the bank, the first word and
// the password.
struct MemoryRequest {
    Addressing a;
    std::uint8_t bank;
    std::uint8_t pointer;
    morvent::Password password;

    explicit MemoryRequest(const Arguments& arguments)
        : a{parseTarget(arguments)},
          bank(parseBank(arguments.required("bank"))),
          pointer(parseByte(arguments.value("ptr").value_or("0"), "--ptr")),
          password(passwordOf(parsePassword(arguments))) {}

    Document document() const {
        Document document;
        document.add("tag", targetValue(a.target));
        document.add("bank", Value::coded(bank, bankName(bank))).add("word_pointer", Value::number(pointer));
        return document;
    }
};

std::uint8_t parseCount(const Arguments& arguments, long max) {
    return static_cast<std::uint8_t>(parseNumber(arguments.required("count"), "--count", 1, max));
}

int runRead(Context& context, const Arguments& arguments) {
    MemoryRequest m(arguments);
    std::uint8_t count = parseCount(arguments, 120);
    Bytes data = context.reader().read(m.a.tag(), bankOf(m.bank), m.pointer, count, m.password);
    Document document = m.document();
    document.add("words", Value::number(count)).add("data", Value::text(toHex(data)));
    reportOk(context, document);
    return 0;
}

int runWrite(Context& context, const Arguments& arguments) {
    MemoryRequest m(arguments);
    Bytes data = parseWords(arguments.required("data"), "--data");
    if (static_cast<long>(data.size()) > writeRoom(m.a.target)) {
        throw UsageError("--data: " + std::to_string(data.size() / 2) + " words do not fit one request; at most " +
                         std::to_string(writeRoom(m.a.target) / 2) + " with this addressing");
    }
    requireChosen(arguments, m.a.target);
    morvent::Reader& reader = context.reader();
    if (arguments.flag("block")) reader.blockWrite(m.a.tag(), bankOf(m.bank), m.pointer, data, m.password);
    else reader.write(m.a.tag(), bankOf(m.bank), m.pointer, data, m.password);
    reportOk(context, m.document().add("words_written", Value::number(static_cast<long long>(data.size() / 2))));
    return 0;
}

int runErase(Context& context, const Arguments& arguments) {
    MemoryRequest m(arguments);
    std::uint8_t count = parseCount(arguments, 255);
    requireChosen(arguments, m.a.target);
    context.reader().erase(m.a.tag(), bankOf(m.bank), m.pointer, count, m.password);
    reportOk(context, m.document().add("words_erased", Value::number(count)));
    return 0;
}

std::string singleOperand(const Arguments& arguments, const char* what) {
    if (arguments.operands().size() != 1) throw UsageError(std::string("needs exactly one ") + what);
    return arguments.operands()[0];
}

// With --epc or --mask the chosen tag's PC word keeps its flags and takes
// the new length, and PC and EPC are written together; with --any the reader
// gives the new EPC to whichever tag answers. The new EPC is hex, or a GS1
// identity with --uri, encoded before anything is sent.
int runWriteEpc(Context& context, const Arguments& arguments) {
    const auto uri = arguments.value("uri");
    if (uri && !arguments.operands().empty()) throw UsageError("give NEW_EPC or --uri, not both");
    if (!uri) {
        for (const OptionSpec& option : kEncodeOptions) {
            if (arguments.has(option.name)) throw UsageError(std::string("--") + option.name + " goes with --uri");
        }
    }
    Bytes epc = uri ? encodeIdentity(*uri, arguments) : parseEpc(singleOperand(arguments, "NEW_EPC"), "NEW_EPC");
    Addressing a{parseChangeTarget(arguments)};
    morvent::Password password = passwordOf(parsePassword(arguments));
    context.reader().writeEpc(a.tag(), epc, password);
    Document document;
    document.add("new_epc", Value::text(toHex(epc)));
    const Value identity = identityUri(epc);
    if (!identity.isAbsent()) document.add("new_uri", identity);
    reportTag(context, a.target, document);
    return 0;
}

// ---- Gen2 protection ---------------------------------------------------

std::uint8_t parseCode(const std::string& text, const char* what, std::initializer_list<const char*> names) {
    std::uint8_t code = 0;
    std::string choices;
    for (const char* name : names) {
        if (text == name) return code;
        choices += (code ? ", " : "") + std::string(name);
        ++code;
    }
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) return parseByte(text, what);
    throw UsageError(std::string(what) + ": '" + text + "' is not one of " + choices + " (or a number)");
}

const char* const kLockAreas[] = {"kill-password", "access-password", "epc", "tid", "user"};
const char* const kLockModes[] = {"writable", "permanently-writable", "secured", "permanently-locked"};

template <std::size_t N>
Value nameOf(std::uint8_t code, const char* const (&names)[N]) {
    return Value::coded(code, code < N ? names[code] : "code " + std::to_string(code));
}

int runLock(Context& context, const Arguments& arguments) {
    Addressing a{parseChangeTarget(arguments)};
    std::uint8_t area =
        parseCode(arguments.required("area"), "--area", {"kill-password", "access-password", "epc", "tid", "user"});
    std::uint8_t mode = parseCode(arguments.required("mode"), "--mode",
                                  {"writable", "permanently-writable", "secured", "permanently-locked"});
    morvent::Password password = passwordOf(parsePassword(arguments));
    if (mode == 1 || mode == 3) {
        refuseUnlessConfirmed(context, "Make " + nameOf(area, kLockAreas).asText() + " of tag " +
                                           targetValue(a.target).asText() + " " + nameOf(mode, kLockModes).asText() +
                                           "?");
    }
    context.reader().lock(a.tag(), static_cast<morvent::LockArea>(area), static_cast<morvent::LockMode>(mode),
                          password);
    reportTag(context, a.target,
              Document().add("area", nameOf(area, kLockAreas)).add("mode", nameOf(mode, kLockModes)));
    return 0;
}

int runKill(Context& context, const Arguments& arguments) {
    Addressing a{parseChangeTarget(arguments)};
    if (!arguments.has("password")) throw UsageError("--password (the tag's kill password) is required");
    morvent::Password password = passwordOf(parsePassword(arguments));
    refuseUnlessConfirmed(context, "Kill tag " + targetValue(a.target).asText() + " for good?");
    context.reader().kill(a.tag(), password);
    reportTag(context, a.target, Document().add("killed", Value::boolean(true)));
    return 0;
}

int runPrivacySet(Context& context, const Arguments& arguments) {
    Addressing a{parseChangeTarget(arguments)};
    morvent::Password password = passwordOf(parsePassword(arguments));
    if (a.any()) context.reader().setPrivacyInField(password);
    else context.reader().setPrivacy(a.tag(), password);
    reportTag(context, a.target, Document().add("privacy", Value::boolean(true)));
    return 0;
}

int runPrivacyReset(Context& context, const Arguments& arguments) {
    requireAny(arguments, "privacy reset acts on whichever tag answers");
    context.reader().resetPrivacy(passwordOf(parsePassword(arguments)));
    reportOk(context);
    return 0;
}

int runPrivacyCheck(Context& context, const Arguments&) {
    std::uint8_t state = context.reader().checkPrivacy();
    reportOk(context, Document().add("privacy_state", Value::number(state)));
    return 0;
}

int runEasSet(Context& context, const Arguments& arguments) {
    Addressing a{parseChangeTarget(arguments)};
    std::uint8_t state = parseCode(arguments.required("state"), "--state", {"off", "on"});
    context.reader().setEas(a.tag(), state, passwordOf(parsePassword(arguments)));
    reportTag(context, a.target, Document().add("eas", Value::coded(state, state ? "on" : "off")));
    return 0;
}

int runEasAlarm(Context& context, const Arguments&) {
    // No tag with EAS set answers: the reader's "no tag", a failure here.
    if (!context.reader().easAlarm()) context.check(MORVENT_NO_TAG);
    reportOk(context, Document().add("alarm", Value::boolean(true)));
    return 0;
}

// ---- ISO 18000-6B ------------------------------------------------------

morvent::Uid parseUid(const Arguments& arguments) {
    Bytes bytes = parseHexExact(arguments.required("uid"), 8, "--uid");
    morvent::Uid uid{};
    std::copy(bytes.begin(), bytes.end(), uid.begin());
    return uid;
}

std::string uidHex(const morvent::Uid& uid) { return toHex(uid.data(), uid.size()); }

int run6BRead(Context& context, const Arguments& arguments) {
    morvent::Uid uid = parseUid(arguments);
    std::uint8_t start = parseByte(arguments.required("start"), "--start");
    std::uint8_t count = static_cast<std::uint8_t>(parseNumber(arguments.required("count"), "--count", 1, 244));
    Bytes data = context.reader().read6B(uid, start, count);
    reportOk(context, Document()
                          .add("uid", Value::text(uidHex(uid)))
                          .add("start", Value::number(start))
                          .add("data", Value::text(toHex(data))));
    return 0;
}

int run6BWrite(Context& context, const Arguments& arguments) {
    morvent::Uid uid = parseUid(arguments);
    std::uint8_t start = parseByte(arguments.required("start"), "--start");
    Bytes data = parseHex(arguments.required("data"), "--data");
    if (data.empty() || data.size() > 242) {
        throw UsageError("--data: needs 1 to 242 bytes, got " + std::to_string(data.size()));
    }
    std::uint8_t written = context.reader().write6BCounted(uid, start, data);
    reportOk(context, Document()
                          .add("uid", Value::text(uidHex(uid)))
                          .add("start", Value::number(start))
                          .add("bytes_written", Value::number(written)));
    return 0;
}

int run6BLock(Context& context, const Arguments& arguments) {
    morvent::Uid uid = parseUid(arguments);
    std::uint8_t address = parseByte(arguments.required("byte"), "--byte");
    if (arguments.flag("check")) {
        bool locked = context.reader().isLocked6B(uid, address);
        reportOk(context, Document()
                              .add("uid", Value::text(uidHex(uid)))
                              .add("byte", Value::number(address))
                              .add("lock_state", Value::number(locked ? 1 : 0)));
        return 0;
    }
    refuseUnlessConfirmed(context, "Lock byte " + std::to_string(address) + " of 6B tag " + uidHex(uid) + " for good?");
    context.reader().lock6B(uid, address);
    reportOk(context, Document()
                          .add("uid", Value::text(uidHex(uid)))
                          .add("byte", Value::number(address))
                          .add("locked", Value::boolean(true)));
    return 0;
}

const Options kPassword = {{"password", "HEX", "access password, 8 hex digits (default 00000000)"}};
const Options kMemory = {
    {"bank", "BANK", "memory bank: reserved, epc, tid, user (or 0..3)"},
    {"ptr", "WORD", "first word (default 0)"},
};

const char* const kTargetHelp =
    "The tag is chosen by --epc, or by --mask (mask addressing); with neither,\n"
    "the reader takes whichever tag answers.";
const char* const kChangeHelp =
    "The tag is chosen by --epc, or by --mask (mask addressing). With neither\n"
    "the command is refused, unless --any asks for whichever tag answers.";
const Options kAny = {{"any", nullptr, "act on whichever tag answers"}};

}  // namespace

const std::vector<CommandSpec>& tagCommands() {
    static const std::vector<CommandSpec> commands = {
        {"inventory", "", "list the Gen2 tags in the field (or 6B tags with --6b)",
         join({kMaskOptions,
               {{"tid", "ADDR,LEN", "also read LEN TID words from word ADDR of each tag"},
                {"6b", nullptr, "list the ISO 18000-6B tags instead"},
                {"watch", nullptr, "inventory again and again, keeping a table of tags seen, until Ctrl-C"},
                {"rounds", "N", "with --watch: stop after N inventories"},
                {"interval", "MS", "with --watch: pause between inventories (default 200)"}}}),
         "With --tid, the TID words asked for are shown beside each EPC.\n"
         "With --watch and a terminal, the table is redrawn after every round;\n"
         "with --json every sighting is one JSON line as it happens (a summary line\n"
         "ends the watch), with --csv one CSV row; otherwise the table is printed\n"
         "once when the watch ends. A link that fails is reopened and the watch\n"
         "goes on; failed rounds are counted.",
         runInventory, "watch"},
        {"read", "", "read words of a Gen2 tag's memory",
         join({kTargetOptions, kMemory, {{"count", "N", "number of words (1..120)"}}, kPassword}), kTargetHelp,
         runRead},
        {"write", "", "write words to a Gen2 tag's memory",
         join({kChangeTargetOptions,
               kMemory,
               {{"data", "HEX", "the words to write (4 hex digits each)"},
                {"block", nullptr, "write in one block operation"}},
               kPassword}),
         kChangeHelp, runWrite},
        {"erase", "", "erase words of a Gen2 tag's memory",
         join({kChangeTargetOptions, kMemory, {{"count", "N", "number of words"}}, kPassword}), kChangeHelp, runErase},
        {"write-epc", "[NEW_EPC]", "give a tag a new EPC (1 to 15 words, or a GS1 identity with --uri)",
         join({kChangeTargetOptions,
               kPassword,
               {{"uri", "URI", "the new EPC as a GS1 identity: urn:epc:id:... or urn:epc:tag:..."}},
               kEncodeOptions}),
         "The tag is chosen by --epc, or by --mask (mask addressing). With neither\n"
         "the command is refused, unless --any asks for whichever tag answers.\n"
         "The new EPC is NEW_EPC (hex) or --uri, encoded as --filter and --bits say.",
         runWriteEpc},
        {"lock", "", "lock or unlock an area of a Gen2 tag",
         join({kChangeTargetOptions,
               {{"area", "AREA", "kill-password, access-password, epc, tid, user (reader codes 0..4)"},
                {"mode", "MODE", "writable, permanently-writable, secured, permanently-locked (0..3)"}},
               kPassword}),
         "The tag is chosen by --epc, or by --mask (mask addressing). With neither\n"
         "the command is refused, unless --any asks for whichever tag answers.\n"
         "A permanent mode asks for confirmation on a terminal (--yes skips it).",
         runLock},
        {"kill", "", "kill a Gen2 tag for good",
         join({kChangeTargetOptions, {{"password", "HEX", "the tag's kill password, 8 hex digits"}}}),
         "The tag is chosen by --epc, or by --mask (mask addressing). With neither\n"
         "the command is refused, unless --any asks for whichever tag answers.\n"
         "Asks for confirmation on a terminal (--yes skips it).",
         runKill},
        {"privacy set", "", "put a tag into privacy mode", join({kChangeTargetOptions, kPassword}), kChangeHelp,
         runPrivacySet},
        {"privacy reset", "", "take the tag in the field out of privacy mode (needs --any)", join({kAny, kPassword}),
         "The reader acts on whichever tag answers; --any says that is meant.", runPrivacyReset},
        {"privacy check", "", "show whether the tag in the field is in privacy mode", {}, "", runPrivacyCheck},
        {"eas set", "", "set a tag's EAS bit",
         join({kChangeTargetOptions, {{"state", "on|off", "the EAS state"}}, kPassword}), kChangeHelp, runEasSet},
        {"eas alarm",
         "",
         "ask for an EAS alarm: succeeds when a tag with EAS set is in the field",
         {},
         "",
         runEasAlarm},
        {"6b read",
         "",
         "read bytes of an ISO 18000-6B tag",
         {{"uid", "HEX", "the tag's 8-byte uid"}, {"start", "ADDR", "first byte"}, {"count", "N", "number of bytes"}},
         "",
         run6BRead},
        {"6b write",
         "",
         "write bytes to an ISO 18000-6B tag",
         {{"uid", "HEX", "the tag's 8-byte uid"}, {"start", "ADDR", "first byte"}, {"data", "HEX", "1 to 242 bytes"}},
         "",
         run6BWrite},
        {"6b lock",
         "",
         "lock a byte of an ISO 18000-6B tag, or with --check show its lock",
         {{"uid", "HEX", "the tag's 8-byte uid"},
          {"byte", "ADDR", "the byte's address"},
          {"check", nullptr, "only show whether the byte is locked"}},
         "",
         run6BLock},
    };
    return commands;
}

}  // namespace morvent_cli
