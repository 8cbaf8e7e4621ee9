#pragma once

// Helpers for tests that look at settings files byte for byte.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tinyxml.h>
#include <vector>

namespace settings_testing {

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// What TinyXML's own SaveFile writes for the document the text describes: the
// bytes a settings file must hold after a save, line ends included.
inline std::string printedByTinyXml(const std::string& xml, const std::filesystem::path& scratch) {
    TiXmlDocument document;
    document.Parse(xml.c_str());
    if (document.Error())
        return "unparsable: " + xml;
    document.SaveFile(scratch.string());
    std::string bytes = readBytes(scratch);
    std::filesystem::remove(scratch);
    return bytes;
}

// The names in a directory, to see that no temporary file stays behind.
inline std::vector<std::string> fileNames(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    return names;
}

#ifdef _WIN32
inline constexpr const char* kNewLine = "\r\n";
#else
inline constexpr const char* kNewLine = "\n";
#endif

inline const std::string kDeclaration =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="no" ?>)";

} // namespace settings_testing
