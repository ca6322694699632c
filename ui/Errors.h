// Telling the user about an unexpected error: below every window and dialog,
// so any of them can report from its procedure's catch block.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

// Text for the exception being handled; call only inside a catch block.
std::wstring DescribeCurrentException();

// A message box with the program's title and the error icon.
void ShowErrorBox(HWND owner, const std::wstring& message);

} // namespace ui
