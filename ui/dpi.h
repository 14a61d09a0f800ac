// Pixels per inch: the windows are laid out at 96 DPI and scaled to the
// DPI of the monitor they are on. Anything newer than Windows XP is looked
// up in user32 at run time, so that the program still loads on XP, where
// the DPI is the system's (GetDeviceCaps LOGPIXELSY) and never changes
// while it runs.
#pragma once

#include "ui/placement.h"

#include <windows.h>

namespace kestro::dpi {

constexpr int kDesign = 96;

inline int Scale(int pixels, int dpi) { return ScaleForDpi(pixels, dpi); }

// The DPI of the window's monitor: GetDpiForWindow where user32 has it
// (Windows 10 1607 and later), the screen's LOGPIXELSY otherwise.
int OfWindow(HWND window);
// The system's DPI: the screen's LOGPIXELSY.
int OfSystem();

// AdjustWindowRectEx at `dpi`: AdjustWindowRectExForDpi where user32 has
// it, AdjustWindowRectEx (the system's DPI) otherwise.
void AdjustWindowRect(RECT* rect, DWORD style, DWORD exStyle, int dpi);
// GetSystemMetricsForDpi where user32 has it, GetSystemMetrics otherwise.
int SystemMetric(int index, int dpi);

// The work area of the monitor nearest to the point (screen coordinates):
// GetMonitorInfo, or SPI_GETWORKAREA where there is no monitor API.
RECT WorkAreaAt(POINT point);

// The face of the windows' text: the first of Tahoma, Segoe UI and
// Microsoft Sans Serif that the system has as a TrueType font with
// Cyrillic; "MS Shell Dlg 2" (the system's dialog face) when none is.
const wchar_t* UiFace();
// The windows' font at `points` points for `dpi`: UiFace(), quality as the
// system's smoothing says. The caller owns it (DeleteObject).
HFONT MakeUiFont(int dpi, int weight = FW_NORMAL, BYTE charset = DEFAULT_CHARSET, int points = 8);

// A new 24-bit DIB section holding `source` stretched to width x height:
// smoothly (HALFTONE) for pictures, pixel by pixel (COLORONCOLOR) for
// glyphs, whose mask colour must not blend into their edges. Null when it
// cannot be made; the caller owns it.
HBITMAP StretchBitmap(HBITMAP source, int width, int height, bool smooth);

}  // namespace kestro::dpi
