#include "ctl/setting_value.h"
#include "ctl/messages.h"

#include "core/text.h"

namespace kestro {

ValueKind KindOf(const Setting& row) {
    if (!row.HasState()) return ValueKind::Action;
    if (row.IsToggle()) return ValueKind::Toggle;
    if (row.shape == WriteShape::RootedText) return ValueKind::Text;
    return ValueKind::Number;
}

bool operator==(const SettingValue& a, const SettingValue& b) {
    if (a.kind != b.kind || a.isDefault != b.isDefault) return false;
    if (a.isDefault) return true;
    switch (a.kind) {
        case ValueKind::Toggle: return a.on == b.on;
        case ValueKind::Number: return a.number == b.number;
        case ValueKind::Text: return a.text == b.text;
        case ValueKind::Action: return true;
    }
    return false;
}

namespace {

bool ParseWhole(const std::string& s, std::int32_t* out) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    long long n = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        n = n * 10 + (s[i] - '0');
        if (n > 2147483648LL) return false;
    }
    if (negative) n = -n;
    if (n > 2147483647LL || n < -2147483648LL) return false;
    *out = static_cast<std::int32_t>(n);
    return true;
}

}  // namespace

bool ParseSettingValue(const Setting& row, const std::string& utf8, SettingValue* value, std::string* error) {
    switch (KindOf(row)) {
        case ValueKind::Toggle: {
            const std::string word = AsciiLower(utf8);
            if (word != "on" && word != "off") {
                *error = Tr("'%1' is not a value of %2: give on or off", utf8, row.name);
                return false;
            }
            *value = SettingValue::Toggle(word == "on");
            return true;
        }
        case ValueKind::Number: {
            std::int32_t n = 0;
            if (!ParseWhole(utf8, &n)) {
                *error = Tr("'%1' is not a value of %2: give a whole number from -2147483648 to 2147483647", utf8,
                            row.name);
                return false;
            }
            *value = SettingValue::Number(n);
            return true;
        }
        case ValueKind::Text: {
            if (!IsValidUtf8(utf8)) {
                *error = Tr("the value of %1 is not UTF-8 text", row.name);
                return false;
            }
            std::string text = utf8;
            if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
            std::wstring wide = Utf8ToWide(text);
            if (wide.size() > kMaxProfileTextChars) {
                *error = Tr("the value of %1 is longer than %2 characters", row.name, kMaxProfileTextChars);
                return false;
            }
            *value = SettingValue::Text(std::move(wide));
            return true;
        }
        case ValueKind::Action:
            break;
    }
    *error = Tr("%1 is an action, not a setting", row.name);
    return false;
}

SettingValue SettingValueOfState(ValueKind kind, const std::string& state) {
    switch (kind) {
        case ValueKind::Toggle: return SettingValue::Toggle(state == "on");
        case ValueKind::Number: return SettingValue::Number(std::stoi(state));
        case ValueKind::Text:
        case ValueKind::Action: break;
    }
    return SettingValue::Text(Utf8ToWide(state));
}

std::string DisplaySettingValue(const SettingValue& value) {
    if (value.isDefault) return kDefaultWord;
    switch (value.kind) {
        case ValueKind::Toggle: return value.on ? "on" : "off";
        case ValueKind::Number: return std::to_string(value.number);
        case ValueKind::Text: return WideToUtf8(value.text);
        case ValueKind::Action: break;
    }
    return std::string();
}

std::string FormatSettingValue(const SettingValue& value) {
    if (value.kind == ValueKind::Text && !value.isDefault) return "\"" + WideToUtf8(value.text) + "\"";
    return DisplaySettingValue(value);
}

}  // namespace kestro
