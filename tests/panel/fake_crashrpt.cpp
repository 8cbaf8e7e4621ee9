#include "fake_crashrpt.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <windows.h>

#define FAKE_EXPORT extern "C" __attribute__((dllexport))

namespace {

FakeCrashRptState state;

void reset() {
    std::memset(&state, 0, sizeof state);
    state.version[0] = 7;
    state.version[1] = 3;
    state.version[2] = 0;
    state.version[3] = 12;
    state.initResult = 1;
    state.readyAfter = 1;
}

struct Init {
    Init() { reset(); }
} init;

// The record's own reading of the application record, independent of the panel's
// declaration: a 4-byte size, then four pointers at the platform's alignment, then
// the version.
constexpr std::size_t kPointer = sizeof(void*);
constexpr std::size_t kAppIdAt = kPointer;
constexpr std::size_t kVersionAt = kAppIdAt + 4 * kPointer;

template <typename T>
T read(const void* record, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(record) + offset, sizeof value);
    return value;
}

void copyRecord(const void* record, std::uint8_t (&to)[64]) {
    auto size = std::min<std::uint32_t>(read<std::uint32_t>(record, 0), sizeof to);
    std::memcpy(to, record, size);
}

template <typename Char, std::size_t N>
void copyText(const Char* text, Char (&to)[N]) {
    if (!text)
        return;
    std::size_t i = 0;
    for (; i + 1 < N && text[i]; ++i)
        to[i] = text[i];
    to[i] = 0;
}

} // namespace

FAKE_EXPORT FakeCrashRptState* fake_crashrpt_state() {
    return &state;
}

FAKE_EXPORT void fake_crashrpt_reset() {
    reset();
}

FAKE_EXPORT BOOL WINAPI GetVersionFromApp(void* app) {
    state.versionCall = ++state.nextCall;
    copyRecord(app, state.appAtVersion);
#ifdef FAKE_CRASHRPT_VERSION_FAILS
    return FALSE;
#else
    std::memcpy(static_cast<std::uint8_t*>(app) + kVersionAt, state.version, sizeof state.version);
    return TRUE;
#endif
}

FAKE_EXPORT BOOL WINAPI InitCrashRpt(void* app, void* settings, BOOL handleCrashes) {
    state.initCall = ++state.nextCall;
    copyRecord(app, state.appAtInit);
    copyText(read<const char*>(app, kAppIdAt), state.appId);
    state.prefixGiven = read<const char*>(app, kAppIdAt + kPointer) != nullptr;
    copyText(read<const wchar_t*>(app, kAppIdAt + 2 * kPointer), state.appName);
    copyText(read<const wchar_t*>(app, kAppIdAt + 3 * kPointer), state.company);
    copyRecord(settings, state.settings);
    state.handleCrashes = static_cast<std::uint32_t>(handleCrashes);
    return static_cast<BOOL>(state.initResult);
}

FAKE_EXPORT BOOL WINAPI IsReadyToExit() {
    return ++state.readyCalls >= state.readyAfter;
}

// The panel never calls these; they only have to be there.
FAKE_EXPORT BOOL WINAPI SendReport(void*) {
    return FALSE;
}
FAKE_EXPORT BOOL WINAPI SetCustomInfo(const wchar_t*, const wchar_t*) {
    return FALSE;
}
FAKE_EXPORT BOOL WINAPI AddUserInfoToReport(const wchar_t*, const wchar_t*) {
    return FALSE;
}
FAKE_EXPORT BOOL WINAPI RemoveUserInfoFromReport(const wchar_t*) {
    return FALSE;
}
FAKE_EXPORT BOOL WINAPI AddFileToReport(const wchar_t*, const wchar_t*) {
    return FALSE;
}
FAKE_EXPORT BOOL WINAPI RemoveFileFromReport(const wchar_t*) {
    return FALSE;
}
#ifndef FAKE_CRASHRPT_INCOMPLETE
// The incomplete variant lacks one of the names the panel never calls: those count
// as much as the three it does.
FAKE_EXPORT BOOL WINAPI GetVersionFromFile(const wchar_t*, void*) {
    return FALSE;
}
#endif
