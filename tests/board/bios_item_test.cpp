#include "board/acpi_items.h"
#include "board/bios_item.h"
#include "board/bios_item_registry.h"
#include "fake_acpi_bridge.h"
#include "os/diagnostics.h"

#include <gtest/gtest.h>
#include <random>

using namespace board;
using testing_support::booleanDescriptor;
using testing_support::FakeAcpiBridge;
using testing_support::numberDescriptor;
using testing_support::stringDescriptor;

namespace {

class BiosItems : public ::testing::Test {
protected:
    std::unique_ptr<BiosItem> make(std::uint32_t id, const std::vector<std::uint8_t>& bytes) {
        return BiosItemRegistry::MakeItem(library, id, bytes);
    }
    // A number item of the given kind with one base and step word and no extra strings.
    std::unique_ptr<BiosItem> number(std::uint32_t kind, std::uint32_t base, std::uint32_t step) {
        const std::uint32_t id = 0x06000012 | kind << 16;
        return make(id, numberDescriptor(id, base, step, 10));
    }

    FakeAcpiBridge bridge;
    AcpiItemLibrary library{bridge};
    os::CapturedDiagnostics diagnostics;
};

os::Diagnostic message(std::string caption, std::string text) {
    return {os::Diagnostic::Kind::Message, std::move(caption), std::move(text)};
}

} // namespace

TEST(DecimalWord, MantissaIsSignedDownToMinusTenThousand) {
    EXPECT_EQ(DecimalWord::decode(0xFE000019).mantissa, 25);
    EXPECT_EQ(DecimalWord::decode(0xFE000019).exponent, -2);
    EXPECT_EQ(DecimalWord::decode(0x00FFD8F0).mantissa, -10000);
    EXPECT_EQ(DecimalWord::decode(0x00FFD8EF).mantissa, 16767215);
    EXPECT_EQ(DecimalWord::decode(0x00FFFFFF).mantissa, -1);
    EXPECT_EQ(DecimalWord::decode(0x00800000).mantissa, 0x800000);
    EXPECT_EQ(DecimalWord::decode(0x80000000).exponent, -128);
    EXPECT_EQ(DecimalWord::decode(0x7F000000).exponent, 127);
}

TEST_F(BiosItems, NumberConversionsOfTheWorkedExample) {
    // Kind 1, base 25 x 10^-2, step 5: option 2 is (25 + 10) x 10^-4.
    auto item = number(1, 0xFE000019, 0x00000005);
    EXPECT_DOUBLE_EQ(item->IndexToValue(2), 0.0035);
    std::uint32_t numerator = 0, denominator = 0;
    item->IndexToRational(2, &numerator, &denominator);
    EXPECT_EQ(numerator, 35u);
    EXPECT_EQ(denominator, 10000u);
    EXPECT_EQ(item->IndexToString(2), L"0.0035");
    EXPECT_EQ(item->IndexToString(0), L"0.0025");
    EXPECT_TRUE(diagnostics.all().empty());
}

