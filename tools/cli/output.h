// Results as readable text or as JSON. A command fills one Document: named
// fields, optionally a status and one table; rendering is decided once, here.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvent_cli {

class Value {
public:
    static Value text(std::string s) { return Value(Kind::Text, std::move(s), 0); }
    static Value number(long long n) { return Value(Kind::Number, {}, n); }
    static Value boolean(bool b) { return Value(Kind::Boolean, {}, b ? 1 : 0); }
    static Value null() { return Value(Kind::Null, {}, 0); }

    std::string as_text() const;  // as shown in tables and field lists
    std::string as_json() const;
    bool is_number() const { return kind_ == Kind::Number; }

private:
    enum class Kind { Text, Number, Boolean, Null };
    Value(Kind kind, std::string text, long long number) : kind_(kind), text_(std::move(text)), number_(number) {}
    Kind kind_;
    std::string text_;
    long long number_;
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

std::string json_quote(const std::string& text);
std::string render_table(const Table& table);
std::string render_text(const Document& document);
std::string render_json(const Document& document);

}  // namespace morvent_cli
