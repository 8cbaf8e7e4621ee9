// Round trips to the service's automation object in the local server COM starts:
// Mode put and Color get, each timed call by call, median and 99th percentile.
// Registers Lumivane.exe (built beside the benchmark) for the run and removes it
// again; the served program's Lighting.xml is put back as it was.
//
//   build/windows-x64/bin/com_round_trip_bench.exe [calls]   (under wine64)

#include "com/LumivaneLib.h"
#include "os/executable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <process.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path besideBenchmark(const char* name) {
    return os::executablePath().value().parent_path() / name;
}

int lumivane(const wchar_t* option) {
    const std::filesystem::path program = besideBenchmark("Lumivane.exe");
    const std::wstring quoted = L"\"" + program.wstring() + L"\"";
    const wchar_t* argv[] = {quoted.c_str(), option, nullptr};
    return int(_wspawnv(_P_WAIT, program.c_str(), argv));
}

template <typename Call>
void measure(const char* name, int calls, Call&& call) {
    std::vector<double> micros;
    micros.reserve(std::size_t(calls));
    for (int i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        if (FAILED(call())) {
            std::printf("%s: call %d failed\n", name, i);
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) {
        return micros[std::size_t(q * double(micros.size() - 1))];
    };
    std::printf("%-10s %6d calls  median %8.1f us  p99 %8.1f us  max %8.1f us\n", name, calls,
                at(0.5), at(0.99), micros.back());
}

} // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    if (!std::getenv("LUMIVANE_MESSAGE_FILE"))
        _putenv_s("LUMIVANE_MESSAGE_FILE",
                  (std::filesystem::temp_directory_path() / "lumivane-bench-messages.txt")
                      .string()
                      .c_str());
    const std::filesystem::path settings = besideBenchmark("Lighting.xml");
    std::optional<std::string> saved;
    if (std::ifstream in{settings, std::ios::binary})
        saved.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (lumivane(L"/RegServer") != 0) {
        std::printf("Lumivane.exe /RegServer failed\n");
        return 1;
    }
    int status = 1;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CLSID clsid;
    ILightControl* control = nullptr;
    if (SUCCEEDED(CLSIDFromProgID(L"Lumivane.LightControl.1", &clsid)) &&
        SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ILightControl,
                                   reinterpret_cast<void**>(&control)))) {
        ULONG color = 0;
        for (int i = 0; i < 50; ++i) // the first calls set up the channel
            control->get_Color(&color);
        measure("Mode put", calls, [&] { return control->put_Mode(0); });
        measure("Color get", calls, [&] { return control->get_Color(&color); });
        control->Release();
        status = 0;
    } else {
        std::printf("the server could not be created\n");
    }
    CoUninitialize();
    lumivane(L"/UnregServer");
    // The server writes the file on every Mode put until it has ended.
    Sleep(3000);
    std::filesystem::remove(settings);
    if (saved)
        std::ofstream(settings, std::ios::binary) << *saved;
    return status;
}