TEST_F(BiosItems, NumberTextsFollowTheDecimalRules) {
    // More than five decimals are clipped to five.
    EXPECT_EQ(number(0, 0xF912D687, 1)->IndexToString(0), L"0.12346"); // 1234567e-7

    // A negative value that rounds to zero carries no minus sign; a visible one does.
    EXPECT_EQ(number(0, 0xF9FFFFFC, 0)->IndexToString(0), L"0.00000"); // -4e-7
    EXPECT_EQ(number(0, 0xFCFFFFDD, 0)->IndexToString(0), L"-0.0035");
    EXPECT_EQ(number(0, 0x00FFD8F0, 0)->IndexToString(0), L"-10000");
    EXPECT_EQ(number(0, 0x00FFD8EF, 0)->IndexToString(0), L"16767215");

    // Trailing zeros common to base and step take their places away.
    auto tenths = number(3, 250, 10); // kind 3 shows tenths
    EXPECT_EQ(tenths->IndexToString(1), L"26");
    EXPECT_DOUBLE_EQ(tenths->IndexToValue(1), 26.0);
    EXPECT_EQ(number(3, 250, 5)->IndexToString(1), L"25.5");

    // Step exponents: negative ones refine the base, positive ones scale the step.
    auto halves = number(0, 1, 0xFF000005);
    EXPECT_EQ(halves->IndexToString(3), L"2.5");
    std::uint32_t n = 0, d = 0;
    halves->IndexToRational(3, &n, &d);
    EXPECT_EQ(n, 25u);
    EXPECT_EQ(d, 10u);
    auto hundreds = number(0, 3, 0x02000002);
    EXPECT_EQ(hundreds->IndexToString(2), L"403");
    hundreds->IndexToRational(2, &n, &d);
    EXPECT_EQ(n, 403u);
    EXPECT_EQ(d, 1u);

    // A positive base exponent multiplies the numerator and shows no decimals.
    auto large = number(0, 0x02000007, 1); // the step is worth 1 x 10^2 here
    large->IndexToRational(1, &n, &d);
    EXPECT_EQ(n, 800u);
    EXPECT_EQ(d, 1u);
    EXPECT_EQ(large->IndexToString(1), L"800");

    // Zero, and values with a point inside the digits.
    EXPECT_EQ(number(0, 0, 0)->IndexToString(0), L"0");
    EXPECT_EQ(number(2, 0, 0)->IndexToString(0), L"0.000");
    EXPECT_EQ(number(0, 0xFE0004D2, 1)->IndexToString(0), L"12.34");
    EXPECT_EQ(number(0, 0xFE0004D2, 1)->IndexToString(9), L"12.43");
    // Units: kinds 2 and 12 thousandths, kind 1 hundredths.
    EXPECT_EQ(number(2, 1500, 1)->IndexToString(0), L"1.500");
    EXPECT_EQ(number(12, 1500, 1)->IndexToString(0), L"1.500");
    EXPECT_EQ(number(1, 1500, 1)->IndexToString(0), L"15.00");
    EXPECT_EQ(number(4, 1500, 1)->IndexToString(0), L"1500");
    EXPECT_TRUE(diagnostics.all().empty());
}

TEST_F(BiosItems, ExtraStringsComeFirstInTheOptionSpace) {
    const std::uint32_t id = 0x06000020;
    auto item = make(id, numberDescriptor(id, 100, 10, 3, {"Auto", "Disabled"}, 0xF3));
    EXPECT_EQ(item->GetCount(), 5u); // the three numbers and the two strings
    EXPECT_EQ(item->GetField3(), 0xF3u);
    EXPECT_EQ(item->IndexToString(0), L"Auto");
    EXPECT_EQ(item->IndexToString(1), L"Disabled");
    EXPECT_EQ(item->IndexToString(2), L"100");
    EXPECT_EQ(item->IndexToString(4), L"120");
    EXPECT_TRUE(diagnostics.all().empty());

    // Asking for a string's value says so and carries on with a negative offset.
    EXPECT_DOUBLE_EQ(item->IndexToValue(1), 90.0);
    std::uint32_t n = 0, d = 0;
    item->IndexToRational(0, &n, &d);
    EXPECT_EQ(n, 80u);
    EXPECT_EQ(d, 1u);
    EXPECT_EQ(diagnostics.messages(),
              (std::vector<os::Diagnostic>{
                  message("IndexToValue Fail", "Can not convert extra string to value"),
                  message("IndexToRational Fail", "Can not convert extra string to value")}));
}

