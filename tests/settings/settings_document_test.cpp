#include "os/diagnostics.h"
#include "settings/settings_document.h"
#include "settings_files.h"
#include "test_environment.h"

#include <chrono>
#include <gtest/gtest.h>
#include <limits>
#include <tinyxml.h>

using settings::SettingsDocument;
using namespace settings_testing;

namespace {

class SettingsDocumentTest : public ::testing::Test {
protected:
    std::filesystem::path file(const char* name = "settings.xml") const {
        return directory_.path() / name;
    }
    // A loaded document over the given file text.
    void loadText(const std::string& xml) {
        writeBytes(file(), xml);
        ASSERT_TRUE(document_.load(file(), false)) << xml;
    }
    TiXmlElement* child(const char* name, const char* key, bool create = false) {
        return SettingsDocument::findOrCreateChild(document_.root(), name, key, create);
    }

    testing_support::TemporaryDirectory directory_;
    SettingsDocument document_;
};

TEST(ParseLeadingInt, ReadsTheLeadingDecimalNumber) {
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    constexpr auto min = std::numeric_limits<std::int32_t>::min();
    const std::pair<const char*, std::int32_t> cases[] = {
        {"", 0},
        {"abc", 0},
        {" 12abc", 12},
        {"\t\r\n -0042x", -42},
        {"+7", 7},
        {"- 5", 0},
        {"--5", 0},
        {"1 2", 1},
        {"2147483647", max},
        {"-2147483648", min},
        {"2147483648", max},
        {"-2147483649", min},
        {"99999999999999999999999", max},
        {"-99999999999999999999999", min},
        {"-1280068862", -1280068862},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(settings::parseLeadingInt(text), expected) << '"' << text << '"';
}

TEST_F(SettingsDocumentTest, KeysMatchIgnoringAsciiCaseOnly) {
    loadText(kDeclaration + R"(<root>
        <led key="AbC">1</led>
        <led key="-1 ">2</led>
        <led key="">3</led>
        <led>4</led>
        <led key="&#xC9;">5</led>
        <LED key="-1">6</LED>
    </root>)");
    auto textOf = [](TiXmlElement* element) {
        return element ? std::string(element->GetText()) : std::string("none");
    };
    EXPECT_EQ(textOf(child("led", "abc")), "1");
    EXPECT_EQ(textOf(child("led", "ABC")), "1");
    EXPECT_EQ(textOf(child("led", "-1")), "none") << "a trailing blank is part of the key";
    // No key: only an element without the attribute, not one with an empty value.
    EXPECT_EQ(textOf(child("led", "")), "4");
    // Letters beyond ASCII are compared as they are.
    EXPECT_EQ(textOf(child("led", "\xC3\xA9")), "none");
    EXPECT_EQ(textOf(child("led", "\xC3\x89")), "5");
    EXPECT_EQ(textOf(child("Led", "AbC")), "none") << "names keep their letter case";
}

TEST_F(SettingsDocumentTest, CreatedChildrenGoLastAndCarryTheirKey) {
    loadText(kDeclaration + "<root><other/></root>");
    TiXmlElement* keyed = child("led", "-1", true);
    ASSERT_NE(keyed, nullptr);
    EXPECT_EQ(document_.root()->LastChild(), keyed);
    ASSERT_NE(keyed->Attribute("key"), nullptr);
    EXPECT_STREQ(keyed->Attribute("key"), "-1");
    EXPECT_EQ(child("led", "-1", true), keyed) << "found again, not made twice";

    TiXmlElement* plain = child("Mode", "", true);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->Attribute("key"), nullptr);
    EXPECT_EQ(document_.root()->LastChild(), plain);
    EXPECT_EQ(SettingsDocument::findOrCreateChild(nullptr, "Mode", "", true), nullptr);
}

TEST_F(SettingsDocumentTest, NodesThatOnlyShareTheNameDoNotHideTheValue) {
    // A comment or text reading "Mode" in front of the element must not end the
    // search: the value would read as missing and every write would add an element.
    loadText(kDeclaration + "<root><!--Mode--><Mode>2</Mode></root>");
    std::int32_t mode = 0;
    EXPECT_TRUE(document_.readInt("Mode", "", mode));
    EXPECT_EQ(mode, 2);
    EXPECT_TRUE(document_.writeInt("Mode", "", 1));
    EXPECT_TRUE(document_.writeInt("Mode", "", 2));
    int elements = 0;
    for (auto* e = document_.root()->FirstChildElement("Mode"); e;
         e = e->NextSiblingElement("Mode"))
        ++elements;
    EXPECT_EQ(elements, 1);
}

TEST_F(SettingsDocumentTest, ValuesNeedTextAsTheFirstChild) {
    loadText(kDeclaration + R"(<root>
        <a>-17</a>
        <b><!--note-->5</b>
        <c><x/>6</c>
        <d/>
        <e><![CDATA[ 33 ]]></e>
    </root>)");
    std::int32_t value = 99;
    EXPECT_TRUE(document_.readInt("a", "", value));
    EXPECT_EQ(value, -17);

    value = 99;
    EXPECT_FALSE(document_.readInt("b", "", value));
    EXPECT_FALSE(document_.readInt("c", "", value));
    EXPECT_FALSE(document_.readInt("missing", "", value));
    EXPECT_EQ(value, 99) << "failed reads leave the caller's value";
    EXPECT_FALSE(document_.writeInt("b", "", 1));
    EXPECT_FALSE(document_.writeInt("c", "", 1));
    EXPECT_STREQ(child("b", "")->LastChild()->Value(), "5");

    // An empty element reads as 0 and gains an empty text node, even on reading.
    EXPECT_TRUE(document_.readInt("d", "", value));
    EXPECT_EQ(value, 0);
    ASSERT_NE(child("d", "")->FirstChild(), nullptr);
    EXPECT_NE(child("d", "")->FirstChild()->ToText(), nullptr);

    EXPECT_TRUE(document_.readInt("e", "", value));
    EXPECT_EQ(value, 33);

    // The text is replaced as a whole, in "%d" form.
    EXPECT_TRUE(document_.writeInt("a", "", std::numeric_limits<std::int32_t>::min()));
    EXPECT_STREQ(child("a", "")->GetText(), "-2147483648");
}

TEST_F(SettingsDocumentTest, LoadWithoutCreateTouchesNothing) {
    EXPECT_FALSE(document_.load(file(), false));
    EXPECT_FALSE(std::filesystem::exists(file()));
    EXPECT_EQ(document_.root(), nullptr);
    EXPECT_FALSE(document_.save()) << "no document, nothing to save";
    EXPECT_FALSE(std::filesystem::exists(file()));

    writeBytes(file(), "<root><broken>");
    EXPECT_FALSE(document_.load(file(), false));
    EXPECT_EQ(readBytes(file()), "<root><broken>");
}

TEST_F(SettingsDocumentTest, RootIsTheElementRightAfterTheDeclaration) {
    const std::pair<std::string, bool> cases[] = {
        {kDeclaration + "<anything/>", true},
        {"\xEF\xBB\xBF" + kDeclaration + "\r\n<root/>", true},
        {"<root/>", false},
        {kDeclaration + "<!-- first --><root/>", false},
        {"<!-- first -->" + kDeclaration + "<root/>", false},
        {kDeclaration + kDeclaration + "<root/>", false},
    };
    for (const auto& [xml, hasRoot] : cases) {
        writeBytes(file(), xml);
        EXPECT_EQ(document_.load(file(), true), hasRoot) << xml;
        EXPECT_EQ(document_.root() != nullptr, hasRoot) << xml;
        EXPECT_EQ(readBytes(file()), xml) << "a well-formed file is never rewritten by loading";
    }
}

TEST_F(SettingsDocumentTest, SavePrintsWhatTinyXmlPrints) {
    const std::string original = kDeclaration + R"(
<config version="3">
    <Mode>1</Mode>
    <!-- kept -->
    <led key="-1"><mode>-16777215</mode></led>
    <text>a &amp; b &lt; c</text>
</config>
<!-- after the root -->
)";
    loadText(original);
    EXPECT_TRUE(document_.save());
    EXPECT_EQ(readBytes(file()), printedByTinyXml(original, file("expected.xml")));
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{"settings.xml"});
}

} // namespace

