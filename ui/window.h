// A window object behind each HWND, and owners for the handles a window
// keeps.
#pragma once

#include <windows.h>

#include <exception>
#include <utility>

namespace kestro {

// Owns one GDI object (font, bitmap, brush): deleted with its owner.
template <typename Handle>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(Handle handle) : handle_(handle) {}
    GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    GdiObject& operator=(GdiObject&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    ~GdiObject() { Reset(); }

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(Handle handle = nullptr) {
        if (handle_) DeleteObject(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = nullptr;
};

// The base of every window of the program: the window procedure finds the
// object through the pointer stored at WM_NCCREATE and forwards to it. No
// C++ exception crosses back into user32: what a handler lets escape is
// shown in the application's error box.
class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND Hwnd() const { return hwnd_; }

    // Where what a handler lets escape is shown: the application's error
    // box, set by the application itself (this file knows no application).
    static void SetHandlerErrorSink(void (*sink)(const std::exception&)) { handlerErrorSink_ = sink; }

protected:
    // Registers the class once (the system's window colour, arrow cursor).
    static void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, HICON icon);
    HWND CreateWindowObject(DWORD exStyle, const wchar_t* className, const wchar_t* caption, DWORD style, int x,
                            int y, int width, int height, HWND parent, HINSTANCE instance);

    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }

private:
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    static inline void (*handlerErrorSink_)(const std::exception&) = nullptr;
};

// Sizes a label to its text on one line, measured in the label's own DC
// with its own font, plus the room of one average character: hinted glyphs
// can draw wider than the measure says (Wine's do), and a label must never
// cut its last letter. Returns the new size.
SIZE FitLabel(HWND label);

}  // namespace kestro
