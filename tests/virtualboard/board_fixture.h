#pragma once

// A fresh virtual board per test, in a scratch directory, made the current board of
// this process (VBOARD_IMAGE) and with its firmware directory in place.

#include "os/executable.h"
#include "test_environment.h"
#include "virtualboard/board.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace vbtest {

// Where the tests, the helper programs and the stand-in libraries are built.
inline std::filesystem::path binaryDirectory() {
    return os::executablePath().value_or(std::filesystem::path("x")).parent_path();
}

class BoardTest : public ::testing::Test {
protected:
    void createBoard(const virtualboard::BoardOptions& options = {}) {
        image_.reset();
        firmware_.reset();
        ++boards_;
        board = virtualboard::Board::create(imagePath(), options, firmwarePath());
        image_.emplace("VBOARD_IMAGE", imagePath().string());
        firmware_.emplace("LUMIVANE_FIRMWARE_DIR", firmwarePath().string());
    }
    // A new file for every board of a test: a program may keep a replaced image open.
    std::filesystem::path imagePath() const {
        return directory.path() / ("board-" + std::to_string(boards_) + ".img");
    }
    std::filesystem::path firmwarePath() const { return directory.path() / "firmware"; }

    testing_support::TemporaryDirectory directory;
    std::unique_ptr<virtualboard::Board> board;

private:
    std::optional<testing_support::ScopedEnvironment> image_, firmware_;
    int boards_ = 0;
};

} // namespace vbtest