TEST_F(SettingsDocumentTest, SavesOnlyWhatReadsBack) {
    // Read as 1."x><y a=, which printed as it is ends the value early; malformed UTF-8
    // makes the parser skip bytes it then prints, here taking the root in. Both are
    // saved with a plain declaration.
    const std::string unprintable[] = {
        R"(<?xml version="1.&quot;x&gt;&lt;y a=" ?><root><Mode>1</Mode></root>)",
        "\xEF\xBB\xBF<?xml version=\"1.\x99\xFF\xFF`\x10\x01\x1ERx'=\"UTF-8\" "
        "standalone=\xDE\x91o\xDB ?><root><Mode>1</Mode></root>",
        "\xEF\xBB\xBF<?xml ve\x99\x99 standalone=\xDE\x91o\xDB ?><root><=\"e></root>",
    };
    for (const std::string& xml : unprintable) {
        loadText(xml);
        ASSERT_TRUE(SettingsDocument::writeInt(document_.root(), "Mode", {}, 2));
        ASSERT_TRUE(document_.save());

        SettingsDocument reread;
        ASSERT_TRUE(reread.load(file(), false)) << readBytes(file());
        std::int32_t mode = 0;
        EXPECT_TRUE(reread.readInt("Mode", {}, mode));
        EXPECT_EQ(mode, 2);
    }

    // Printed, the text's malformed UTF-8 would take the end tag after it in: the
    // file stays as it was.
    const std::string swallowing =
        kDeclaration + "<root><led key=\"-1\">mode>\xE9</mode></led></root>";
    loadText(swallowing);
    ASSERT_TRUE(SettingsDocument::writeInt(document_.root(), "Mode", {}, 2));
    EXPECT_FALSE(document_.save());
    EXPECT_EQ(readBytes(file()), swallowing);
}

