#pragma once

// Registers the panel's images (":/viruv/Resources/...") with Qt's resource system. The
// bundle is compiled into a static library, whose registration the linker would drop:
// every program that shows a panel widget calls this once, before the first widget.
void initPanelResources();
