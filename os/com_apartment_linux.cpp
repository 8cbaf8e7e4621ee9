#include "os/com_apartment.h"

namespace os {

ComApartment::ComApartment(Kind) {}

ComApartment::~ComApartment() = default;

void ComApartment::enterForThread() {}

} // namespace os
