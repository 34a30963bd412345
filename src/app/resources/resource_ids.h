// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDI_APPLICATION_ICON 101
#define IDS_PRIVILEGE_MESSAGE 102
#define IDS_PRIVILEGE_CAPTION 103
