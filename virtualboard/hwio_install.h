#pragma once

// The HwIO stand-in files a program finds: built beside the tools (the full library
// and one variant per export that lacks it), installed into a directory under the
// two names the system loads ("libhwio.so"/"HwIO.so", "hwio.dll"/"HwIO.dll").

#include <filesystem>
#include <string>
#include <vector>

namespace virtualboard {

// The eleven exports, in the order the system looks them up.
const std::vector<std::string>& hwioExportNames();

// File names of the stand-in: the bare-name binding, the system-directory binding,
// and the built variant without `missingExport` (the full library when empty).
std::string hwioBareName();
std::string hwioSystemName();
std::string hwioVariantName(const std::string& missingExport);

// Copies the variant from sourceDirectory into targetDirectory under both names.
// Throws BoardError when the variant is not there.
void installHwio(const std::filesystem::path& sourceDirectory,
                 const std::filesystem::path& targetDirectory, const std::string& missingExport);

} // namespace virtualboard
