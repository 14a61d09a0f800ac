// JPEG pictures (the banner) decoded with libjpeg into 24-bit DIB rows.
// The decoder is portable; turning the rows into a GDI bitmap is Windows-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestro {

// A decoded picture laid out as a 24-bit DIB wants it: rows top-down, three
// bytes per pixel in the order B, G, R, each row padded with zeros to a
// multiple of four bytes.
struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;

    std::size_t Stride() const;  // bytes per row, padding included
};

// Bytes per row of a 24-bit DIB of the given width.
std::size_t DibStride(int width);

// Decodes a whole JPEG held in memory. Colour, grayscale and CMYK pictures all
// come out as B, G, R. Anything libjpeg objects to, a warning about corrupt or
// truncated data included, makes it return false with libjpeg's message in
// *error (when error is not null) and leaves *out unchanged.
bool DecodeJpeg(const void* data, std::size_t size, DecodedImage* out, std::string* error);

#ifdef _WIN32
// A 24-bit top-down DIB section holding the decoded picture, or null with the
// reason in *error. The caller owns the bitmap (DeleteObject).
HBITMAP CreateBitmapFromJpeg(const void* data, std::size_t size, std::string* error);

// The same for a JPEG stored as an RCDATA resource of the given module.
HBITMAP LoadJpegResource(HINSTANCE instance, int resourceId, std::string* error);
#endif

}  // namespace kestro