TEST_F(BiosItems, DescriptorShapesDecideWhatLoads) {
    // Seven elements, no extra strings: the option count is element 6.
    const std::uint32_t id = 0x06030012;
    std::vector<std::uint8_t> seven = numberDescriptor(id, 0, 1, 1200, {}, 7);
    auto plain = std::make_unique<BiosNumberItem>(library, id);
    EXPECT_TRUE(plain->Load(seven));
    EXPECT_EQ(plain->GetCount(), 1200u);
    EXPECT_EQ(plain->GetField3(), 7u);
    EXPECT_EQ(std::vector<std::uint8_t>(plain->descriptor().begin(), plain->descriptor().end()),
              seven);

    auto load = [&](auto item, const std::vector<std::uint8_t>& bytes) {
        return item->Load(bytes);
    };
    auto numberItem = [&] {
        return std::make_unique<BiosNumberItem>(library, id);
    };
    auto stringItem = [&] {
        return std::make_unique<BiosStringItem>(library, 0x13080001);
    };
    auto booleanItem = [&] {
        return std::make_unique<BiosBooleanItem>(library, 0x13070001);
    };
    using B = AcpiPackageBuilder;

    EXPECT_FALSE(load(numberItem(), B().value(id).value(0).build())); // < 3 elements
    EXPECT_FALSE(
        load(numberItem(), B().value(id).value(0).value(0).value(0).value(1).value(1).build()));
    EXPECT_TRUE(load(booleanItem(), booleanDescriptor(0x13070001)));
    EXPECT_FALSE(load(booleanItem(), B().value(0x13070001).value(0).value(0).build()));
    // Extra strings need a non-zero count that the elements can hold.
    auto withCount = [&](std::uint32_t n, int strings) {
        B b;
        b.value(id).value(0).value(0).value(0).value(1).value(1).value(4).value(n);
        for (int i = 0; i < strings; ++i)
            b.text("s");
        return b.build();
    };
    EXPECT_TRUE(load(numberItem(), withCount(2, 2)));
    EXPECT_FALSE(load(numberItem(), withCount(0, 2)));
    EXPECT_FALSE(load(numberItem(), withCount(3, 2)));
    EXPECT_FALSE(load(numberItem(), withCount(1, 0))); // the count with nothing after it
    // Nor strings that would carry the option count past 32 bits.
    auto huge = numberItem();
    EXPECT_FALSE(huge->Load(numberDescriptor(id, 0, 1, 0xFFFFFFFF, {"Auto", "Off"})));
    EXPECT_EQ(huge->GetCount(), 0xFFFFFFFFu);
    EXPECT_EQ(huge->extraStringCount(), 0u);

    // Strings: at least one, and no more than there are elements.
    auto twoStrings = stringItem();
    EXPECT_TRUE(twoStrings->Load(stringDescriptor(0x13080001, {"Off", "On"})));
    EXPECT_EQ(twoStrings->GetCount(), 2u);
    EXPECT_EQ(twoStrings->IndexToString(1), L"On");
    EXPECT_EQ(twoStrings->IndexToString(2), L""); // beyond the strings: empty, no message
    EXPECT_FALSE(load(stringItem(), stringDescriptor(0x13080001, {"Off"}, 2)));
    auto none = stringItem();
    EXPECT_FALSE(none->Load(stringDescriptor(0x13080001, {"Off"}, 0)));
    EXPECT_EQ(none->GetCount(), 0u);
    EXPECT_EQ(none->IndexToString(0), L"");
    EXPECT_TRUE(diagnostics.all().empty());

    // A text whose NUL is not inside the descriptor does not load.
    std::vector<std::uint8_t> open = stringDescriptor(0x13080001, {"abc"});
    open.resize(open.size() - 4); // drop the padding
    open.back() = 'x';            // and the NUL
    EXPECT_FALSE(load(stringItem(), open));
    // Nor does a descriptor whose count reaches beyond its bytes.
    std::vector<std::uint8_t> truncated = numberDescriptor(id, 0, 1, 3);
    truncated.resize(truncated.size() - 12);
    EXPECT_FALSE(load(numberItem(), truncated));
}

TEST_F(BiosItems, ValuesGoThroughTheLibrary) {
    bridge.values[0x06030012] = 471;
    auto temperature = make(0x06030012, numberDescriptor(0x06030012, 0, 1, 1200));
    std::uint32_t value = 0;
    EXPECT_TRUE(temperature->GetValue(&value));
    EXPECT_EQ(value, 471u);
    EXPECT_FALSE(temperature->HasAttribute8());

    auto lighting = make(0x13860040, booleanDescriptor(0x13860040));
    EXPECT_TRUE(lighting->HasAttribute8());
    EXPECT_EQ(lighting->SetValue(0, 1), 1);
    EXPECT_TRUE(lighting->SetValue1(1));
    EXPECT_EQ(bridge.writes,
              (std::vector<std::vector<std::uint32_t>>{{0x13860040, 0, 1}, {0x13860040, 1, 1}}));
    value = 5;
    bridge.unavailable = true;
    EXPECT_FALSE(lighting->GetValue(&value));
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(lighting->SetValue(1, 3), 0);
    EXPECT_FALSE(lighting->SetValue1(1));
    bridge.unavailable = false;

    // A composite is never read or written as a whole, yet converts like a number.
    const int opensBefore = bridge.opens();
    auto composite = make(0x060D0001, numberDescriptor(0x060D0001, 0xFF00000F, 5, 4));
    EXPECT_EQ(composite->SetValue(1, 1), -1);
    EXPECT_FALSE(composite->SetValue1(1));
    EXPECT_FALSE(composite->GetValue(&value));
    EXPECT_EQ(bridge.opens(), opensBefore);
    EXPECT_EQ(composite->GetCount(), 4u);
    EXPECT_EQ(composite->IndexToString(1), L"2.0");
}

