#include "board/ec_led_port.h"
#include "board/smbios.h"
#include "board_fixtures.h"
#include "test_environment.h"

#include <gtest/gtest.h>

using namespace board_testing;

TEST(EcLedPort, OnlyTheExactProductNameMatches) {
    testing_support::TemporaryDirectory dir;
    testing_support::ScopedEnvironment redirect{"LUMIVANE_FIRMWARE_DIR", dir.path().string()};
    struct Case {
        std::string product;
        bool matches;
    };
    const Case cases[] = {{"XR40-SUMMIT", true},
                          {"XR40-SUMMIT ", false},
                          {"xr40-summit", false},
                          {"XR40-SUMMIT2", false},
                          {"XR40", false}};
    for (const Case& c : cases) {
        writeDmiTable(dir.path(), table({bios(), baseboard(c.product), endOfTable()}));
        EXPECT_EQ(board::ReadBoardProductName(), c.product);
        EXPECT_EQ(board::EcLedPort().boardMatches(), c.matches) << '"' << c.product << '"';
    }

    writeDmiTable(dir.path(), table({bios(), endOfTable()}));
    EXPECT_EQ(board::ReadBoardProductName(), "");
    EXPECT_FALSE(board::EcLedPort().boardMatches());
}
