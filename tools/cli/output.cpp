#include "output.h"

#include <algorithm>
#include <cstdio>

#include "status.h"

namespace morvent_cli {
namespace {

std::string heading(const std::string& key) {
    std::string text = key;
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

std::string pad(const std::string& text, std::size_t width, bool right) {
    std::string space(width > text.size() ? width - text.size() : 0, ' ');
    return right ? space + text : text + space;
}

std::string status_json(int code) {
    StatusInfo info = describe_status(code);
    return "{\"code\": " + std::to_string(code) + ", \"name\": " + json_quote(info.name) +
           ", \"meaning\": " + json_quote(info.meaning) + "}";
}

std::string row_json(const Table& table, const std::vector<Value>& row) {
    std::string text = "{";
    for (std::size_t c = 0; c < table.columns.size() && c < row.size(); ++c) {
        if (c > 0) text += ", ";
        text += json_quote(table.columns[c]) + ": " + row[c].as_json();
    }
    return text + "}";
}

}  // namespace

std::string Value::as_text() const {
    switch (kind_) {
        case Kind::Text: return text_;
        case Kind::Number: return std::to_string(number_);
        case Kind::Boolean: return number_ ? "yes" : "no";
        case Kind::Null: return "-";
    }
    return {};
}

std::string Value::as_json() const {
    switch (kind_) {
        case Kind::Text: return json_quote(text_);
        case Kind::Number: return std::to_string(number_);
        case Kind::Boolean: return number_ ? "true" : "false";
        case Kind::Null: return "null";
    }
    return {};
}

std::string json_quote(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': quoted += "\\\""; break;
            case '\\': quoted += "\\\\"; break;
            case '\n': quoted += "\\n"; break;
            case '\r': quoted += "\\r"; break;
            case '\t': quoted += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    quoted += escaped;
                } else {
                    quoted += static_cast<char>(c);
                }
        }
    }
    return quoted + "\"";
}

std::string render_table(const Table& table) {
    std::vector<std::size_t> widths;
    for (const std::string& column : table.columns) widths.push_back(column.size());
    for (const auto& row : table.rows) {
        for (std::size_t c = 0; c < widths.size() && c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].as_text().size());
        }
    }
    auto line = [&](auto cell_text, auto right_aligned) {
        std::string text;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            bool last = c + 1 == widths.size();
            std::string cell = pad(cell_text(c), last && !right_aligned(c) ? 0 : widths[c], right_aligned(c));
            text += cell + (last ? "\n" : "  ");
        }
        return text;
    };
    std::string text = line([&](std::size_t c) { return heading(table.columns[c]); },
                            [&](std::size_t c) { return !table.rows.empty() && table.rows[0][c].is_number(); });
    for (const auto& row : table.rows) {
        text += line([&](std::size_t c) { return c < row.size() ? row[c].as_text() : std::string(); },
                     [&](std::size_t c) { return c < row.size() && row[c].is_number(); });
    }
    return text;
}

std::string render_text(const Document& document) {
    std::size_t width = document.status ? 6 : 0;
    for (const Field& field : document.fields) width = std::max(width, field.key.size());
    std::string text;
    if (document.status) text += pad("status", width, false) + "  " + status_line(*document.status) + "\n";
    for (const Field& field : document.fields) {
        text += pad(heading(field.key), width, false) + "  " + field.value.as_text() + "\n";
    }
    if (document.table) {
        if (!text.empty()) text += "\n";
        text += render_table(*document.table);
    }
    return text;
}

std::string render_json(const Document& document) {
    std::vector<std::string> members;
    if (document.status) members.push_back("\"status\": " + status_json(*document.status));
    for (const Field& field : document.fields) members.push_back(json_quote(field.key) + ": " + field.value.as_json());
    if (document.table) {
        std::string rows = "[";
        for (std::size_t r = 0; r < document.table->rows.size(); ++r) {
            rows += (r > 0 ? ",\n    " : "\n    ") + row_json(*document.table, document.table->rows[r]);
        }
        rows += document.table->rows.empty() ? "]" : "\n  ]";
        members.push_back(json_quote(document.table_key.empty() ? "rows" : document.table_key) + ": " + rows);
    }
    std::string text = "{";
    for (std::size_t m = 0; m < members.size(); ++m) text += (m > 0 ? ",\n  " : "\n  ") + members[m];
    return text + (members.empty() ? "}\n" : "\n}\n");
}

}  // namespace morvent_cli
