#include "os/com_apartment.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <thread>

TEST(ComApartment, NestsAndRefusesAConflictingModel) {
    std::thread([] {
        os::ComApartment sta(os::ComApartment::Kind::SingleThreaded);
        EXPECT_EQ(sta.result(), S_OK);
        {
            os::ComApartment again(os::ComApartment::Kind::SingleThreaded);
            EXPECT_EQ(again.result(), S_FALSE);
            EXPECT_TRUE(again.ok());
        }
        os::ComApartment mta(os::ComApartment::Kind::MultiThreaded);
        EXPECT_EQ(mta.result(), RPC_E_CHANGED_MODE);
        EXPECT_FALSE(mta.ok());
    }).join();

    // Once the scopes are gone the thread may choose again.
    std::thread([] {
        os::ComApartment mta(os::ComApartment::Kind::MultiThreaded);
        EXPECT_EQ(mta.result(), S_OK);
    }).join();
}
