#include "os/com_apartment.h"

#include <objbase.h>

namespace os {

ComApartment::ComApartment(Kind kind)
    : result_(CoInitializeEx(nullptr, kind == Kind::SingleThreaded ? COINIT_APARTMENTTHREADED
                                                                   : COINIT_MULTITHREADED)) {}

ComApartment::~ComApartment() {
    // S_FALSE (already initialised on this thread) also takes a reference.
    if (ok())
        CoUninitialize();
}

void ComApartment::enterForThread() {
    (void)CoInitialize(nullptr);
}

} // namespace os
