#include "service/service_control.h"

#include "service/service_identity.h"

namespace service {

ControlAction controlAction(std::uint32_t control) {
    if (control == 1)
        return ControlAction::Stop;
    if (control >= 2 && control <= 5)
        return ControlAction::Ignore;
    return ControlAction::BadRequest;
}

std::string eventText(std::string_view text) {
    return std::string(text.substr(0, kEventTextLimit));
}

void ServiceLifecycle::enter(ServiceState state) {
    state_ = state;
    if (outputs_.report)
        outputs_.report(state_, exitCode_);
}

void ServiceLifecycle::starting() {
    exitCode_ = 0;
    enter(ServiceState::StartPending);
}

void ServiceLifecycle::running() {
    if (state_ != ServiceState::StartPending)
        return;
    if (outputs_.event)
        outputs_.event(eventText(kEventStarted));
    enter(ServiceState::Running);
}

void ServiceLifecycle::stopping() {
    enter(ServiceState::StopPending);
}

void ServiceLifecycle::stopped(std::uint32_t exitCode) {
    exitCode_ = exitCode;
    enter(ServiceState::Stopped);
    if (outputs_.event)
        outputs_.event(eventText(kEventStopped));
}

void ServiceLifecycle::badRequest() {
    if (outputs_.event)
        outputs_.event(eventText(kEventBadRequest));
}

} // namespace service