namespace {

// The events a load gave about damaged files.
std::vector<std::string> settingsEvents(const os::CapturedDiagnostics& diagnostics) {
    std::vector<std::string> texts;
    for (const os::Diagnostic& d : diagnostics.all())
        if (d.kind == os::Diagnostic::Kind::Event && d.caption == settings::kMessageSource)
            texts.push_back(d.text);
    return texts;
}

TEST_F(SettingsDocumentTest, ADamagedFileIsKeptAsideWithOneMessageBeforeANewOne) {
    os::CapturedDiagnostics diagnostics;
    // The last '>' missing: the mode and an administrator's element were in it.
    const std::string damaged = kDeclaration + "<root><Mode>2</Mode><Extra a=\"1\"/></root";
    writeBytes(file(), damaged);
    ASSERT_TRUE(document_.load(file(), true));
    EXPECT_EQ(readBytes(file("settings.xml.bad")), damaged);
    EXPECT_EQ(readBytes(file()), printedByTinyXml(kDeclaration + "<root/>", file("fresh.xml")));
    const auto events = settingsEvents(diagnostics);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find(file().string()), std::string::npos) << events[0];
    EXPECT_NE(events[0].find("settings.xml.bad"), std::string::npos) << events[0];

    // A second damaged file does not replace the first one kept.
    writeBytes(file(), "<broken");
    ASSERT_TRUE(document_.load(file(), true));
    EXPECT_EQ(readBytes(file("settings.xml.bad")), damaged);
    EXPECT_EQ(readBytes(file("settings.xml.bad.1")), "<broken");

    // A good file and a missing one say nothing; only a missing one is created.
    diagnostics.clear();
    ASSERT_TRUE(document_.load(file(), true));
    std::filesystem::remove(file());
    ASSERT_TRUE(document_.load(file(), true));
    EXPECT_TRUE(std::filesystem::exists(file()));
    EXPECT_TRUE(settingsEvents(diagnostics).empty());

    // Without create a damaged file stays where it is, without a word.
    writeBytes(file(), damaged);
    EXPECT_FALSE(document_.load(file(), false));
    EXPECT_EQ(readBytes(file()), damaged);
    EXPECT_TRUE(settingsEvents(diagnostics).empty());
}

