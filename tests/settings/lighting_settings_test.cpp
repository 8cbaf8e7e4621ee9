#include "os/diagnostics.h"
#include "settings/atomic_file.h"
#include "settings/lighting_settings.h"
#include "settings_files.h"
#include "test_environment.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <tinyxml.h>

using settings::LightingSettings;
using namespace settings_testing;

namespace {

class LightingSettingsTest : public ::testing::Test {
protected:
    std::filesystem::path file() const { return directory_.path() / LightingSettings::kFileName; }
    std::string expected(const std::string& xml) const {
        return printedByTinyXml(xml, directory_.path().parent_path() /
                                         (directory_.path().filename().string() + ".expected"));
    }
    std::string freshFile() const { return expected(kDeclaration + "<root/>"); }

    // The "Mode" elements of the file as another reader sees it.
    std::vector<std::string> modeTexts() const {
        TiXmlDocument document;
        document.Parse(readBytes(file()).c_str());
        EXPECT_FALSE(document.Error());
        std::vector<std::string> texts;
        TiXmlElement* root = document.RootElement();
        for (auto* e = root ? root->FirstChildElement("Mode") : nullptr; e;
             e = e->NextSiblingElement("Mode"))
            texts.push_back(e->GetText() ? e->GetText() : "");
        return texts;
    }

    testing_support::TemporaryDirectory directory_;
};

TEST_F(LightingSettingsTest, FirstStartCreatesDeclarationAndEmptyRoot) {
    LightingSettings settings(file());
    EXPECT_EQ(settings.getMode(), 0);
    EXPECT_EQ(readBytes(file()), kDeclaration + kNewLine + "<root />" + kNewLine);
    EXPECT_EQ(readBytes(file()), freshFile());
    EXPECT_EQ(settings.path(), file());
}

TEST_F(LightingSettingsTest, ModeIsAddedOnceThenChanged) {
    {
        LightingSettings settings(file());
        settings.setMode(1);
        EXPECT_EQ(readBytes(file()), expected(kDeclaration + "<root><Mode>1</Mode></root>"));
        settings.setMode(2);
        EXPECT_EQ(settings.getMode(), 2);
    }
    EXPECT_EQ(readBytes(file()), expected(kDeclaration + "<root><Mode>2</Mode></root>"));
    EXPECT_EQ(LightingSettings(file()).getMode(), 2) << "read back at the next start";
}

TEST_F(LightingSettingsTest, StoredModesAreFoundWhereverTheFileKeepsThem) {
    const std::pair<std::string, std::int32_t> cases[] = {
        {kDeclaration + "<settings><Mode>2</Mode></settings>", 2},
        {kDeclaration + R"(<root><Mode key="x">7</Mode><Mode>1</Mode></root>)", 1},
        {kDeclaration + "<root><Mode> 12abc</Mode></root>", 12},
        {kDeclaration + "<root><Mode>-5</Mode></root>", -5},
        {kDeclaration + "<root><Mode></Mode></root>", 0},
        {kDeclaration + "<root><Mode><!--c-->2</Mode></root>", 0},
        {kDeclaration + "<root><mode>2</mode></root>", 0},
    };
    for (const auto& [xml, mode] : cases) {
        writeBytes(file(), xml);
        EXPECT_EQ(LightingSettings(file()).getMode(), mode) << xml;
    }
}

TEST_F(LightingSettingsTest, WritesKeepEverythingElse) {
    const std::string original = kDeclaration + R"(<settings version="3">
        <Mode key="x">7</Mode>
        <Mode>0</Mode>
        <Other a="b">text</Other>
    </settings>
    <!-- after the root -->)";
    writeBytes(file(), original);
    LightingSettings(file()).setMode(2);
    std::string changed = original;
    changed.replace(changed.find("<Mode>0<"), 8, "<Mode>2<");
    EXPECT_EQ(readBytes(file()), expected(changed));

    // A value that is not text stays as it is, but the file is still written.
    const std::string nested = kDeclaration + "<root><Mode><x/>1</Mode><!--c--></root>";
    writeBytes(file(), nested);
    LightingSettings(file()).setMode(2);
    EXPECT_EQ(readBytes(file()), expected(nested));
}

TEST_F(LightingSettingsTest, WithoutRootTheFileIsNeverTouched) {
    const std::string cases[] = {
        "<root><Mode>2</Mode></root>",
        kDeclaration + "<!-- comment first --><root><Mode>2</Mode></root>",
    };
    for (const std::string& xml : cases) {
        writeBytes(file(), xml);
        LightingSettings settings(file());
        EXPECT_EQ(settings.getMode(), 0) << xml;
        settings.setMode(1);
        EXPECT_EQ(settings.getMode(), 0) << xml;
        EXPECT_EQ(readBytes(file()), xml);
    }
}

