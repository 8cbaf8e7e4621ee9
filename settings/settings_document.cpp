#include "settings/settings_document.h"

#include "settings/atomic_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>
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

// TinyXML decodes entities in a declaration's values but prints them back as they
// are: a version read from "1&quot;" would be saved as a file that no longer
// parses, and the next load would start it again empty. Encoded, they read back.
void encodeDeclarations(TiXmlNode* parent) {
    for (TiXmlNode* child = parent->FirstChild(); child;) {
        TiXmlNode* next = child->NextSibling();
        if (const TiXmlDeclaration* declaration = child->ToDeclaration()) {
            TIXML_STRING version, encoding, standalone;
            TiXmlBase::EncodeString(declaration->Version(), &version);
            TiXmlBase::EncodeString(declaration->Encoding(), &encoding);
            TiXmlBase::EncodeString(declaration->Standalone(), &standalone);
            parent->ReplaceChild(
                child, TiXmlDeclaration(version.c_str(), encoding.c_str(), standalone.c_str()));
        } else {
            encodeDeclarations(child);
        }
        child = next;
    }
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

    TiXmlNode* first = document_->FirstChild();
    TiXmlNode* second = first ? first->NextSibling() : nullptr;
    if (first && first->ToDeclaration() && second && second->ToElement()) {
        root_ = second->ToElement();
        return true;
    }
    document_.reset();
    return false;
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
    // A copy is printed, so the document in memory keeps the values as read.
    TiXmlDocument printed(*document_);
    encodeDeclarations(&printed);
    return replaceFile(path_, [&printed](std::FILE* stream) { return printed.SaveFile(stream); });
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
