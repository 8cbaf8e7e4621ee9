#include "panel/panel_resources.h"

#include <QtGlobal>

void initPanelResources() {
    Q_INIT_RESOURCE(viruv);
}
