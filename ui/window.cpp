#include "ui/window.h"

#include "ui/colours.h"

#include <exception>
#include <stdexcept>

namespace kestro {

Window::~Window() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void Window::RegisterWindowClass(HINSTANCE instance, const wchar_t* className, HICON icon) {
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, className, &existing)) return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StaticProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = colours::ClassBackground();
    wc.lpszClassName = className;
    wc.hIcon = icon;
    wc.hIconSm = icon;
    RegisterClassExW(&wc);
}

HWND Window::CreateWindowObject(DWORD exStyle, const wchar_t* className, const wchar_t* caption, DWORD style, int x,
                                int y, int width, int height, HWND parent, HINSTANCE instance) {
    return CreateWindowExW(exStyle, className, caption, style, x, y, width, height, parent, nullptr, instance, this);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(message, wParam, lParam);
}

LRESULT CALLBACK Window::StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    LRESULT result = 0;
    try {
        result = self->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& error) {
        if (handlerErrorSink_) handlerErrorSink_(error);
    } catch (...) {
        if (handlerErrorSink_) handlerErrorSink_(std::runtime_error("Unknown error"));
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

SIZE FitLabel(HWND label) {
    wchar_t text[512] = {};
    const int length = GetWindowTextW(label, text, 512);
    SIZE extent = {0, 0};
    TEXTMETRICW metrics = {};
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    GetTextExtentPoint32W(dc, text, length, &extent);
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    const SIZE size = {extent.cx + metrics.tmAveCharWidth, extent.cy};
    SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return size;
}

}  // namespace kestro
