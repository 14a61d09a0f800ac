#include "ui/jpeg_picture.h"

#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <new>
#include <utility>

#include <jpeglib.h>

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo is needed: the decoder asks it for B, G, R output (JCS_EXT_BGR)"
#endif

namespace kestro {

namespace {

// Larger pictures are refused before any buffer is made for them: a corrupt
// header could otherwise ask for gigabytes.
constexpr unsigned long long kMaxPixels = 1ull << 26;

// libjpeg reports through this: error_exit must not return, so it jumps back
// to the setjmp in RunDecoder with the message kept here.
struct ErrorManager {
    jpeg_error_mgr base;  // first, so that libjpeg's pointer to it is ours
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Everything the decoder touches lives here, in the frame of DecodeJpeg, so
// that the function holding the setjmp keeps no state of its own that a
// longjmp could leave undefined.
struct DecoderState {
    jpeg_decompress_struct info;
    ErrorManager errors;
};

void OnFatal(j_common_ptr info) {
    ErrorManager* errors = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (level -1) mean corrupt or truncated data, which libjpeg would
// otherwise paper over with grey rows: they fail the decode like errors.
// Trace messages (level 0 and up) are dropped.
void OnMessage(j_common_ptr info, int level) {
    if (level < 0) OnFatal(info);
}

// CMYK as libjpeg hands it over. Adobe's writers (and so most CMYK JPEGs)
// store the inks inverted: 255 means no ink.
void CmykRowToBgr(const JSAMPLE* cmyk, std::uint8_t* bgr, int width, bool inverted) {
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        bgr[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        bgr[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

// Where the decoder puts its rows: `make` is told the picture's size once it
// is known and gives memory for all of it (stride × height bytes, zeroed),
// or null when there is none.
struct RowSink {
    std::uint8_t* (*make)(void* context, int width, int height, std::size_t bytes);
    void* context;
};

// Only pointers that never change and no objects with destructors: a longjmp
// from libjpeg lands at the setjmp here and returns false. The caller always
// destroys the decompressor, whichever way this ends. A sink that throws
// (std::bad_alloc) throws past libjpeg-free frames only.
bool RunDecoder(DecoderState* state, const unsigned char* data, unsigned long size, RowSink sink) {
    jpeg_decompress_struct* info = &state->info;
    info->err = jpeg_std_error(&state->errors.base);
    state->errors.base.error_exit = OnFatal;
    state->errors.base.emit_message = OnMessage;
    if (setjmp(state->errors.jump)) return false;

    jpeg_create_decompress(info);
    jpeg_mem_src(info, data, size);
    jpeg_read_header(info, TRUE);
    const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(info);

    const unsigned long long pixels =
        static_cast<unsigned long long>(info->output_width) * info->output_height;
    if (info->output_width == 0 || info->output_height == 0 || pixels > kMaxPixels ||
        info->output_width > static_cast<JDIMENSION>(INT_MAX / 4)) {
        std::snprintf(state->errors.message, sizeof state->errors.message,
                      "Picture of %ux%u pixels is too large", info->output_width,
                      info->output_height);
        return false;
    }
    const int width = static_cast<int>(info->output_width);
    const int height = static_cast<int>(info->output_height);
    const std::size_t stride = DibStride(width);
    std::uint8_t* const rows = sink.make(sink.context, width, height, stride * static_cast<std::size_t>(height));
    if (!rows) {
        std::snprintf(state->errors.message, sizeof state->errors.message, "No memory for the picture's rows");
        return false;
    }

    // CMYK rows go through a row in libjpeg's own pool, freed with the decompressor.
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk) {
        cmykRow = info->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                          info->output_width * 4, 1);
    }
    while (info->output_scanline < info->output_height) {
        std::uint8_t* target = rows + info->output_scanline * stride;
        JSAMPROW row = cmyk ? cmykRow[0] : target;
        if (jpeg_read_scanlines(info, &row, 1) != 1) {
            std::snprintf(state->errors.message, sizeof state->errors.message,
                          "libjpeg gave no row %u", info->output_scanline);
            return false;
        }
        if (cmyk) CmykRowToBgr(cmykRow[0], target, width, info->saw_Adobe_marker != 0);
    }
    jpeg_finish_decompress(info);
    return true;
}

// Releases libjpeg's memory on every way out of DecodeJpeg.
class DecoderGuard {
public:
    explicit DecoderGuard(DecoderState* state) : state_(state) {}
    ~DecoderGuard() { jpeg_destroy_decompress(&state_->info); }
    DecoderGuard(const DecoderGuard&) = delete;
    DecoderGuard& operator=(const DecoderGuard&) = delete;

private:
    DecoderState* state_;
};

void SetError(std::string* error, const char* message) {
    if (error) *error = message;
}

}  // namespace

std::size_t DibStride(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
}

std::size_t DecodedImage::Stride() const { return DibStride(width); }

namespace {

// Decodes into whatever the sink gives; on failure the message is in *error.
bool DecodeInto(const void* data, std::size_t size, RowSink sink, std::string* error) {
    if (!data && size != 0) {
        SetError(error, "No JPEG data");
        return false;
    }
    if (size > ULONG_MAX) {  // libjpeg's memory source counts in unsigned long
        SetError(error, "JPEG data too large");
        return false;
    }
    // Zeroed, so that destroying it is safe even if creating it failed.
    DecoderState state{};
    bool decoded = false;
    {
        DecoderGuard guard(&state);
        try {
            decoded = RunDecoder(&state, static_cast<const unsigned char*>(data),
                                 static_cast<unsigned long>(size), sink);
        } catch (const std::bad_alloc&) {
            std::snprintf(state.errors.message, sizeof state.errors.message,
                          "Not enough memory for the picture");
        }
    }
    if (!decoded) {
        SetError(error, state.errors.message[0] ? state.errors.message : "JPEG decoding failed");
        return false;
    }
    return true;
}

std::uint8_t* MakeImageRows(void* context, int width, int height, std::size_t bytes) {
    DecodedImage* image = static_cast<DecodedImage*>(context);
    image->width = width;
    image->height = height;
    image->bgr.assign(bytes, 0);
    return image->bgr.data();
}

}  // namespace

bool DecodeJpeg(const void* data, std::size_t size, DecodedImage* out, std::string* error) {
    if (!out) {
        SetError(error, "No place for the decoded picture");
        return false;
    }
    DecodedImage image;
    if (!DecodeInto(data, size, {MakeImageRows, &image}, error)) return false;
    *out = std::move(image);
    return true;
}

#ifdef _WIN32

namespace {

std::string WithSystemError(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

// The rows go straight into the bitmap's own memory: no second copy of the
// picture is ever made.
struct BitmapRows {
    HBITMAP bitmap = nullptr;
    DWORD failure = 0;
};

std::uint8_t* MakeBitmapRows(void* context, int width, int height, std::size_t) {
    BitmapRows* target = static_cast<BitmapRows*>(context);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: rows top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    target->bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (target->bitmap && bits) return static_cast<std::uint8_t*>(bits);  // a new section is zeroed
    target->failure = GetLastError();
    if (target->bitmap) DeleteObject(target->bitmap);
    target->bitmap = nullptr;
    return nullptr;
}

}  // namespace

HBITMAP CreateBitmapFromJpeg(const void* data, std::size_t size, std::string* error) {
    BitmapRows target;
    if (DecodeInto(data, size, {MakeBitmapRows, &target}, error)) return target.bitmap;
    if (target.bitmap) DeleteObject(target.bitmap);
    if (target.failure && error) {
        SetLastError(target.failure);
        *error = WithSystemError("CreateDIBSection failed");
    }
    return nullptr;
}

HBITMAP LoadJpegResource(HINSTANCE instance, int resourceId, std::string* error) {
    // RT_RCDATA, spelled wide whatever UNICODE says.
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10));
    if (!found) {
        if (error) *error = WithSystemError(("No RCDATA resource " + std::to_string(resourceId)).c_str());
        return nullptr;
    }
    const DWORD size = SizeofResource(instance, found);
    HGLOBAL loaded = LoadResource(instance, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data || size == 0) {
        if (error) *error = WithSystemError(("Cannot load resource " + std::to_string(resourceId)).c_str());
        return nullptr;
    }
    // Resources stay mapped with their module: nothing to free.
    return CreateBitmapFromJpeg(data, size, error);
}

#endif  // _WIN32

}  // namespace kestro
