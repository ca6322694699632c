// Base for a class that owns one window: the class's objects receive their
// window's messages through HandleMessage, and nothing a handler throws leaves
// the window procedure.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

class Window {
  public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Hwnd() const { return hwnd_; }
    // The object behind a window created with CreateWindowFor, or null.
    static Window* FromHandle(HWND hwnd);

  protected:
    Window() = default;
    // A derived class destroys its window in its own destructor: by the time
    // this one runs its handlers are gone, so the window is detached first.
    virtual ~Window();

    // Registers a class whose procedure is StaticProc; a second call is a no-op.
    static bool RegisterWindowClass(WNDCLASSEXW windowClass);
    // Creates the window with this object attached from its first message on.
    HWND CreateWindowFor(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                         int x, int y, int width, int height, HWND parent, HMENU menu,
                         HINSTANCE instance);

    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Called with the text of an exception a handler let out.
    virtual void ReportError(const std::wstring& message);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }

    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
};

} // namespace ui
