#pragma once

// The string table of Lumivane.exe, shared by its resource script and its code.

#define IDS_SERVICE_NAME 100
#define IDS_CANNOT_OPEN_SERVICE_MANAGER 101
#define IDS_CANNOT_OPEN_SERVICE 102
#define IDS_CANNOT_STOP_SERVICE 103
#define IDS_CANNOT_DELETE_SERVICE 104
#define IDS_CANNOT_START_SERVICE 105
