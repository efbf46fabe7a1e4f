// Results as readable text, JSON or CSV. A command fills one Document: named
// fields, optionally a status and one table; rendering is decided once, here.
// JSON keys are snake_case, numbers stay numbers, hex strings carry only
// byte data, and reader codes (banks, lock areas, regions) are objects with
// their number and name.
#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace morvent_cli {

using Json = nlohmann::ordered_json;

class Value {
public:
    static Value text(std::string s) { return Value(Json(s), s, false); }
    static Value number(long long n) { return Value(Json(n), std::to_string(n), true); }
    static Value boolean(bool b) { return Value(Json(b), b ? "yes" : "no", false); }
    static Value null() { return Value(Json(nullptr), "-", false); }
    // Nothing to show: an empty cell in text and CSV, no key at all in a
    // JSON row (a part a tag may lack, such as the GS1 identity of its EPC).
    static Value absent() { return Value(Json(Json::value_t::discarded), "", false); }
    // A reader code with its name: {"code": 3, "name": "user"}, shown "user (3)".
    static Value coded(long long code, const std::string& name);
    // Several byte values: a JSON array of numbers, shown "3,0".
    static Value numbers(const std::uint8_t* bytes, std::size_t count);
    // Any JSON value with the text shown for it.
    static Value custom(Json json, std::string text) { return Value(std::move(json), std::move(text), false); }
    // A point in time: RFC 3339 with milliseconds and the local zone.
    static Value time(std::chrono::system_clock::time_point when);

    const std::string& asText() const { return text_; }  // as shown in tables and field lists
    const Json& asJson() const { return json_; }
    bool isNumber() const { return numeric_; }
    bool isAbsent() const { return json_.is_discarded(); }

private:
    Value(Json json, std::string text, bool numeric)
        : json_(std::move(json)), text_(std::move(text)), numeric_(numeric) {}
    Json json_;
    std::string text_;
    bool numeric_;
};

struct Field {
    std::string key;  // snake_case; shown with spaces in text
    Value value;
};

struct Table {
    std::vector<std::string> columns;  // snake_case keys
    std::vector<std::vector<Value>> rows;
};

struct Document {
    std::optional<int> status;
    std::vector<Field> fields;
    std::string table_key;  // JSON key of the table, e.g. "tags"
    std::optional<Table> table;

    Document& add(std::string key, Value value) {
        fields.push_back({std::move(key), std::move(value)});
        return *this;
    }
};

// {"code": 48, "name": "MORVENT_COMM_ERROR", "meaning": "..."}
Json statusJson(int code);

std::string renderTable(const Table& table);
std::string renderText(const Document& document);
Json toJson(const Document& document);
std::string renderJson(const Document& document);  // indented, one trailing newline

// One table row as a JSON object (for streams of JSON lines); absent cells
// are left out.
Json rowJson(const std::vector<std::string>& columns, const std::vector<Value>& row);
// CSV (RFC 4180): a header line of the columns, then one line per row.
std::string csvLine(const std::vector<std::string>& cells);
std::string csvRow(const std::vector<Value>& row);

// "2024-05-01T14:03:07.250+02:00"
std::string rfc3339(std::chrono::system_clock::time_point when);

}  // namespace morvent_cli
