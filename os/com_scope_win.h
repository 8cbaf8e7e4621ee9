#pragma once

// Windows only: initialises COM for the calling thread for as long as it lives.

#include <objbase.h>

namespace os {

class ComApartment {
public:
    enum class Kind { SingleThreaded, MultiThreaded };

    explicit ComApartment(Kind kind)
        : result_(CoInitializeEx(nullptr, kind == Kind::SingleThreaded ? COINIT_APARTMENTTHREADED
                                                                       : COINIT_MULTITHREADED)) {}
    ~ComApartment() {
        // S_FALSE (already initialised on this thread) also takes a reference.
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool ok() const { return SUCCEEDED(result_); }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

} // namespace os
