#include <complex>
#include <gtest/gtest.h>
#include <kissfft/kiss_fft.h>
#include <tinyxml.h>
#include <vector>

TEST(Dependencies, TinyXmlParsesAndPrints) {
    TiXmlDocument document;
    document.Parse("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>"
                   "<root><Mode>2</Mode></root>");
    ASSERT_FALSE(document.Error()) << document.ErrorDesc();
    TiXmlElement* mode = document.RootElement()->FirstChildElement("Mode");
    ASSERT_NE(mode, nullptr);
    EXPECT_STREQ(mode->GetText(), "2");

    TiXmlPrinter printer;
    document.Accept(&printer);
    EXPECT_NE(std::string(printer.CStr()).find("<Mode>2</Mode>"), std::string::npos);
}

TEST(Dependencies, KissFftIsSinglePrecision) {
    static_assert(sizeof(kiss_fft_scalar) == sizeof(float));
    const int n = 8;
    kiss_fft_cfg config = kiss_fft_alloc(n, 0, nullptr, nullptr);
    ASSERT_NE(config, nullptr);
    std::vector<kiss_fft_cpx> in(n, kiss_fft_cpx{0, 0}), out(n);
    in[0].r = 1; // an impulse has a flat spectrum
    kiss_fft(config, in.data(), out.data());
    for (const kiss_fft_cpx& bin : out) {
        EXPECT_FLOAT_EQ(bin.r, 1.0f);
        EXPECT_FLOAT_EQ(bin.i, 0.0f);
    }
    kiss_fft_free(config);
}
