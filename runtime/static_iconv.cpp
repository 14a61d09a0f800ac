// iconv for the statically linked kestroctl, in place of the C library's.
//
// hivex converts key and value names through iconv between UTF-8, LATIN1
// and UTF-16LE. A static glibc finds LATIN1 only among its gconv modules,
// which it loads from the rescue system's /usr/lib at run time: in a system
// without them (an empty chroot, another distribution's layout) every name
// fails to convert, and every key reads as damaged. These three conversions
// are all hivex asks for, so the static build carries them itself; linked
// into it, these definitions stand in for the C library's. The dynamically
// linked kestroctl uses the C library's own.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

enum class Code { Utf8, Latin1, Utf16Le };

struct Converter {
    Code from, to;
};

bool CodeOf(const char* name, Code* code) {
    if (!strcasecmp(name, "UTF-8") || !strcasecmp(name, "UTF8")) *code = Code::Utf8;
    else if (!strcasecmp(name, "LATIN1") || !strcasecmp(name, "ISO-8859-1") || !strcasecmp(name, "ISO8859-1"))
        *code = Code::Latin1;
    else if (!strcasecmp(name, "UTF-16LE") || !strcasecmp(name, "UTF16LE")) *code = Code::Utf16Le;
    else return false;
    return true;
}

// One character from `in`: its code point and the bytes it took; 0 bytes
// with errno EILSEQ (malformed) or EINVAL (cut short at the end).
std::size_t Decode(Code code, const unsigned char* in, std::size_t left, char32_t* cp) {
    switch (code) {
        case Code::Latin1:
            *cp = in[0];
            return 1;
        case Code::Utf16Le: {
            if (left < 2) return errno = EINVAL, 0;
            char32_t unit = in[0] | (in[1] << 8);
            if (unit >= 0xDC00 && unit <= 0xDFFF) return errno = EILSEQ, 0;
            if (unit < 0xD800 || unit > 0xDBFF) return *cp = unit, 2;
            if (left < 4) return errno = EINVAL, 0;
            char32_t low = in[2] | (in[3] << 8);
            if (low < 0xDC00 || low > 0xDFFF) return errno = EILSEQ, 0;
            *cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            return 4;
        }
        case Code::Utf8: {
            const unsigned char lead = in[0];
            std::size_t size = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
            if (size == 0) return errno = EILSEQ, 0;
            if (left < size) return errno = EINVAL, 0;
            char32_t value = size == 1 ? lead : lead & (0x7F >> size);
            for (std::size_t i = 1; i < size; ++i) {
                if ((in[i] & 0xC0) != 0x80) return errno = EILSEQ, 0;
                value = (value << 6) | (in[i] & 0x3F);
            }
            // Overlong forms, surrogates and what lies past U+10FFFF.
            static const char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
            if (value < kLeast[size] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
                return errno = EILSEQ, 0;
            *cp = value;
            return size;
        }
    }
    return errno = EILSEQ, 0;
}

// The bytes of `cp` in `code` into `out`; 0 with errno EILSEQ (no such
// character there).
std::size_t Encode(Code code, char32_t cp, unsigned char* out) {
    switch (code) {
        case Code::Latin1:
            if (cp > 0xFF) return errno = EILSEQ, 0;
            out[0] = static_cast<unsigned char>(cp);
            return 1;
        case Code::Utf16Le:
            if (cp < 0x10000) {
                out[0] = cp & 0xFF;
                out[1] = (cp >> 8) & 0xFF;
                return 2;
            } else {
                const char32_t v = cp - 0x10000, high = 0xD800 + (v >> 10), low = 0xDC00 + (v & 0x3FF);
                out[0] = high & 0xFF;
                out[1] = high >> 8;
                out[2] = low & 0xFF;
                out[3] = low >> 8;
                return 4;
            }
        case Code::Utf8:
            if (cp < 0x80) return out[0] = static_cast<unsigned char>(cp), 1;
            if (cp < 0x800) {
                out[0] = 0xC0 | (cp >> 6);
                out[1] = 0x80 | (cp & 0x3F);
                return 2;
            }
            if (cp < 0x10000) {
                out[0] = 0xE0 | (cp >> 12);
                out[1] = 0x80 | ((cp >> 6) & 0x3F);
                out[2] = 0x80 | (cp & 0x3F);
                return 3;
            }
            out[0] = 0xF0 | (cp >> 18);
            out[1] = 0x80 | ((cp >> 12) & 0x3F);
            out[2] = 0x80 | ((cp >> 6) & 0x3F);
            out[3] = 0x80 | (cp & 0x3F);
            return 4;
    }
    return errno = EILSEQ, 0;
}

}  // namespace

extern "C" {

typedef void* iconv_t;

iconv_t iconv_open(const char* to, const char* from) {
    Code t, f;
    if (!CodeOf(to, &t) || !CodeOf(from, &f)) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    Converter* converter = static_cast<Converter*>(std::malloc(sizeof(Converter)));
    if (!converter) {
        errno = ENOMEM;
        return reinterpret_cast<iconv_t>(-1);
    }
    converter->from = f;
    converter->to = t;
    return converter;
}

// As POSIX says: converts what it can, advancing both buffers past each
// whole character; -1 with EILSEQ, EINVAL (input cut short) or E2BIG. These
// encodings keep no state, so a call without input does nothing.
std::size_t iconv(iconv_t cd, char** inbuf, std::size_t* inleft, char** outbuf, std::size_t* outleft) {
    const Converter* converter = static_cast<const Converter*>(cd);
    if (!inbuf || !*inbuf) return 0;
    while (*inleft > 0) {
        char32_t cp = 0;
        const std::size_t used = Decode(converter->from, reinterpret_cast<const unsigned char*>(*inbuf), *inleft, &cp);
        if (used == 0) return static_cast<std::size_t>(-1);
        unsigned char bytes[4];
        const std::size_t made = Encode(converter->to, cp, bytes);
        if (made == 0) return static_cast<std::size_t>(-1);
        if (made > *outleft) {
            errno = E2BIG;
            return static_cast<std::size_t>(-1);
        }
        std::memcpy(*outbuf, bytes, made);
        *outbuf += made;
        *outleft -= made;
        *inbuf += used;
        *inleft -= used;
    }
    return 0;
}

int iconv_close(iconv_t cd) {
    std::free(cd);
    return 0;
}

}  // extern "C"
