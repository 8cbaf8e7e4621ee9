#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

class TiXmlDocument;
class TiXmlElement;

// An XML settings file: a declaration, then one root element whose children hold
// named integer values. A value is addressed by its element name and an optional
// "key" attribute; both programs' settings files are built from these operations.

namespace settings {

// The bounds a file must keep for the parser to see it at all. TinyXML's parser
// recurses once per nested element, so a deep enough file overflows the stack, and a
// few thousand levels already take seconds. Only a '<' that is not followed by '/',
// '!' or '?' can start an element, so counting those bounds the depth from above,
// whatever the parser makes of quotes, entities and multi-byte sequences in between.
// The programs' own files hold a handful of elements and a few hundred bytes.
inline constexpr std::size_t kMaxFileBytes = 64 * 1024;
inline constexpr std::size_t kMaxElements = 256;
// Where the event about a damaged file comes from.
inline constexpr const char* kMessageSource = "Lumivane settings";

class SettingsDocument {
public:
    SettingsDocument();
    ~SettingsDocument();
    SettingsDocument(const SettingsDocument&) = delete;
    SettingsDocument& operator=(const SettingsDocument&) = delete;

    // Reads the file at path into a new document. Returns whether a root element is
    // available: the document must start with a declaration followed directly by an
    // element. Without one the document is dropped and the file is left as it is.
    //
    // With create set, a missing file is created holding only the declaration and an
    // empty "root"; a damaged one (not well formed, or beyond the bounds below) is
    // first renamed aside (keepAside: "<name>.bad") with one event from
    // kMessageSource naming the file and the trouble, and then created afresh. A file
    // that cannot be moved aside, or that is there but cannot be read, is never
    // replaced. Temporary files that crashed saves left beside the file are removed.
    // Without create nothing on the disk changes: a missing or damaged file simply
    // gives no root.
    bool load(const std::filesystem::path& path, bool create);

    // The root element; nullptr when the last load found none.
    TiXmlElement* root() const { return root_; }
    const std::filesystem::path& path() const { return path_; }

    // The first child element of parent named name (letter case included) whose
    // "key" attribute matches key; with create, a new one is appended when none
    // matches. An empty key matches only elements without a "key" attribute; any
    // other key matches the attribute's value ignoring the case of ASCII letters.
    static TiXmlElement* findOrCreateChild(TiXmlElement* parent, std::string_view name,
                                           std::string_view key, bool create);

    // The integer text of the named value under parent. Reading gives true and sets
    // out when the element exists and its first child is text; otherwise out is
    // left alone. Writing gives true when the text now holds value; an element whose
    // first child is not text is not touched. Both give an existing element without
    // children an empty text node, so the value always has its place.
    static bool readInt(TiXmlElement* parent, std::string_view name, std::string_view key,
                        std::int32_t& out);
    static bool writeInt(TiXmlElement* parent, std::string_view name, std::string_view key,
                         std::int32_t value);

    // The same, directly under the root; false when there is no root.
    bool readInt(std::string_view name, std::string_view key, std::int32_t& out) {
        return readInt(root_, name, key, out);
    }
    bool writeInt(std::string_view name, std::string_view key, std::int32_t value) {
        return writeInt(root_, name, key, value);
    }

    // Replaces the file the document was loaded from with the document as TinyXML
    // prints it. False when there is no document or the file could not be replaced,
    // in which case the file keeps its previous content.
    bool save();

private:
    std::unique_ptr<TiXmlDocument> document_;
    TiXmlElement* root_ = nullptr;
    std::filesystem::path path_;
};

// The decimal integer at the start of text: leading white space and one sign are
// skipped, reading stops at the first character that is not a digit, no digits give
// 0, and values beyond the 32-bit range stop at its ends.
std::int32_t parseLeadingInt(std::string_view text);

} // namespace settings
