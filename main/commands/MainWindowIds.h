// Command ids of the main window's two context menus' entries.
#pragma once

#include <windows.h>

enum MainCommand : UINT {
    IDM_CREATESUBFOLDER1 = 40001,
    IDM_RENAME1,
    IDM_DELETE1,
    IDM_MOVE1,
    IDM_MARKASREAD1 = 40101,
    IDM_MARKASUNREAD1,
    IDM_MOVETOFOLDER1,
    IDM_COPYTOFOLDER1,
    IDM_DELETE2,
    IDM_SAVETOFILE1,
    IDM_PROPERTIES1,
};