TEST_F(SettingsDocumentTest, ADamagedFileThatCannotBeKeptAsideIsLeftAsItIs) {
    os::CapturedDiagnostics diagnostics;
    for (const char* aside : {".bad", ".bad.1", ".bad.2", ".bad.3", ".bad.4", ".bad.5", ".bad.6",
                              ".bad.7", ".bad.8", ".bad.9"})
        writeBytes(file((std::string("settings.xml") + aside).c_str()), "kept earlier");
    writeBytes(file(), "<root");
    EXPECT_FALSE(document_.load(file(), true));
    EXPECT_EQ(readBytes(file()), "<root");
    EXPECT_EQ(readBytes(file("settings.xml.bad")), "kept earlier");
    EXPECT_EQ(settingsEvents(diagnostics).size(), 1u);
}

TEST_F(SettingsDocumentTest, DeepOrLargeFilesAreRefusedBeforeTheParserSeesThem) {
    os::CapturedDiagnostics diagnostics;
    // 100000 levels overflowed the parser's stack; 20000 took seconds.
    std::string deep = kDeclaration;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    for (int i = 0; i < 100000; ++i)
        deep += "</a>";
    writeBytes(file(), deep);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(document_.load(file(), true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(document_.root()->FirstChild(), nullptr) << "started afresh";
    EXPECT_EQ(readBytes(file("settings.xml.bad")), deep);
    auto events = settingsEvents(diagnostics);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("larger than 65536 bytes"), std::string::npos) << events[0];
    std::filesystem::remove(file("settings.xml.bad"));

    // Deep, but small: the elements are counted before parsing.
    std::string nested = kDeclaration;
    for (int i = 0; i < 300; ++i)
        nested += "<a>";
    diagnostics.clear();
    writeBytes(file(), nested);
    ASSERT_TRUE(document_.load(file(), true));
    EXPECT_EQ(readBytes(file("settings.xml.bad")), nested);
    events = settingsEvents(diagnostics);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("more than 256 elements"), std::string::npos) << events[0];

    // Within the bounds: read as it stands.
    std::string largest = kDeclaration + "<root><Mode>2</Mode>";
    for (std::size_t i = 2; i < settings::kMaxElements; ++i)
        largest += "<x/>";
    largest += "</root><!--";
    largest += std::string(settings::kMaxFileBytes - largest.size() - 3, '-');
    largest += "-->";
    ASSERT_EQ(largest.size(), settings::kMaxFileBytes);
    writeBytes(file(), largest);
    ASSERT_TRUE(document_.load(file(), true));
    std::int32_t mode = 0;
    EXPECT_TRUE(document_.readInt("Mode", {}, mode));
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(readBytes(file()), largest);

    // One byte more.
    diagnostics.clear();
    writeBytes(file(), largest + " ");
    ASSERT_TRUE(document_.load(file(), true));
    EXPECT_FALSE(document_.readInt("Mode", {}, mode));
    events = settingsEvents(diagnostics);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("larger than 65536 bytes"), std::string::npos) << events[0];
    EXPECT_EQ(readBytes(file("settings.xml.bad.1")), largest + " ");
}

TEST_F(SettingsDocumentTest, LoadingToWriteRemovesTemporaryFilesOfCrashedSaves) {
    writeBytes(file(), kDeclaration + "<root/>");
    const std::string stale = "settings.xml.tmp-0123456789abcdef";
    const std::string recent = "settings.xml.tmp-fedcba9876543210";
    const std::string others[] = {"settings.xml.tmp-0123", "other.xml.tmp-0123456789abcdef"};
    for (const std::string& name : {stale, recent, others[0], others[1]})
        writeBytes(file(name.c_str()), "partial");
    const auto hourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const std::string& name : {stale, others[0], others[1]})
        std::filesystem::last_write_time(file(name.c_str()), hourAgo);

    ASSERT_TRUE(document_.load(file(), false));
    EXPECT_TRUE(std::filesystem::exists(file(stale.c_str()))) << "a reader removes nothing";
    ASSERT_TRUE(document_.load(file(), true));
    EXPECT_FALSE(std::filesystem::exists(file(stale.c_str())));
    EXPECT_TRUE(std::filesystem::exists(file(recent.c_str()))) << "perhaps a save under way";
    for (const std::string& name : others)
        EXPECT_TRUE(std::filesystem::exists(file(name.c_str()))) << name;
}

} // namespace
