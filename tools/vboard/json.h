#pragma once

// Just enough JSON output for `vboard show --json` and `vboard trace --json`.

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vboard {

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    JsonWriter& beginObject(std::string_view key = {}) { return open(key, '{'); }
    JsonWriter& endObject() { return close('}'); }
    JsonWriter& beginArray(std::string_view key = {}) { return open(key, '['); }
    JsonWriter& endArray() { return close(']'); }

    JsonWriter& value(std::string_view key, std::string_view text) {
        prefix(key);
        string(text);
        return *this;
    }
    JsonWriter& value(std::string_view key, const char* text) {
        return value(key, std::string_view(text));
    }
    template <typename Number>
    requires(std::is_unsigned_v<Number> &&
             !std::is_same_v<Number, bool>) JsonWriter& value(std::string_view key, Number number) {
        prefix(key);
        out_ << std::uint64_t(number);
        return *this;
    }
    JsonWriter& value(std::string_view key, bool flag) {
        prefix(key);
        out_ << (flag ? "true" : "false");
        return *this;
    }
    void finish() { out_ << '\n'; }

private:
    JsonWriter& open(std::string_view key, char bracket) {
        prefix(key);
        out_ << bracket;
        first_.push_back(true);
        return *this;
    }
    JsonWriter& close(char bracket) {
        bool empty = first_.back();
        first_.pop_back();
        if (!empty)
            newline();
        out_ << bracket;
        return *this;
    }
    void prefix(std::string_view key) {
        if (!first_.empty()) {
            if (!first_.back())
                out_ << ',';
            first_.back() = false;
            newline();
        }
        if (!key.empty()) {
            string(key);
            out_ << ": ";
        }
    }
    void newline() { out_ << '\n' << std::string(first_.size() * 2, ' '); }
    void string(std::string_view text) {
        out_ << '"';
        for (char c : text) {
            switch (c) {
            case '"':
                out_ << "\\\"";
                break;
            case '\\':
                out_ << "\\\\";
                break;
            case '\n':
                out_ << "\\n";
                break;
            case '\t':
                out_ << "\\t";
                break;
            case '\r':
                out_ << "\\r";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
                    out_ << escaped;
                } else {
                    out_ << c;
                }
            }
        }
        out_ << '"';
    }

    std::ostream& out_;
    std::vector<bool> first_;
};

} // namespace vboard
