// What a setting is set to, apart from where it is stored or how a file
// spells it: the model that profiles, the command line and the readers of
// other formats all produce.
#pragma once

#include "settings/catalogue.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro {

enum class ValueKind { Toggle, Number, Text, Action };

// The longest text a setting takes, in characters: what the .reg and
// Registry.pol files carry, and far beyond any path or caption.
constexpr std::size_t kMaxProfileTextChars = 4096;

ValueKind KindOf(const Setting& row);

struct SettingValue {
    ValueKind kind = ValueKind::Toggle;
    bool on = false;          // Toggle: the toggle down
    std::int32_t number = 0;  // Number
    std::wstring text;        // Text
    // None of the setting's values stored, so that Windows' own default
    // applies: "NAME = default" in a profile (kestroctl only: the window
    // never deletes a value).
    bool isDefault = false;

    static SettingValue Toggle(bool on) { return {ValueKind::Toggle, on, 0, {}, false}; }
    static SettingValue Number(std::int32_t n) { return {ValueKind::Number, false, n, {}, false}; }
    static SettingValue Text(std::wstring t) { return {ValueKind::Text, false, 0, std::move(t), false}; }
    static SettingValue Default(ValueKind kind) { return {kind, false, 0, {}, true}; }
};

// The word a profile gives for SettingValue::Default, unquoted in any case
// (a text of that word is quoted).
constexpr const char* kDefaultWord = "default";

bool operator==(const SettingValue& a, const SettingValue& b);
inline bool operator!=(const SettingValue& a, const SettingValue& b) { return !(a == b); }

// A value as typed on the command line or after "=" in a profile: on|off
// (any case) for a toggle, a whole number from -2147483648 to 2147483647,
// or any text. A text that starts and ends with a double quote loses that
// one pair, so that spaces at its ends survive. False with a message that
// says what was expected.
bool ParseSettingValue(const Setting& row, const std::string& utf8, SettingValue* value, std::string* error);

// A state as a .reg or Registry.pol file's match gives it (formats/
// entry_match.h): "on" or "off", a decimal number that fits, or a UTF-8
// text taken as it is, with no quotes removed.
SettingValue SettingValueOfState(ValueKind kind, const std::string& state);

// The value as ParseSettingValue reads it back; texts always quoted.
std::string FormatSettingValue(const SettingValue& value);
// For people: texts without quotes.
std::string DisplaySettingValue(const SettingValue& value);

}  // namespace kestro
