#include "virtualboard/hwio_install.h"

#include "virtualboard/board.h"

namespace virtualboard {

const std::vector<std::string>& hwioExportNames() {
    static const std::vector<std::string> names = {
        "HWIO_Open",           "HWIO_ReadMSR", "HWIO_WriteMSR", "HWIO_InPortB",
        "HWIO_OutPortB",       "HWIO_InPortD", "HWIO_OutPortD", "MapPhysToLin",
        "UnmapPhysicalMemory", "HWIO_MapMem",  "HWIO_UnmapMem"};
    return names;
}

#ifdef _WIN32
std::string hwioBareName() {
    return "hwio.dll";
}
std::string hwioSystemName() {
    return "HwIO.dll";
}
std::string hwioVariantName(const std::string& missingExport) {
    return missingExport.empty() ? "hwio.dll" : "hwio-without-" + missingExport + ".dll";
}
#else
std::string hwioBareName() {
    return "libhwio.so";
}
std::string hwioSystemName() {
    return "HwIO.so";
}
std::string hwioVariantName(const std::string& missingExport) {
    return missingExport.empty() ? "libhwio.so" : "libhwio-without-" + missingExport + ".so";
}
#endif

void installHwio(const std::filesystem::path& sourceDirectory,
                 const std::filesystem::path& targetDirectory, const std::string& missingExport) {
    std::filesystem::path source = sourceDirectory / hwioVariantName(missingExport);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source, ec))
        throw BoardError("the HwIO stand-in " + source.string() + " is missing");
    std::filesystem::create_directories(targetDirectory, ec);
    for (const std::string& name : {hwioBareName(), hwioSystemName()}) {
        std::filesystem::path target = targetDirectory / name;
        // A fresh file, not an overwrite: a running program may have the old one loaded.
        std::filesystem::remove(target, ec);
        if (!std::filesystem::copy_file(source, target,
                                        std::filesystem::copy_options::overwrite_existing, ec))
            throw BoardError("cannot install " + target.string() + ": " + ec.message());
    }
}

} // namespace virtualboard
