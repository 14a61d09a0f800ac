#include "core/stamp.h"

#include "core/localized.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#include <ntsecapi.h>  // RtlGenRandom, advapi32's SystemFunction036
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#endif

namespace kestro {

namespace {

std::string TimeText(int year, int month, int day, int hour, int minute, int second) {
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}

}  // namespace

#ifdef _WIN32

bool RandomBytes(void* out, std::size_t size, std::string* error) {
    if (RtlGenRandom(out, static_cast<ULONG>(size))) return true;
    *error = Localized("the system gave no random bytes (error %1)", GetLastError());
    return false;
}

std::string UtcTimeText() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return TimeText(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

#else

bool RandomBytes(void* out, std::size_t size, std::string* error) {
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::string("/dev/urandom: ") + std::strerror(errno);
        return false;
    }
    auto* at = static_cast<unsigned char*>(out);
    std::size_t left = size;
    while (left > 0) {
        const ssize_t got = read(fd, at, left);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            *error = std::string("/dev/urandom: ") +
                     (got < 0 ? std::string(std::strerror(errno)) : Localized("no bytes"));
            close(fd);
            return false;
        }
        at += got;
        left -= static_cast<std::size_t>(got);
    }
    close(fd);
    return true;
}

std::string UtcTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    return TimeText(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
}

#endif

}  // namespace kestro
