// A stand-in for lumivane-capture that shows how the service started it and then
// behaves as a helper its user has stopped. It writes, in this order: lines meant to
// pass for the service's on its standard error and output (more than a run may
// print); a report of what it was
// given (XDG_RUNTIME_DIR/probe-report, complete once it exists):
//
//     pid P  ppid P  pgid P  pdeathsig S  groups G,G,...  fds F,F,...
//     fd0 TARGET  fd1 TARGET  fd2 TARGET
//
// and then stops itself, with SIGTERM caught, so that only SIGKILL ends it.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

std::string target(int fd) {
    char link[256] = {};
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
    return n > 0 ? std::string(link, std::size_t(n)) : "closed";
}

std::string report() {
    int deathSignal = -1;
    ::prctl(PR_GET_PDEATHSIG, &deathSignal);
    std::string text = "pid " + std::to_string(::getpid()) + " ppid " +
                       std::to_string(::getppid()) + " pgid " + std::to_string(::getpgid(0)) +
                       " pdeathsig " + std::to_string(deathSignal) + " groups ";
    std::vector<gid_t> groups(256);
    const int count = ::getgroups(int(groups.size()), groups.data());
    for (int i = 0; i < count; ++i)
        text += (i ? "," : "") + std::to_string(groups[std::size_t(i)]);
    text += " fds ";
    DIR* dir = ::opendir("/proc/self/fd");
    bool first = true;
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == ::dirfd(dir))
            continue;
        text += (first ? "" : ",") + std::to_string(fd);
        first = false;
    }
    if (dir)
        ::closedir(dir);
    text += "\nfd0 " + target(0) + " fd1 " + target(1) + " fd2 " + target(2) + "\n";
    return text;
}

} // namespace

int main() {
    const std::string text = report();
    std::fprintf(stderr, "<3>on standard error\n");
    std::printf("<0>sink \x1b[31mred\x1b[0m\r\\ from the user's sound server\n");
    std::printf("%s\n", std::string(1000, 'x').c_str());
    for (int i = 0; i < 60; ++i)
        std::printf("line %d\n", i);
    std::fflush(stdout);

    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime)
        return 2;
    const std::string path = std::string(runtime) + "/probe-report";
    if (FILE* out = std::fopen((path + ".part").c_str(), "w")) {
        std::fputs(text.c_str(), out);
        std::fclose(out);
        std::rename((path + ".part").c_str(), path.c_str());
    }

    std::signal(SIGTERM, [](int) {});
    for (;;) {
        ::raise(SIGSTOP);
        ::pause();
    }
}
