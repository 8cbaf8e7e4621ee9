#include "service/light_control_object_linux.h"

#include "os/diagnostics.h"
#include "service/service_identity.h"

#include <exception>
#include <string>

namespace service {
namespace {

// sdbus-c++ turns only sdbus::Error into an error reply: anything else a member
// throws unwinds through the bus library's C frames and ends the process (and, with
// the mode stored and the unit restarting on failure, again at every start). Every
// member runs in here, so that a failure of ours (memory, a thread that would not
// start) is the call's error and the service goes on.
void report(const char* member, const char* what) noexcept {
    try {
        os::logEvent(kServiceName, std::string(member) + " failed: " + what);
    } catch (...) {
        // Out of memory even for the message: the error reply says it.
    }
}

template <typename Call>
auto fenced(const char* member, Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const sdbus::Error&) {
        throw;
    } catch (const std::exception& e) {
        report(member, e.what());
        throw sdbus::Error(LightControlObject::kFailedError, std::string(member) + ": " + e.what());
    } catch (...) {
        report(member, "unknown exception");
        throw sdbus::Error(LightControlObject::kFailedError, member);
    }
}

} // namespace

LightControlObject::LightControlObject(sdbus::IConnection& connection, LightControl control)
    : AdaptorInterfaces(connection, kObjectPath), control_(control) {
    registerAdaptor();
}

LightControlObject::~LightControlObject() {
    unregisterAdaptor();
}

void LightControlObject::Start() {
    fenced("Start", [&] { control_.start(); });
}

void LightControlObject::Stop() {
    fenced("Stop", [&] { control_.stop(); });
}

// The generated setters announce nothing themselves; a client watching the panel's
// state hears of a change only from here.
std::uint32_t LightControlObject::Color() {
    return fenced("Color", [&] { return control_.color(); });
}

void LightControlObject::Color(const std::uint32_t& value) {
    fenced("Color", [&] {
        const std::uint32_t before = control_.color();
        control_.setColor(value);
        if (control_.color() != before)
            changed("Color");
    });
}

std::int16_t LightControlObject::Mode() {
    return fenced("Mode", [&] { return control_.mode(); });
}

void LightControlObject::Mode(const std::int16_t& value) {
    fenced("Mode", [&] {
        const std::int16_t before = control_.mode();
        control_.setMode(value);
        if (control_.mode() != before)
            changed("Mode");
    });
}

std::int16_t LightControlObject::Checked() {
    return fenced("Checked", [&] { return control_.checked(); });
}

void LightControlObject::Checked(const std::int16_t& value) {
    fenced("Checked", [&] { control_.setChecked(value); });
}

void LightControlObject::changed(const std::string& property) {
    getObject().emitPropertiesChangedSignal(INTERFACE_NAME, {property});
}

} // namespace service