TEST_F(LightingSettingsTest, DamagedFilesAreKeptAsideAndStartAgainEmpty) {
    const std::string cases[] = {
        "",
        "not xml at all",
        // Nodes the parser took in before the error are not kept.
        kDeclaration + "<root><Mode>2</Mode></root><broken",
        kDeclaration + "<root><Mode>2</Mode>",
        kDeclaration + "<root><Mode>2</Mode><Extra/></root",
        std::string("\0<root/>", 8),
    };
    const auto aside = directory_.path() / (std::string(LightingSettings::kFileName) + ".bad");
    for (const std::string& bytes : cases) {
        os::CapturedDiagnostics diagnostics;
        writeBytes(file(), bytes);
        LightingSettings settings(file());
        EXPECT_EQ(settings.getMode(), 0);
        EXPECT_EQ(readBytes(file()), freshFile()) << bytes;
        EXPECT_EQ(readBytes(aside), bytes);
        EXPECT_EQ(diagnostics.all().size(), 1u) << bytes;
        settings.setMode(1);
        EXPECT_EQ(modeTexts(), std::vector<std::string>{"1"});
        std::filesystem::remove(aside);
    }
}

TEST_F(LightingSettingsTest, TheSameModeAgainIsNotSavedAgain) {
    int saves = 0;
    settings::detail::setSaveInterruption([&saves](std::FILE*) { return ++saves, true; });
    {
        LightingSettings settings(file());
        EXPECT_EQ(saves, 1) << "the new file";
        settings.setMode(1);
        settings.setMode(1);
        EXPECT_EQ(saves, 2);
        settings.setMode(2);
        settings.setMode(2);
        settings.setMode(0);
        EXPECT_EQ(saves, 4);
    }
    LightingSettings reloaded(file());
    reloaded.setMode(0);
    EXPECT_EQ(saves, 4) << "the file holds 0 already";
    settings::detail::setSaveInterruption(nullptr);
    EXPECT_EQ(modeTexts(), std::vector<std::string>{"0"});
}

TEST_F(LightingSettingsTest, UnwritablePlaceGivesModeZeroAndReportsNothing) {
    os::CapturedDiagnostics diagnostics;
    const auto path = directory_.path() / "missing" / LightingSettings::kFileName;
    LightingSettings settings(path);
    EXPECT_EQ(settings.getMode(), 0);
    settings.setMode(2);
    EXPECT_EQ(settings.getMode(), 0);
    EXPECT_FALSE(std::filesystem::exists(path.parent_path()));
    EXPECT_TRUE(diagnostics.all().empty());
}

TEST_F(LightingSettingsTest, InterruptedSaveLeavesTheOldFile) {
    LightingSettings settings(file());
    settings.setMode(1);
    const std::string before = readBytes(file());

    settings::detail::setSaveInterruption([](std::FILE* stream) {
        std::fputs("<garbage", stream); // a half-written tail, as a full disk leaves it
        return false;
    });
    settings.setMode(2);
    settings::detail::setSaveInterruption(nullptr);

    EXPECT_EQ(readBytes(file()), before);
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{LightingSettings::kFileName});
    EXPECT_EQ(settings.getMode(), 2) << "the new mode lives on in memory";
    EXPECT_EQ(LightingSettings(file()).getMode(), 1);

    settings.setMode(2);
    EXPECT_EQ(LightingSettings(file()).getMode(), 2) << "the next save writes it";
}

TEST_F(LightingSettingsTest, ConcurrentWritersLeaveOneWrittenValue) {
    LightingSettings settings(file());
    constexpr int kThreads = 8, kWrites = 25;
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < kWrites; ++i) {
                settings.setMode(t * 1000 + i);
                (void)settings.getMode();
            }
        });
    }
    go = true;
    for (auto& thread : threads)
        thread.join();

    const std::int32_t last = settings.getMode();
    EXPECT_GE(last % 1000, 0);
    EXPECT_LT(last % 1000, kWrites);
    EXPECT_LT(last / 1000, kThreads);
    // Saves happen in the order the lock gives them, so the file ends with the last.
    EXPECT_EQ(modeTexts(), std::vector<std::string>{std::to_string(last)});
    EXPECT_EQ(readBytes(file()),
              expected(kDeclaration + "<root><Mode>" + std::to_string(last) + "</Mode></root>"));
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{LightingSettings::kFileName});
}

TEST_F(LightingSettingsTest, ReadersNeverSeeAHalfWrittenFile) {
    // Two objects on one file stand for two processes; a third party keeps reading.
    LightingSettings first(file());
    LightingSettings second(file());
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, damaged{0};
    std::thread reader([&] {
        while (!done) {
            std::ifstream in(file(), std::ios::binary);
            if (!in)
                continue; // held by a replace at this instant (Windows), which is no damage
            std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            TiXmlDocument document;
            document.Parse(bytes.c_str());
            const TiXmlElement* root = document.RootElement();
            if (document.Error() || !root)
                ++damaged;
            ++reads;
        }
    });
    std::thread writerA([&] {
        for (int i = 0; i < 100; ++i)
            first.setMode(i % 3);
    });
    std::thread writerB([&] {
        for (int i = 0; i < 100; ++i)
            second.setMode(i % 3);
    });
    writerA.join();
    writerB.join();
    done = true;
    reader.join();

    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(damaged.load(), 0);
    ASSERT_EQ(modeTexts().size(), 1u);
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{LightingSettings::kFileName});
}

} // namespace
