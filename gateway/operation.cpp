#include "gateway/operation.h"

#include <sstream>
#include <stdexcept>
#include <vector>

#include "morvent.hpp"

namespace morventd {

namespace {

struct BadRequest : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

std::uint8_t byteArg(const std::string& text, unsigned max) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || value > max)
        throw BadRequest("'" + text + "' is not a number 0.." + std::to_string(max));
    return static_cast<std::uint8_t>(value);
}

morvent::Bank bankArg(const std::string& text) {
    if (text == "reserved") return morvent::Bank::Reserved;
    if (text == "epc") return morvent::Bank::Epc;
    if (text == "tid") return morvent::Bank::Tid;
    if (text == "user") return morvent::Bank::User;
    throw BadRequest("unknown bank '" + text + "'");
}

morvent::Password passwordArg(const std::string& text) {
    if (text == "-") return {};
    const morvent::Bytes b = morvent::fromHex(text);
    if (b.size() != 4) throw BadRequest("a password is 8 hex digits");
    return morvent::Password({b[0], b[1], b[2], b[3]});
}

// A tag is always named: an untargeted change must be asked for as "any",
// so that nothing reaches a tag by a request that merely left it out.
morvent::TagRef tagArg(const std::string& text) {
    if (text == "any") return morvent::TagRef::any();
    const morvent::Bytes epc = morvent::fromHex(text);
    if (epc.empty()) throw BadRequest("no tag named: give its EPC or \"any\"");
    return morvent::TagRef::epc(epc);
}

Answer run(morvent::Reader& reader, const std::vector<std::string>& a) {
    const std::string& op = a.at(0);
    auto need = [&](std::size_t n) {
        if (a.size() != n + 1) throw BadRequest(op + " takes " + std::to_string(n) + " arguments");
    };
    if (op == "read") {
        need(5);
        const morvent::Bytes data =
            reader.read(tagArg(a[1]), bankArg(a[2]), byteArg(a[3], 255), byteArg(a[4], 120), passwordArg(a[5]));
        return Answer::done({morvent::hex(data)});
    }
    if (op == "write") {
        need(5);
        const morvent::Bytes data = morvent::fromHex(a[4]);
        if (data.empty() || data.size() % 2) throw BadRequest("data must be whole words (4 hex digits each)");
        reader.write(tagArg(a[1]), bankArg(a[2]), byteArg(a[3], 255), data, passwordArg(a[5]));
        return Answer::done({});
    }
    if (op == "write-epc") {
        need(3);
        reader.writeEpc(tagArg(a[1]), morvent::fromHex(a[2]), passwordArg(a[3]));
        return Answer::done({});
    }
    if (op == "get") {
        need(0);
        const morvent::ReaderInfo info = reader.info();
        return Answer::done({std::to_string(info.power()), std::to_string(info.scanTime()),
                             std::to_string(info.region()[0]), std::to_string(info.region()[1])});
    }
    if (op == "set") {
        need(4);
        if (a[1] != "-") reader.setPower(byteArg(a[1], 255));
        if (a[2] != "-") reader.setScanTime(byteArg(a[2], 255));
        if (a[3] != "-" || a[4] != "-") reader.setRegion(byteArg(a[3], 255), byteArg(a[4], 255));
        return Answer::done({});
    }
    throw BadRequest("unknown operation '" + op + "'");
}

}  // namespace

Answer runOperation(morvent::Reader& reader, const std::string& operation) {
    std::istringstream in(operation);
    std::vector<std::string> args;
    for (std::string word; in >> word;) args.push_back(word);
    try {
        if (args.empty()) throw BadRequest("empty request");
        return run(reader, args);
    } catch (const morvent::Error& e) {
        return Answer::failed(e.status(), e.tagError(), e.what());
    } catch (const std::exception& e) {
        // Refused before the reader was asked (bad hex, out of range).
        return Answer::refused(Outcome::Invalid, e.what());
    }
}

}  // namespace morventd
