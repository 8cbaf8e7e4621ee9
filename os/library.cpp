#include "os/library.h"

namespace os {

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

} // namespace os
