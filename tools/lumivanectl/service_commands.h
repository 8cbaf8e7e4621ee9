#pragma once

// lumivanectl mode [off|music|temperature|N], color [VALUE], status: the lighting
// service's automation interface, through the panel's client of it.

namespace lumivanectl {

struct Invocation;

int serviceMode(const Invocation& call);
int serviceColor(const Invocation& call);
int serviceStatus(const Invocation& call);

} // namespace lumivanectl
