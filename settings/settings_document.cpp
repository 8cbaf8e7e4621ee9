#include "settings/settings_document.h"

#include "settings/atomic_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <tinyxml.h>

namespace settings {
namespace {

constexpr const char* kKeyAttribute = "key";

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

bool keyMatches(const TiXmlElement& element, std::string_view key) {
    const char* attribute = element.Attribute(kKeyAttribute);
    if (key.empty())
        return attribute == nullptr;
    return attribute != nullptr && equalIgnoringAsciiCase(attribute, key);
}

// The element holding a value, with a text node ready to read or write even when
// the element was empty.
TiXmlElement* locateValue(TiXmlElement* parent, std::string_view name, std::string_view key,
                          bool create) {
    TiXmlElement* element = SettingsDocument::findOrCreateChild(parent, name, key, create);
    if (element && element->FirstChild() == nullptr)
        element->LinkEndChild(new TiXmlText(""));
    return element;
}

// The element a settings document keeps its values under: the one right after the
// declaration that starts the document.
TiXmlElement* rootOf(TiXmlDocument& document) {
    TiXmlNode* first = document.FirstChild();
    TiXmlNode* second = first ? first->NextSibling() : nullptr;
    return first && first->ToDeclaration() && second ? second->ToElement() : nullptr;
}

void useDefaultDeclarations(TiXmlNode* parent) {
    for (TiXmlNode* child = parent->FirstChild(); child;) {
        TiXmlNode* next = child->NextSibling();
        if (child->ToDeclaration())
            parent->ReplaceChild(child, TiXmlDeclaration("1.0", "UTF-8", "no"));
        else
            useDefaultDeclarations(child);
        child = next;
    }
}

// The bytes TinyXML saves for a document, and whether a load of them finds a root.
struct Printed {
    std::string bytes;
    bool readable = false;
};

// None when there is no scratch file to print into.
std::optional<Printed> print(const TiXmlDocument& document) {
    std::FILE* scratch = std::tmpfile();
    if (!scratch)
        return std::nullopt;
    Printed printed;
    TiXmlDocument check;
    if (document.SaveFile(scratch) && std::fflush(scratch) == 0 &&
        check.LoadFile(scratch, TIXML_DEFAULT_ENCODING) && rootOf(check) &&
        std::fseek(scratch, 0, SEEK_END) == 0) {
        const long size = std::ftell(scratch);
        printed.bytes.resize(std::size_t(size > 0 ? size : 0));
        printed.readable = size >= 0 && std::fseek(scratch, 0, SEEK_SET) == 0 &&
                           std::fread(printed.bytes.data(), 1, printed.bytes.size(), scratch) ==
                               printed.bytes.size();
    }
    std::fclose(scratch);
    return printed;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

SettingsDocument::SettingsDocument() = default;
SettingsDocument::~SettingsDocument() = default;

bool SettingsDocument::load(const std::filesystem::path& path, bool create) {
    path_ = path;
    root_ = nullptr;
    document_ = std::make_unique<TiXmlDocument>();

    bool loaded = false;
    if (std::FILE* file = openForReading(path)) {
        loaded = document_->LoadFile(file, TIXML_DEFAULT_ENCODING);
        std::fclose(file);
    }
    if (!loaded) {
        if (!create) {
            document_.reset();
            return false;
        }
        // Whatever the parser took in before it gave up is dropped: the new file
        // holds nothing but the declaration and an empty root.
        document_ = std::make_unique<TiXmlDocument>();
        document_->LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", "no"));
        document_->LinkEndChild(new TiXmlElement("root"));
        if (!save()) {
            document_.reset();
            return false;
        }
    }

    root_ = rootOf(*document_);
    if (!root_)
        document_.reset();
    return root_ != nullptr;
}

TiXmlElement* SettingsDocument::findOrCreateChild(TiXmlElement* parent, std::string_view name,
                                                  std::string_view key, bool create) {
    if (!parent)
        return nullptr;
    const std::string elementName(name);
    // Comments or text that happen to read like the name are passed over: stopping
    // at them would hide the value behind them and add a new element on every write.
    for (TiXmlElement* child = parent->FirstChildElement(elementName); child;
         child = child->NextSiblingElement(elementName)) {
        if (keyMatches(*child, key))
            return child;
    }
    if (!create)
        return nullptr;
    auto* child = new TiXmlElement(elementName);
    if (!key.empty())
        child->SetAttribute(kKeyAttribute, std::string(key));
    parent->LinkEndChild(child);
    return child;
}

bool SettingsDocument::readInt(TiXmlElement* parent, std::string_view name, std::string_view key,
                               std::int32_t& out) {
    TiXmlElement* element = locateValue(parent, name, key, false);
    TiXmlText* text = element ? element->FirstChild()->ToText() : nullptr;
    if (!text)
        return false;
    out = parseLeadingInt(text->Value());
    return true;
}

bool SettingsDocument::writeInt(TiXmlElement* parent, std::string_view name, std::string_view key,
                                std::int32_t value) {
    TiXmlElement* element = locateValue(parent, name, key, true);
    TiXmlText* text = element ? element->FirstChild()->ToText() : nullptr;
    if (!text)
        return false;
    text->SetValue(std::to_string(value));
    return true;
}

bool SettingsDocument::save() {
    if (!document_)
        return false;
    // TinyXML reads a declaration's values (entities decoded, malformed UTF-8 skipped
    // over) into what it cannot always print back as a declaration: saved as they
    // are, the next load would find no root and the stored values would be lost.
    // Such a document is saved with plain declarations, and one that would not read
    // back even so is not saved at all.
    std::optional<Printed> printed = print(*document_);
    if (!printed) // nowhere to try the print first: saved as TinyXML prints it
        return replaceFile(path_,
                           [this](std::FILE* stream) { return document_->SaveFile(stream); });
    if (!printed->readable) {
        TiXmlDocument plain(*document_);
        useDefaultDeclarations(&plain);
        printed = print(plain);
        if (!printed || !printed->readable)
            return false;
    }
    return replaceFile(path_, [&printed](std::FILE* stream) {
        return std::fwrite(printed->bytes.data(), 1, printed->bytes.size(), stream) ==
               printed->bytes.size();
    });
}

std::int32_t parseLeadingInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Capped just beyond the 32-bit range so long digit runs cannot overflow.
    constexpr std::int64_t cap = std::int64_t(1) << 32;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), cap);
    const std::int64_t value = negative ? -magnitude : magnitude;
    return std::int32_t(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

} // namespace settings
