#include "settings/settings_document.h"

#include "os/diagnostics.h"
#include "settings/atomic_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <tinyxml.h>

namespace settings {
namespace {

constexpr const char* kKeyAttribute = "key";
// More than the longest UTF-8 sequence: every step the parser takes past the text
// lands on a NUL.
constexpr std::size_t kParserSlack = 8;

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

// What a file that is there but cannot be used as settings gives: its text, or why
// it is refused.
struct FileText {
    enum class Status { Read, Unreadable, Refused } status = Status::Unreadable;
    std::string text;    // Read: ready for Parse, NULs after it
    std::string problem; // Refused: why
};

// How many elements the text can hold at most: every element starts at a '<' that
// is not followed by '/', '!' or '?'.
std::size_t possibleElements(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i + 1)) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        count += next != '/' && next != '!' && next != '?';
    }
    return count;
}

// TinyXML's own LoadFile, but with room after the text: at a UTF-8 lead byte the
// parser steps over as many bytes as the lead announces, so a file ending in one
// made it read past the end of its buffer. As LoadFile does, the text ends at the
// first NUL and its line ends become LF. Files beyond the bounds are refused before
// the parser sees them.
FileText readText(std::FILE* file) {
    FileText result;
    std::string text;
    char chunk[4096];
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return result;
    for (std::size_t n;
         text.size() <= kMaxFileBytes && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, n);
    if (std::ferror(file))
        return result;
    if (text.size() > kMaxFileBytes) {
        result.status = FileText::Status::Refused;
        result.problem = "it is larger than " + std::to_string(kMaxFileBytes) + " bytes";
        return result;
    }
    text.resize(std::min(text.size(), text.find('\0')));
    if (possibleElements(text) > kMaxElements) {
        result.status = FileText::Status::Refused;
        result.problem = "it has more than " + std::to_string(kMaxElements) + " elements";
        return result;
    }
    std::string& normalised = result.text;
    normalised.reserve(text.size() + kParserSlack);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normalised.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            normalised.push_back(text[i]);
        }
    }
    normalised.append(kParserSlack, '\0');
    result.status = FileText::Status::Read;
    return result;
}

bool parse(TiXmlDocument& document, const std::string& text) {
    document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    return !document.Error();
}

// The reading half of print's check: bytes printed into the scratch file.
bool loadFrom(TiXmlDocument& document, std::FILE* file) {
    const FileText text = readText(file);
    return text.status == FileText::Status::Read && parse(document, text.text);
}

