// The HwIO stand-in: the vendor library's exports over the board image named by
// VBOARD_IMAGE. One source, built as libhwio.so / HwIO.so and hwio.dll / HwIO.dll,
// and once per export as a variant that lacks that export (for the failure tests).
//
// Nothing here throws across the C boundary, and nothing fails loudly: with no
// board every port reads 0xFF, every mapping yields none and HWIO_Open returns 0,
// which is what a machine without the driver looks like to the system.

#include "board/hwio_abi.h"
#include "virtualboard/board.h"
#include "virtualboard/platform.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#if defined(_WIN32)
#define HWIO_EXPORT extern "C" __declspec(dllexport)
#else
#define HWIO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using virtualboard::Board;

// The board of this process. A test that points VBOARD_IMAGE at another image, or a
// `vboard create` that replaces the image, gives the next call the new board; boards
// once opened are kept, because views handed out earlier point into them.
class Boards {
public:
    Board* current() {
        // Called on every port access: compare the variable's text, build no path.
        const char* variable = std::getenv("VBOARD_IMAGE");
        std::string_view wanted =
            variable && *variable ? std::string_view(variable) : std::string_view(defaultPath());
        Entry* entry = current_.load(std::memory_order_acquire);
        if (entry && entry->path == wanted && !entry->board->superseded())
            return entry->board;
        return slowPath(std::string(wanted));
    }

private:
    struct Entry {
        std::string path;
        Board* board;
    };

    const std::string& defaultPath() {
        static const std::string path = Board::defaultImagePath().string();
        return path;
    }

    Board* slowPath(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Entry* entry : opened_)
            if (entry->path == path && !entry->board->superseded()) {
                current_.store(entry, std::memory_order_release);
                return entry->board;
            }
        Board* board = nullptr;
        try {
            board = Board::open(path).release();
        } catch (...) {
            return nullptr; // no board (yet): try again on the next call
        }
        opened_.push_back(new Entry{path, board});
        current_.store(opened_.back(), std::memory_order_release);
        return board;
    }

    std::mutex mutex_;
    std::atomic<Entry*> current_{nullptr};
    std::vector<Entry*> opened_;
};

Boards& boards() {
    static Boards* instance = new Boards(); // never destroyed: other threads may outlive exit
    return *instance;
}

std::uint8_t inByte(Board* board, std::uint32_t port) {
    return board ? board->hardware().inPort(std::uint16_t(port)) : 0xFF;
}

void outByte(Board* board, std::uint32_t port, std::uint32_t value) {
    if (board)
        board->hardware().outPort(std::uint16_t(port), std::uint8_t(value));
}

void* map(std::uint32_t address, std::uint32_t length) {
    Board* board = boards().current();
    if (!board)
        return nullptr;
    void* view = board->hardware().physical(address, length);
    board->hardware().countMap(view != nullptr);
    return view;
}

} // namespace

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_Open
HWIO_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_Open(std::uint32_t) {
    virtualboard::pinThisModule(); // the firmware agent's thread runs code of this module
    Board* board = boards().current();
    if (!board)
        return 0;
    board->hardware().countOpen();
    if (board->hardware().openFails())
        return 0;
    board->firmwareLock().startAgent();
    return 1;
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_InPortB
HWIO_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_InPortB(std::uint32_t port) {
    return inByte(boards().current(), port & 0xFFFF);
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_OutPortB
HWIO_EXPORT void LUMIVANE_HWIO_CALL HWIO_OutPortB(std::uint32_t port, std::uint32_t value) {
    outByte(boards().current(), port & 0xFFFF, value & 0xFF);
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_InPortD
HWIO_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_InPortD(std::uint32_t port) {
    Board* board = boards().current();
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < 4; ++i)
        value |= std::uint32_t(inByte(board, (port + i) & 0xFFFF)) << (8 * i);
    return value;
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_OutPortD
HWIO_EXPORT void LUMIVANE_HWIO_CALL HWIO_OutPortD(std::uint32_t port, std::uint32_t value) {
    Board* board = boards().current();
    for (std::uint32_t i = 0; i < 4; ++i)
        outByte(board, (port + i) & 0xFFFF, (value >> (8 * i)) & 0xFF);
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_ReadMSR
HWIO_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_ReadMSR(std::uint32_t index,
                                                          std::uint64_t* value) {
    Board* board = boards().current();
    std::uint64_t read = 0;
    if (!board || !value || !board->hardware().readMsr(index, read))
        return 0;
    *value = read;
    return 1;
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_WriteMSR
HWIO_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_WriteMSR(std::uint32_t index,
                                                           std::uint64_t value) {
    Board* board = boards().current();
    return board && board->hardware().writeMsr(index, value) ? 1 : 0;
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_MapMem
HWIO_EXPORT void* LUMIVANE_HWIO_CALL HWIO_MapMem(std::uint32_t physicalAddress,
                                                 std::uint32_t length) {
    return map(physicalAddress, length);
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_UnmapMem
HWIO_EXPORT void LUMIVANE_HWIO_CALL HWIO_UnmapMem(void* view, std::uint32_t) {
    Board* board = boards().current();
    if (board && view)
        board->hardware().countUnmap(); // views are windows into the image: nothing to release
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_MapPhysToLin
HWIO_EXPORT void* LUMIVANE_HWIO_CALL MapPhysToLin(std::uint32_t physicalAddress,
                                                  std::uint32_t length, void** handle,
                                                  std::uint64_t* token) {
    void* view = map(physicalAddress, length);
    if (handle)
        *handle = view;
    if (token)
        *token = view ? physicalAddress : 0;
    return view;
}
#endif

#ifndef LUMIVANE_HWIO_WITHOUT_UnmapPhysicalMemory
HWIO_EXPORT void LUMIVANE_HWIO_CALL UnmapPhysicalMemory(void*, void* view, std::uint64_t) {
    Board* board = boards().current();
    if (board && view)
        board->hardware().countUnmap();
}
#endif

// Every export has exactly the type the system calls it through.
#define LUMIVANE_HWIO_CHECK(name, type)                                                            \
    static_assert(std::is_same_v<decltype(&name), board::hwio::type>, #name)
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_Open
LUMIVANE_HWIO_CHECK(HWIO_Open, OpenFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_InPortB
LUMIVANE_HWIO_CHECK(HWIO_InPortB, InPortBFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_OutPortB
LUMIVANE_HWIO_CHECK(HWIO_OutPortB, OutPortBFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_InPortD
LUMIVANE_HWIO_CHECK(HWIO_InPortD, InPortDFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_OutPortD
LUMIVANE_HWIO_CHECK(HWIO_OutPortD, OutPortDFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_ReadMSR
LUMIVANE_HWIO_CHECK(HWIO_ReadMSR, ReadMsrFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_WriteMSR
LUMIVANE_HWIO_CHECK(HWIO_WriteMSR, WriteMsrFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_MapMem
LUMIVANE_HWIO_CHECK(HWIO_MapMem, MapMemFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_HWIO_UnmapMem
LUMIVANE_HWIO_CHECK(HWIO_UnmapMem, UnmapMemFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_MapPhysToLin
LUMIVANE_HWIO_CHECK(MapPhysToLin, MapPhysToLinFn);
#endif
#ifndef LUMIVANE_HWIO_WITHOUT_UnmapPhysicalMemory
LUMIVANE_HWIO_CHECK(UnmapPhysicalMemory, UnmapPhysicalMemoryFn);
#endif
