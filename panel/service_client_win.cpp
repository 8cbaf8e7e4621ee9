// Until the service's automation object exists on Windows there is nothing to
// reach: every call answers as for a service that is not running.

#include "panel/service_client.h"

namespace panel {

std::int32_t ServiceClient::getServiceMode() const {
    return 0;
}

void ServiceClient::setServiceMode(std::int32_t) const {}

std::optional<std::uint32_t> ServiceClient::color() const {
    return std::nullopt;
}

bool ServiceClient::setColor(std::uint32_t) const {
    return false;
}

std::optional<std::int16_t> ServiceClient::mode() const {
    return std::nullopt;
}

bool ServiceClient::setMode(std::int16_t) const {
    return false;
}

} // namespace panel