std::string parseProblem(const TiXmlDocument& document) {
    std::string problem = "it is not well formed (";
    problem += document.ErrorDesc() ? document.ErrorDesc() : "error";
    if (document.ErrorRow() > 0)
        problem += ", line " + std::to_string(document.ErrorRow()) + ", column " +
                   std::to_string(document.ErrorCol());
    return problem + ")";
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

// The bytes TinyXML saves for a document.
std::optional<std::string> printedBytes(const TiXmlDocument& document, std::FILE* scratch) {
    if (!document.SaveFile(scratch) || std::fflush(scratch) != 0 ||
        std::fseek(scratch, 0, SEEK_END) != 0)
        return std::nullopt;
    const long size = std::ftell(scratch);
    if (size < 0 || std::fseek(scratch, 0, SEEK_SET) != 0)
        return std::nullopt;
    std::string bytes(std::size_t(size), '\0');
    if (std::fread(bytes.data(), 1, bytes.size(), scratch) != bytes.size())
        return std::nullopt;
    return bytes;
}

// Whether two elements hold the same values: the same names, keys and texts, in
// the same places. Everything else in a file (declarations, comments, nodes the
// parser kept as unknown) only has to leave these alone.
bool sameValues(const TiXmlElement& a, const TiXmlElement& b) {
    const char* keyA = a.Attribute(kKeyAttribute);
    const char* keyB = b.Attribute(kKeyAttribute);
    if (std::string_view(a.Value()) != b.Value() || (keyA == nullptr) != (keyB == nullptr) ||
        (keyA && std::string_view(keyA) != keyB))
        return false;
    const TiXmlText* textA = a.FirstChild() ? a.FirstChild()->ToText() : nullptr;
    const TiXmlText* textB = b.FirstChild() ? b.FirstChild()->ToText() : nullptr;
    if ((textA == nullptr) != (textB == nullptr) ||
        (textA && std::string_view(textA->Value()) != textB->Value()))
        return false;
    const TiXmlElement* childA = a.FirstChildElement();
    const TiXmlElement* childB = b.FirstChildElement();
    for (; childA && childB;
         childA = childA->NextSiblingElement(), childB = childB->NextSiblingElement())
        if (!sameValues(*childA, *childB))
            return false;
    return childA == nullptr && childB == nullptr;
}

struct Printed {
    std::string bytes;
    // A load of the bytes finds a root holding the same values: the next load reads
    // what was saved.
    bool readsBack = false;
};

// None when there is no scratch file to print into.
std::optional<Printed> print(TiXmlDocument& document) {
    std::FILE* scratch = std::tmpfile();
    if (!scratch)
        return std::nullopt;
    Printed printed;
    TiXmlDocument reread;
    if (auto bytes = printedBytes(document, scratch)) {
        printed.bytes = std::move(*bytes);
        const TiXmlElement* root = rootOf(document);
        const TiXmlElement* again = loadFrom(reread, scratch) ? rootOf(reread) : nullptr;
        printed.readsBack = root && again && sameValues(*root, *again);
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
    if (create)
        removeStaleTemporaries(path);

    std::error_code ec;
    // A link to nothing counts as no file: a save creates the file it names.
    const bool missing = !std::filesystem::exists(path, ec) && !ec;
    std::string problem; // why a file that is there is no settings file
    if (!missing) {
        FileText text;
        if (std::FILE* file = openForReading(path)) {
            text = readText(file);
            std::fclose(file);
        }
        if (text.status == FileText::Status::Unreadable) {
            // Perhaps only for now (another program holds it): nothing to replace.
            document_.reset();
            return false;
        }
        if (text.status == FileText::Status::Refused)
            problem = text.problem;
        else if (!parse(*document_, text.text))
            problem = parseProblem(*document_);
    }

    if (missing || !problem.empty()) {
        if (!create) {
            document_.reset();
            return false;
        }
        if (!problem.empty()) {
            // What the file held is kept where a person can find it; only then does a
            // new one take its place.
            const std::optional<std::filesystem::path> aside = keepAside(path);
            const std::string what = path.string() + ": " + problem;
            if (!aside) {
                os::logEvent(kMessageSource, what + "; it could not be moved aside and is "
                                                    "left as it is, the settings are not kept");
                document_.reset();
                return false;
            }
            os::logEvent(kMessageSource, what + "; it is kept as " + aside->filename().string() +
                                             " and the settings start afresh");
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
    // TinyXML reads some malformed files into documents it cannot print back as they
    // are: a declaration's values come back decoded or cut where malformed UTF-8 was
    // skipped, a node that is neither element nor text may swallow what follows it.
    // Saved as printed, the next load would find no root or other values, and the
    // stored ones would be lost. A document whose declarations are the trouble is
    // saved with plain ones; one that would not read back even so is not saved at
    // all, and the file keeps what it held.
    std::optional<Printed> printed = print(*document_);
    if (!printed) // nowhere to try the print first: saved as TinyXML prints it
        return replaceFile(path_,
                           [this](std::FILE* stream) { return document_->SaveFile(stream); });
    if (!printed->readsBack) {
        TiXmlDocument plain(*document_);
        useDefaultDeclarations(&plain);
        printed = print(plain);
        if (!printed || !printed->readsBack)
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
