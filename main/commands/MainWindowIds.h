// The main window's ids in one place: its child controls, its two context
// menus' entries and its private messages. Here beside the commands, which
// build the menus and post the messages; the window below them hands them out.
#pragma once

#include <windows.h>

// Child window ids; also the order the layout code creates them in.
enum MainControl : int {
    IDC_MEMOINFO = 1001,
    IDC_TREEVIEWFOLDERS,
    IDC_GROUPBOX1,
    IDC_LISTVIEWMESSAGES,
    IDC_LABELFOLDERS,
    IDC_LABELMESSAGES,
    IDC_LABELABOUT,
    IDC_READINGPANE,
};

// The context menus' entries, which come back to the window as WM_COMMAND.
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

// Messages the window posts to itself.
enum MainMessage : UINT {
    // The tree ended an in-place edit: the rename's checks and their boxes run
    // once the edit is gone (FolderCommands::RenameEdited).
    WM_RENAMEEDITED = WM_APP + 1,
};
