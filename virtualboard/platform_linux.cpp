#include "virtualboard/board.h"
#include "virtualboard/platform.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace virtualboard {

std::unique_ptr<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        throw BoardError("cannot open board image " + path.string() + ": " + std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size <= 0) {
        ::close(fd);
        throw BoardError("board image " + path.string() + " is empty or unreadable");
    }
    void* data =
        mmap(nullptr, std::size_t(info.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int error = errno;
    ::close(fd); // the mapping keeps the file
    if (data == MAP_FAILED)
        throw BoardError("cannot map board image " + path.string() + ": " + std::strerror(error));
    std::unique_ptr<MappedFile> file(new MappedFile());
    file->data_ = static_cast<std::uint8_t*>(data);
    file->size_ = std::size_t(info.st_size);
    return file;
}

MappedFile::~MappedFile() {
    if (data_)
        munmap(data_, size_);
}

std::filesystem::path runtimeDirectory() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir)
        return dir;
    return "/tmp";
}

void replaceFile(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (std::rename(source.c_str(), target.c_str()) != 0)
        throw BoardError("cannot write board image " + target.string() + ": " +
                         std::strerror(errno));
}

std::uint32_t currentProcessId() {
    return std::uint32_t(getpid());
}

void pinThisModule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&pinThisModule), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

std::uint64_t wallClockMs() {
    using namespace std::chrono;
    return std::uint64_t(
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

} // namespace virtualboard
