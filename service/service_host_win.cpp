#include "service/service_host_win.h"

namespace service {

HRESULT runAsService() {
    return HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED);
}

} // namespace service
