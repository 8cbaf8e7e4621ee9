#pragma once

// The settings targets' scratch file and the check that whatever is left in it is
// XML TinyXML reads back.

#include "fuzz_input.h"
#include "test_environment.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tinyxml.h>

namespace fuzzing {

inline std::filesystem::path scratchFile(const char* name) {
    static auto* directory = new testing_support::TemporaryDirectory;
    return directory->path() / name;
}

inline void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// TinyXML reads past the end of a text that ends in a UTF-8 lead byte: parsed from
// a copy cut at its first NUL with NULs after it, as the settings code parses.
inline bool parsesAsXml(const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes = readFile(path);
    std::string text(bytes.begin(), bytes.end());
    // Cut at the first NUL, as TinyXML's LoadFile cuts: a lead byte before it would
    // otherwise step over it into the rest of the file.
    text.resize(std::min(text.size(), text.find('\0')));
    text.append(8, '\0');
    TiXmlDocument document;
    document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    return !document.Error();
}

} // namespace fuzzing
