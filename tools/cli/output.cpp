#include "output.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

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

}  // namespace

Value Value::coded(long long code, const std::string& name) {
    return Value(Json{{"code", code}, {"name", name}}, name + " (" + std::to_string(code) + ")", false);
}

Value Value::numbers(const std::uint8_t* bytes, std::size_t count) {
    Json list = Json::array();
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        list.push_back(bytes[i]);
        text += (i ? "," : "") + std::to_string(bytes[i]);
    }
    return Value(list, text, false);
}

Value Value::time(std::chrono::system_clock::time_point when) {
    std::string text = rfc3339(when);
    return Value(Json(text), text, false);
}

Json statusJson(int code) {
    StatusInfo info = describeStatus(code);
    return Json{{"code", code}, {"name", info.name}, {"meaning", info.meaning}};
}

std::string renderTable(const Table& table) {
    std::vector<std::size_t> widths;
    for (const std::string& column : table.columns) widths.push_back(column.size());
    for (const auto& row : table.rows) {
        for (std::size_t c = 0; c < widths.size() && c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].asText().size());
        }
    }
    auto line = [&](auto cell_text, auto right_aligned) {
        std::string text;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            bool last = c + 1 == widths.size();
            std::string cell = pad(cell_text(c), last && !right_aligned(c) ? 0 : widths[c], right_aligned(c));
            text += cell + (last ? "" : "  ");
        }
        // An empty last cell (a tag without a GS1 identity) leaves no trailing blanks.
        return text.erase(text.find_last_not_of(' ') + 1) + "\n";
    };
    std::string text = line([&](std::size_t c) { return heading(table.columns[c]); },
                            [&](std::size_t c) { return !table.rows.empty() && table.rows[0][c].isNumber(); });
    for (const auto& row : table.rows) {
        text += line([&](std::size_t c) { return c < row.size() ? row[c].asText() : std::string(); },
                     [&](std::size_t c) { return c < row.size() && row[c].isNumber(); });
    }
    return text;
}

std::string renderText(const Document& document) {
    std::size_t width = document.status ? 6 : 0;
    for (const Field& field : document.fields) width = std::max(width, field.key.size());
    std::string text;
    if (document.status) text += pad("status", width, false) + "  " + statusLine(*document.status) + "\n";
    for (const Field& field : document.fields) {
        text += pad(heading(field.key), width, false) + "  " + field.value.asText() + "\n";
    }
    if (document.table) {
        if (!text.empty()) text += "\n";
        text += renderTable(*document.table);
    }
    return text;
}

Json rowJson(const std::vector<std::string>& columns, const std::vector<Value>& row) {
    Json object = Json::object();
    for (std::size_t c = 0; c < columns.size() && c < row.size(); ++c) {
        if (!row[c].isAbsent()) object[columns[c]] = row[c].asJson();
    }
    return object;
}

Json toJson(const Document& document) {
    Json object = Json::object();
    if (document.status) object["status"] = statusJson(*document.status);
    for (const Field& field : document.fields) object[field.key] = field.value.asJson();
    if (document.table) {
        Json rows = Json::array();
        for (const auto& row : document.table->rows) rows.push_back(rowJson(document.table->columns, row));
        object[document.table_key.empty() ? "rows" : document.table_key] = rows;
    }
    return object;
}

std::string renderJson(const Document& document) {
    return toJson(document).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string csvLine(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::string& cell = cells[i];
        if (i) line += ',';
        if (cell.find_first_of(",\"\r\n") == std::string::npos) {
            line += cell;
            continue;
        }
        line += '"';
        for (char c : cell) line += c == '"' ? std::string("\"\"") : std::string(1, c);
        line += '"';
    }
    return line + "\n";
}

std::string csvRow(const std::vector<Value>& row) {
    std::vector<std::string> cells;
    for (const Value& value : row) {
        // Codes keep their number in CSV; names are for people reading text.
        const Json& json = value.asJson();
        cells.push_back(json.is_object() && json.contains("code") ? json["code"].dump() : value.asText());
    }
    return csvLine(cells);
}

std::string rfc3339(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    std::time_t seconds = system_clock::to_time_t(when);
    long long millis = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
    if (millis < 0) millis += 1000;
    std::tm local{}, utc{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
    gmtime_s(&utc, &seconds);
#else
    localtime_r(&seconds, &local);
    gmtime_r(&seconds, &utc);
#endif
    // The zone's offset: the UTC fields read back as local time differ from
    // the real instant by exactly that much.
    utc.tm_isdst = local.tm_isdst;
    long offset = static_cast<long>(std::difftime(seconds, std::mktime(&utc)));
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lld", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
    std::string result = text;
    if (offset == 0) return result + "Z";
    char zone[24];  // room for any long, though a zone is at most 14 hours away
    long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return result + zone;
}

}  // namespace morvent_cli
