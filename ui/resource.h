// Resource identifiers of ConfigTool.exe, shared by the resource script and the dialog code.
#ifndef CONFIGTOOL_UI_RESOURCE_H
#define CONFIGTOOL_UI_RESOURCE_H

#define IDD_CONFIG 101
#define IDI_APP 102

#define IDC_FORCE_GUESTONLY 1000
#define IDC_CONNECT_APP 1001
#define IDC_RUN_ON_CONNECT 1002
#define IDC_DISCONNECT_APP 1005
#define IDC_RUN_ON_DISCONNECT 1006

#endif
