// Identifiers of the module's resources, shared by the resource script and the code.
#pragma once

#define IDD_PROGRESS 101
#define IDC_PROGRESS_TEXT 1001
#define IDC_PROGRESS_BAR 1002
#define IDC_PROGRESS_STATUS 1003
