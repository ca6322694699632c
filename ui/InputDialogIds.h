// Ids of the input box's template, shared by its script and code.
#pragma once

#define IDD_INPUTDIALOG 300
#define IDC_INPUTDIALOG_PROMPT 301
#define IDC_INPUTDIALOG_VALUE 100
