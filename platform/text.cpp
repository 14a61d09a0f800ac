#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestro {

#ifdef _WIN32

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], length);
    return out;
}

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
    return out;
}

#else

std::wstring FromAnsi(const std::string& text) {
    std::wstring out;
    for (unsigned char c : text) out += static_cast<wchar_t>(c);
    return out;
}

std::string ToAnsi(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 256 ? static_cast<char>(c) : '?';
    return out;
}

#endif

}  // namespace kestro
