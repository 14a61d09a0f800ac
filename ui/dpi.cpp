#include "ui/dpi.h"

namespace kestro::dpi {

namespace {

// user32's functions of Windows 10 1607, when this user32 has them.
struct NewerUser32 {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    using MetricForDpiFn = int(WINAPI*)(int, UINT);
    GetDpiForWindowFn getDpiForWindow = nullptr;
    AdjustForDpiFn adjustWindowRectExForDpi = nullptr;
    MetricForDpiFn getSystemMetricsForDpi = nullptr;

    NewerUser32() {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        if (!user32) return;
        getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
            reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
        adjustWindowRectExForDpi = reinterpret_cast<AdjustForDpiFn>(
            reinterpret_cast<void*>(GetProcAddress(user32, "AdjustWindowRectExForDpi")));
        getSystemMetricsForDpi = reinterpret_cast<MetricForDpiFn>(
            reinterpret_cast<void*>(GetProcAddress(user32, "GetSystemMetricsForDpi")));
    }
};

const NewerUser32& Newer() {
    static const NewerUser32 functions;
    return functions;
}

struct FaceSearch {
    const wchar_t* face;
    bool found;
};

int CALLBACK NoteTrueTypeFace(const LOGFONTW*, const TEXTMETRICW*, DWORD type, LPARAM lParam) {
    if (type & TRUETYPE_FONTTYPE) {
        reinterpret_cast<FaceSearch*>(lParam)->found = true;
        return 0;
    }
    return 1;
}

// Whether the system has `face` as a TrueType font with Cyrillic letters.
bool HasCyrillicTrueType(HDC dc, const wchar_t* face) {
    LOGFONTW wanted = {};
    wanted.lfCharSet = RUSSIAN_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    FaceSearch search = {face, false};
    EnumFontFamiliesExW(dc, &wanted, NoteTrueTypeFace, reinterpret_cast<LPARAM>(&search), 0);
    return search.found;
}

}  // namespace

int OfSystem() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kDesign;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDesign;
}

int OfWindow(HWND window) {
    if (window && Newer().getDpiForWindow) {
        const UINT dpi = Newer().getDpiForWindow(window);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return OfSystem();
}

void AdjustWindowRect(RECT* rect, DWORD style, DWORD exStyle, int dpi) {
    if (Newer().adjustWindowRectExForDpi &&
        Newer().adjustWindowRectExForDpi(rect, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        return;
    AdjustWindowRectEx(rect, style, FALSE, exStyle);
}

int SystemMetric(int index, int dpi) {
    if (Newer().getSystemMetricsForDpi) return Newer().getSystemMetricsForDpi(index, static_cast<UINT>(dpi));
    return GetSystemMetrics(index);
}

RECT WorkAreaAt(POINT point) {
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST);
    if (monitor && GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

const wchar_t* UiFace() {
    // The fonts a system has do not change while the program runs.
    static const wchar_t* face = [] {
        const wchar_t* candidates[] = {L"Tahoma", L"Segoe UI", L"Microsoft Sans Serif"};
        const wchar_t* chosen = L"MS Shell Dlg 2";
        HDC screen = GetDC(nullptr);
        for (const wchar_t* candidate : candidates)
            if (screen && HasCyrillicTrueType(screen, candidate)) {
                chosen = candidate;
                break;
            }
        if (screen) ReleaseDC(nullptr, screen);
        return chosen;
    }();
    return face;
}

HFONT MakeUiFont(int dpi, int weight, BYTE charset, int points) {
    LOGFONTW lf = {};
    lf.lfHeight = -MulDiv(points, dpi, 72);
    lf.lfWeight = weight;
    lf.lfCharSet = charset;
    lf.lfOutPrecision = OUT_TT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    lstrcpynW(lf.lfFaceName, UiFace(), LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

HBITMAP StretchBitmap(HBITMAP source, int width, int height, bool smooth) {
    BITMAP info = {};
    if (!source || !GetObjectW(source, sizeof info, &info) || width <= 0 || height <= 0) return nullptr;
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = -height;  // top-down
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 24;
    header.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP target = CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!target) return nullptr;
    HDC from = CreateCompatibleDC(nullptr);
    HDC to = CreateCompatibleDC(nullptr);
    bool done = false;
    if (from && to) {
        HGDIOBJ oldFrom = SelectObject(from, source);
        HGDIOBJ oldTo = SelectObject(to, target);
        SetStretchBltMode(to, smooth ? HALFTONE : COLORONCOLOR);
        SetBrushOrgEx(to, 0, 0, nullptr);  // as HALFTONE asks
        done = StretchBlt(to, 0, 0, width, height, from, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY) != FALSE;
        SelectObject(to, oldTo);
        SelectObject(from, oldFrom);
    }
    if (to) DeleteDC(to);
    if (from) DeleteDC(from);
    if (!done) {
        DeleteObject(target);
        return nullptr;
    }
    return target;
}

}  // namespace kestro::dpi
