#include "Errors.h"

#include "Text.h"

#include <exception>
#include <new>

namespace ui {

std::wstring DescribeCurrentException() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return L"Out of memory.";
    } catch (const std::exception& error) {
        std::wstring text = FromAnsi(error.what());
        return text.empty() ? L"Unexpected error." : text;
    } catch (...) {
        return L"Unexpected error.";
    }
}

void ShowErrorBox(HWND owner, const std::wstring& message) {
    MessageBoxW(owner, message.c_str(), L"Brisvander", MB_OK | MB_ICONERROR);
}

} // namespace ui
