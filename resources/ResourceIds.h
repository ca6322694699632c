// Resource ids shared by the .rc script and the code.
#pragma once

#define IDI_BRISVANDER 1
#define IDB_FOLDERS 101
#define IDB_MESSAGES 102
#define IDB_ABOUT 103
