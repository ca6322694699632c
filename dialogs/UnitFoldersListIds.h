// Ids of the folder selection dialog's template, shared by its script and code.
#pragma once

#define IDD_FOLDERSLIST 200
#define IDC_FOLDERSLIST_TREE 201
