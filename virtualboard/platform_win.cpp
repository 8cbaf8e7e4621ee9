#include "virtualboard/board.h"
#include "virtualboard/platform.h"

#include <chrono>
#include <windows.h>

namespace virtualboard {

namespace {

std::string lastError() {
    return "error " + std::to_string(GetLastError());
}

} // namespace

std::unique_ptr<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw BoardError("cannot open board image " + path.string() + ": " + lastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0) {
        CloseHandle(file);
        throw BoardError("board image " + path.string() + " is empty or unreadable");
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    CloseHandle(file); // the mapping object keeps the file
    if (!mapping)
        throw BoardError("cannot map board image " + path.string() + ": " + lastError());
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) {
        std::string error = lastError();
        CloseHandle(mapping);
        throw BoardError("cannot map board image " + path.string() + ": " + error);
    }
    std::unique_ptr<MappedFile> mapped(new MappedFile());
    mapped->data_ = static_cast<std::uint8_t*>(view);
    mapped->size_ = std::size_t(size.QuadPart);
    mapped->handle_ = mapping;
    return mapped;
}

MappedFile::~MappedFile() {
    if (data_)
        UnmapViewOfFile(data_);
    if (handle_)
        CloseHandle(handle_);
}

std::filesystem::path runtimeDirectory() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return std::filesystem::path(L".");
    return std::filesystem::path(std::wstring(buffer, length));
}

void replaceFile(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (!MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw BoardError("cannot write board image " + target.string() + ": " + lastError());
}

std::uint32_t currentProcessId() {
    return std::uint32_t(GetCurrentProcessId());
}

void pinThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&pinThisModule), &module);
}

std::uint64_t wallClockMs() {
    using namespace std::chrono;
    return std::uint64_t(
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

} // namespace virtualboard
