#pragma once

#include <filesystem>
#include <string>

namespace os {

// A dynamically loaded library. Loaded libraries stay loaded for the life of the
// process unless unload() is called: the system keeps function pointers from them
// in process-wide tables.
class Library {
public:
    Library() = default;
    Library(Library&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() = default; // deliberately not unloading

    // A bare file name ("hwio.dll", "libhwio.so") goes through the system's normal
    // search; a name with a directory part is loaded from exactly that path.
    static Library open(const std::string& fileOrPath);

    bool isLoaded() const { return handle_ != nullptr; }
    explicit operator bool() const { return isLoaded(); }

    // nullptr when the library is not loaded or has no such export.
    void* symbol(const char* name) const;

    template <typename Function>
    Function function(const char* name) const {
        return reinterpret_cast<Function>(symbol(name));
    }

    void unload();

private:
    explicit Library(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

// Where the system's own copy of a vendor library lives: the Windows system
// directory, or the library directory on Linux. LUMIVANE_HWIO_DIR overrides it on
// both, so tests and the virtual board can supply their own.
std::filesystem::path systemLibraryDirectory();

} // namespace os
