// Template and control ids of the find box, shared by FindBox.rc and the code.
#pragma once

#define IDD_FINDBOX 600
#define IDC_FINDTEXT 601
#define IDC_FINDPREVIOUS 602
#define IDC_FINDSTATUS 603
