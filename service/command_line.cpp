#include "service/command_line.h"

#include "os/diagnostics.h"

#include <array>
#include <utility>

namespace service {

namespace {

constexpr bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

constexpr char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `text` starts with `word` (any case) and the word ends there.
bool startsWithWord(std::string_view text, std::string_view word) {
    if (text.size() < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(text[i]) != lower(word[i]))
            return false;
    return text.size() == word.size() || isSpace(text[word.size()]);
}

template <std::size_t N>
Switch firstOf(std::string_view line,
               const std::array<std::pair<std::string_view, Switch>, N>& words) {
    for (std::size_t at = line.find_first_of("-/"); at != std::string_view::npos;
         at = line.find_first_of("-/", at + 1)) {
        const std::string_view rest = line.substr(at + 1);
        for (const auto& [word, which] : words)
            if (startsWithWord(rest, word))
                return which;
    }
    return Switch::None;
}

} // namespace

Switch findSwitch(std::string_view commandLine) {
    // Longer words first would not matter: each must end at white space.
    static constexpr std::array<std::pair<std::string_view, Switch>, 4> registration{{
        {"UnregServer", Switch::UnregServer},
        {"RegServer", Switch::RegServer},
        {"UnregServerPerUser", Switch::UnregServerPerUser},
        {"RegServerPerUser", Switch::RegServerPerUser},
    }};
    static constexpr std::array<std::pair<std::string_view, Switch>, 1> service{{
        {"Service", Switch::Service},
    }};
    const Switch found = firstOf(commandLine, registration);
    return found != Switch::None ? found : firstOf(commandLine, service);
}

void routeMessagesFor(Switch chosen, std::string source) {
    os::routeMessagesToEventLog(chosen == Switch::None ? std::move(source) : std::string());
}

} // namespace service
