// Text in every form the program meets it: the system's 8-bit texts
// (registry strings, paths, error messages), UTF-8 (the engine's own, the
// profiles and the names hivex speaks), UTF-16 (the registry's, the
// window's, the .reg and Registry.pol files') and UTF-16LE bytes. Every
// conversion between them is here, so that a fault in one is a fault
// everywhere and is fixed once.
//
// One rule for what has no form in the other encoding: the lenient
// conversions put U+FFFD in its place (a malformed UTF-8 sequence, a lone
// surrogate); the strict ones refuse the whole text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestro {

// Through the system's ANSI code page on Windows; off Windows, bytes as
// Latin-1, which is all the tests need.
std::wstring FromAnsi(const std::string& text);
std::string ToAnsi(const std::wstring& text);
// Whether the text goes into the ANSI code page and back unchanged: no
// letter is replaced, not even by a look-alike (no best fit), since a
// look-alike letter in a path names another file.
bool FitsAnsiCodePage(const std::wstring& text);

// ---- lenient: what cannot be read becomes U+FFFD ----
// (wchar_t is UTF-16 on Windows, UTF-32 elsewhere.)
std::u16string Utf8ToUtf16(const std::string& text);
std::wstring Utf8ToWide(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
std::string WideToUtf8(const std::wstring& text);

// Appends one code point as UTF-8; a surrogate, or a number past U+10FFFF,
// has no UTF-8 form and is written as U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

// One code point of UTF-8 at text[i]. True when it is well formed, with *cp;
// *length is how many bytes it took, or for a malformed sequence how many
// belong to it (its lead byte and the continuation bytes that follow, up to
// as many as the lead announced), never 0: that is what one U+FFFD replaces.
bool DecodeUtf8At(const std::string& text, std::size_t i, char32_t* cp, std::size_t* length);

// ---- strict: for files and arguments that must say exactly what they mean ----
// Overlong forms, encoded surrogates, code points past U+10FFFF and cut-short
// sequences are all malformed.
bool IsValidUtf8(const std::string& text);
// Both throw std::invalid_argument on malformed input: a bad UTF-8 sequence,
// an unpaired surrogate.
std::u16string StrictUtf8ToUtf16(const std::string& text);
std::string StrictUtf16ToUtf8(const std::u16string& text);

// UTF-16 units as wchar_t: the same units on Windows; where wchar_t is wider,
// a surrogate pair becomes one character and a lone surrogate stays as it is.
std::wstring Utf16ToWide(const std::u16string& text);

// ---- UTF-16LE bytes, as the registry and the export files hold texts ----
// No terminator is added or removed. An odd last byte is no character and is
// dropped, as Windows' own size conversions drop it.
std::u16string Utf16FromLeBytes(const std::uint8_t* bytes, std::size_t size);
std::u16string Utf16FromLeBytes(const std::vector<std::uint8_t>& bytes);
void AppendUtf16Le(std::vector<std::uint8_t>& out, const std::u16string& text);
std::vector<std::uint8_t> Utf16LeBytes(const std::u16string& text);

// ---- ASCII case ----
// Registry names, and the names in the files that carry registry values,
// compare without regard to case. Only ASCII letters fold, as hivex folds
// them; that covers every name the program itself uses. The comparison
// orders as if both texts were lower case.
int CompareAsciiNoCase(const std::string& a, const std::string& b);
bool SameAsciiNoCase(const std::string& a, const std::string& b);
bool SameAsciiNoCase(const std::u16string& a, const std::u16string& b);
std::string AsciiUpper(std::string text);
std::string AsciiLower(std::string text);

// ---- file names on NTFS ----
// NTFS matches a file name by upper-casing each UTF-16 unit through its
// volume's $UpCase table and comparing the units; a Russian machine's
// "Администратор" is "АДМИНИСТРАТОР" to Windows. The table here is Unicode's
// simple upper case of the Basic Multilingual Plane, which is what the
// tables Windows writes hold for every living alphabet (Latin, Greek,
// Cyrillic, Armenian, ...). Left out, as Windows leaves them out: dotless ı
// and long ſ, which would otherwise meet ASCII I and S, and the Georgian
// and Cherokee capitals that Unicode added after the tables were made.
// Units outside the table, and surrogates, stay as they are.
char16_t NtfsUpcase(char16_t unit);
// UTF-8 names (a malformed sequence is compared as U+FFFD).
std::u16string NtfsUpcase(const std::string& utf8);
bool SameNtfsName(const std::string& a, const std::string& b);

}  // namespace kestro
