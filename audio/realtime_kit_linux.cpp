#include "audio/realtime_kit_linux.h"

#include "dbus/realtime_kit_proxy.h"

#include <sys/resource.h>
#include <unistd.h>

namespace service {
namespace {

constexpr rlim_t kRealtimeBudgetUsec = 200000;

class RealtimeKit final : public sdbus::ProxyInterfaces<org::freedesktop::RealtimeKit1_proxy> {
public:
    explicit RealtimeKit(sdbus::IConnection& connection)
        : ProxyInterfaces(connection, "org.freedesktop.RealtimeKit1",
                          "/org/freedesktop/RealtimeKit1") {
        registerProxy();
    }
    ~RealtimeKit() { unregisterProxy(); }
};

} // namespace

bool requestRealtime(std::uint32_t priority, std::string& why) {
    rlimit budget{};
    if (getrlimit(RLIMIT_RTTIME, &budget) == 0 &&
        (budget.rlim_max == RLIM_INFINITY || budget.rlim_max > kRealtimeBudgetUsec)) {
        budget.rlim_cur = budget.rlim_max = kRealtimeBudgetUsec;
        setrlimit(RLIMIT_RTTIME, &budget);
    }
    try {
        const auto bus = sdbus::createSystemBusConnection();
        RealtimeKit kit(*bus);
        kit.MakeThreadRealtime(std::uint64_t(gettid()), priority);
        return true;
    } catch (const sdbus::Error& error) {
        why = error.getMessage();
        return false;
    }
}

} // namespace service
