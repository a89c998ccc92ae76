#pragma once

// Menu and dialog identifiers (host.rc).
#define IDM_HOST 100
#define IDD_FIND 101
#define IDC_FIND_TEXT 1001
#define IDM_FIND 40001
#define IDM_FIND_NEXT 40002
#define IDM_PRINT 40003
#define IDM_COPY 40004
#define IDM_SELECT_ALL 40005
#define IDM_CLOSE 40006
