#include "board/hwio.h"

namespace board {

HwIOLibrary::HwIOLibrary(std::filesystem::path path)
    : locate_([path] { return path; }), path_(std::move(path)) {}

HwIOLibrary::HwIOLibrary(Locator locate) : locate_(std::move(locate)) {}

std::filesystem::path HwIOLibrary::path() const {
    std::lock_guard lock(loadMutex_);
    return path_;
}

bool HwIOLibrary::load() {
    if (isLoaded())
        return true;
    std::lock_guard lock(loadMutex_);
    // Another thread may have finished the load while this one waited.
    if (isLoaded())
        return true;
    path_ = locate_();
    if (path_.empty())
        return false;
    os::Library library = os::Library::open(path_.string());
    if (!library)
        return false;

    HwIOFunctions found;
    found.open = library.function<hwio::OpenFn>(hwio::kOpen);
    found.readMsr = library.function<hwio::UncalledFn>(hwio::kReadMsr);
    found.writeMsr = library.function<hwio::UncalledFn>(hwio::kWriteMsr);
    found.inPortB = library.function<hwio::InPortBFn>(hwio::kInPortB);
    found.outPortB = library.function<hwio::OutPortBFn>(hwio::kOutPortB);
    found.inPortD = library.function<hwio::InPortDFn>(hwio::kInPortD);
    found.outPortD = library.function<hwio::OutPortDFn>(hwio::kOutPortD);
    found.mapPhysToLin = library.function<hwio::MapPhysToLinFn>(hwio::kMapPhysToLin);
    found.unmapPhysicalMemory =
        library.function<hwio::UnmapPhysicalMemoryFn>(hwio::kUnmapPhysicalMemory);
    found.mapMem = library.function<hwio::MapMemFn>(hwio::kMapMem);
    found.unmapMem = library.function<hwio::UnmapMemFn>(hwio::kUnmapMem);

    // The driver is open (or has refused) before any other thread may see the
    // library as loaded and reach for its ports or memory.
    const bool opened = found.open && found.open(0) != 0;
    module_ = std::move(library);
    functions_ = found;
    // The library stays bound even when its driver refuses to open: later callers
    // get the entry points as they are, and the open is not repeated.
    loaded_.store(true, std::memory_order_release);
    return opened;
}

void* HwIOLibrary::mapMemory(std::uint32_t address, std::uint32_t length) const {
    if (!isLoaded() || !functions_.mapMem)
        return nullptr;
    return functions_.mapMem(address, length);
}

void HwIOLibrary::unmapMemory(void* view) const {
    if (view && isLoaded() && functions_.unmapMem)
        functions_.unmapMem(view, 0);
}

std::filesystem::path systemHwIOLibraryPath() {
    std::filesystem::path directory = os::systemLibraryDirectory();
    if (directory.empty())
        return {};
    return directory / hwio::systemLibraryFile();
}

HwIOLibrary& hwIOLibrary() {
    // Never destroyed, like every process-wide object: threads may still map memory
    // while the process ends.
    static HwIOLibrary* const library =
        new HwIOLibrary(HwIOLibrary::Locator(systemHwIOLibraryPath));
    return *library;
}

bool LoadHwIOLibrary() {
    return hwIOLibrary().load();
}

} // namespace board
