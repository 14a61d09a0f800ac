// .reg files as regedit and `reg import` read them: "Windows Registry Editor
// Version 5.00", UTF-16LE with a byte-order mark, CRLF line ends, full root
// names, REG_DWORD as dword:xxxxxxxx and REG_SZ as quoted text with \\ and
// \" escaped. Only those two types are written or read.
#pragma once

#include "formats/reg_value.h"
#include "formats/values.h"

#include <cstdint>
#include <vector>

namespace kestro {

// The file's bytes, values in export order (SortedForExport). Throws
// FormatError for a value the reader below would refuse (another type,
// a line break in a text, a key path too long), so nothing written is
// unreadable.
std::vector<std::uint8_t> WriteRegFile(const std::vector<RegValue>& values);

// Every value in the file, in file order. Strict: a missing byte-order mark
// or header, a line it does not understand, a key deletion, a value type
// other than text or dword, a last line without its line end (a file cut
// short), anything past the limits of formats/layout.h
// throws FormatError naming the line (or, for a file cut inside a character,
// the byte offset). With `lines`, it also gets each value's line number,
// for messages about a value that reads but is not wanted.
std::vector<RegValue> ReadRegFile(const std::vector<std::uint8_t>& bytes,
                                  std::vector<std::size_t>* lines = nullptr);

// One change a .reg file makes, as regedit imports it: the way back of a
// command (an undo file) is a .reg file of these.
struct RegEdit {
    enum class Kind {
        Key,          // [KEY]: the key, made when missing
        Value,        // "Name"=...: set
        DeleteValue,  // "Name"=-
        DeleteKey,    // [-KEY]: the key and everything below it
    };
    Kind kind = Kind::Value;
    RegValue value;    // Key and DeleteKey: root and keyPath only
    bool raw = false;  // Value: written as hex(n): bytes, which any type may be
};

// The file's bytes, the edits in the order given, a key line wherever the
// key changes. Raw values are written as hex(n): (REG_BINARY as hex:) on
// one line, any other value as WriteRegFile writes it. Throws FormatError
// for what ReadRegEdits would refuse.
std::vector<std::uint8_t> WriteRegEdits(const std::vector<RegEdit>& edits);

// Every edit in file order, key lines included: what ReadRegFile reads,
// and also key and value deletions and hex: and hex(n): values (up to
// layout::kRegMaxRawBytes, on one line). With `lines`, each edit's line.
std::vector<RegEdit> ReadRegEdits(const std::vector<std::uint8_t>& bytes, std::vector<std::size_t>* lines = nullptr);

}  // namespace kestro
