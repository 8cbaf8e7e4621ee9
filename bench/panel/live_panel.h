#pragma once

// The panel's surroundings as a user has them: a virtual board, its bridge and the
// lighting service on a private bus, and a settings folder of the benchmark's own.
// Both are started before anything is measured, as they run long before a user opens
// the panel.

#include "board/bios_item.h"
#include "panel/board_led_device.h"
#include "panel/service_client.h"
#include "private_bus.h"
#include "test_environment.h"
#include "virtualboard/board.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

struct LivePanel {
    LivePanel() {
        const std::filesystem::path dir = directory.path();
        const std::string bin =
            std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
        for (auto [name, value] :
             {std::pair<const char*, std::string>{"VBOARD_IMAGE", (dir / "board.img").string()},
              {"LUMIVANE_FIRMWARE_DIR", (dir / "firmware").string()},
              {"LUMIVANE_HWIO_DIR", bin},
              {"PULSE_SERVER", "unix:/nonexistent/lumivane"},
              {"XDG_CONFIG_HOME", (dir / "config").string()},
              {"XDG_RUNTIME_DIR", (dir / "runtime").string()}})
            environment.push_back(
                std::make_unique<testing_support::ScopedEnvironment>(name, value));
        std::filesystem::create_directories(dir / "runtime");
        std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
        bus.emplace(LUMIVANE_BUS_DATA_DIR);
        if (!bus->running() || !panel::ServiceClient().mode() ||
            !BoardLedDevice().readLightingOn()) {
            std::fprintf(stderr, "the service or the bridge did not start\n");
            std::exit(1);
        }
    }

    testing_support::TemporaryDirectory directory;
    std::unique_ptr<virtualboard::Board> board = virtualboard::Board::create(
        directory.path() / "board.img", {}, directory.path() / "firmware");
    std::vector<std::unique_ptr<testing_support::ScopedEnvironment>> environment;
    std::optional<testing_support::PrivateBus> bus;
};