TEST_F(BiosItems, UnsupportedConversionsSayWhichItem) {
    auto flag = make(0x1307004A, booleanDescriptor(0x1307004A));
    std::uint32_t n = 11, d = 12;
    flag->IndexToRational(0, &n, &d);
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(d, 12u);
    EXPECT_EQ(flag->IndexToValue(0), 0.0);
    EXPECT_EQ(flag->IndexToString(0), L"");
    EXPECT_EQ(flag->GetCount(), 0u);
    auto text = make(0x13080001, stringDescriptor(0x13080001, {"x"}));
    EXPECT_EQ(text->IndexToValue(0), 0.0);
    EXPECT_EQ(diagnostics.messages(),
              (std::vector<os::Diagnostic>{
                  message("BiosItem", "Item[1307004a] does not supports IndexToRational"),
                  message("BiosItem", "Item[1307004a] does not supports IndexToValue"),
                  message("BiosItem", "Item[1307004a] does not supports IndexToString"),
                  message("BiosItem", "Item[13080001] does not supports IndexToValue")}));
}

TEST_F(BiosItems, FixedDigitsFollowFixedPointConversion) {
    auto check = [](double v, int decimals, std::string digits, int point, bool negative) {
        const FixedDigits f = FixedDigits::convert(v, decimals);
        EXPECT_EQ(f.digits, digits) << v;
        EXPECT_EQ(f.pointPosition, point) << v;
        EXPECT_EQ(f.negative, negative) << v;
    };
    check(0.0035, 4, "35", -2, false);
    check(3.1415926535, 7, "31415927", 1, false);
    check(-12.5, 1, "125", 2, true);
    check(45.0, 0, "45", 2, false);
    check(-4e-7, 5, "", -5, true);
    check(0.0, 3, "0000", 1, false);
    check(0.999996, 5, "100000", 1, false); // rounding carries into a new digit
}

TEST_F(BiosItems, RandomDescriptorsNeverReachOutsideTheirBytes) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::uint32_t kinds[] = {0, 1, 3, 7, 8, 12, 13};
    std::vector<std::vector<std::uint8_t>> seeds{
        numberDescriptor(0x06000001, 0xFE000019, 5, 4, {"Auto", "Off"}),
        stringDescriptor(0x13080002, {"Low", "Medium", "High"}),
        booleanDescriptor(0x13070003),
        numberDescriptor(0x06030012, 0x80FFFFFF, 0x7F800000, 0xFFFFFFFF),
    };
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> bytes;
        if (round % 3 == 0) {
            bytes.resize(std::size_t(byte(random)) % 160);
            for (auto& b : bytes)
                b = std::uint8_t(byte(random));
            if (bytes.size() >= 8 && round % 2) // a plausible count more often than not
                bytes[4] = std::uint8_t(byte(random) % 12), bytes[5] = bytes[6] = bytes[7] = 0;
        } else {
            bytes = seeds[std::size_t(round) % seeds.size()];
            for (int flips = byte(random) % 6; flips >= 0; --flips)
                bytes[std::size_t(byte(random) * 131 + byte(random)) % bytes.size()] =
                    std::uint8_t(byte(random));
            if (byte(random) % 3 == 0)
                bytes.resize(std::size_t(byte(random) * 7) % (bytes.size() + 8));
        }
        const std::uint32_t kind = kinds[std::size_t(round) % std::size(kinds)];
        const std::uint32_t id = 0x13000000 | kind << 16 | std::uint32_t(round);
        auto item = make(id, bytes);
        ASSERT_TRUE(item);
        EXPECT_EQ(std::vector<std::uint8_t>(item->descriptor().begin(), item->descriptor().end()),
                  bytes);
        const bool valid = AcpiPackage(bytes).valid();
        const bool parsed = item->Load(bytes); // loading again must not keep stale views
        if (!valid) {
            EXPECT_FALSE(parsed) << "round " << round;
        }
        loaded += parsed;
        item->GetField3();
        const std::uint32_t count = std::min<std::uint32_t>(item->GetCount(), 40);
        std::uint32_t n = 0, d = 0;
        for (std::uint32_t i = 0; i < count + 2; ++i) {
            const std::wstring text = item->IndexToString(i);
            EXPECT_EQ(text.find(L'\0'), std::wstring::npos);
            if (kind != kStringKind && kind != kBooleanKind) {
                item->IndexToValue(i);
                item->IndexToRational(i, &n, &d);
            }
        }
        diagnostics.clear();
    }
    // The mutations keep enough descriptors whole for the parsers to be exercised.
    EXPECT_GT(loaded, 300);
}
