#include "formats/entry_match.h"

#include "formats/policy_file.h"
#include "formats/values.h"
#include "core/bytes.h"
#include "core/localized.h"
#include "core/text.h"

#include <cstring>

namespace kestro {

namespace {

bool SamePlace(const RegValue& a, const RegValue& b) {
    RegValue x = ToPolicyLocation(a), y = ToPolicyLocation(b);
    return x.root == y.root && SameAsciiNoCase(x.keyPath, y.keyPath) && SameAsciiNoCase(x.name, y.name);
}

std::string Where(const std::vector<std::size_t>& places, const std::string& kind, std::size_t i) {
    const std::size_t at = i < places.size() ? places[i] : 0;
    // The same words as a reader's FormatError.
    if (kind == "line") return Localized("line %1: %2", at, "");
    if (kind == "offset") return Localized("offset %1: %2", at, "");
    return kind + " " + std::to_string(at) + ": ";
}

std::int32_t DwordOf(const std::vector<std::uint8_t>& data) {
    const std::uint32_t n = LoadLe32(data.data());
    std::int32_t s;
    std::memcpy(&s, &n, sizeof s);
    return s;
}

// Where the writer writes: the places of one state's values, and for a
// toggle those of both states (a state may write fewer).
std::vector<RegValue> PlacesOf(const SettingShape& shape) {
    std::vector<RegValue> places =
        shape.valuesFor(shape.kind == SettingShape::Kind::Toggle ? "on" : shape.kind == SettingShape::Kind::Number ? "0" : "");
    if (shape.kind == SettingShape::Kind::Toggle)
        for (const RegValue& place : shape.valuesFor("off")) {
            bool known = false;
            for (const RegValue& earlier : places) known = known || SamePlace(earlier, place);
            if (!known) places.push_back(place);
        }
    return places;
}

// The toggle's state whose values the entries `mine` are exactly; empty
// when they are neither's.
std::string ToggleState(const SettingShape& shape, const std::vector<RegValue>& entries,
                        const std::vector<std::size_t>& mine) {
    std::string state;
    for (const char* candidate : {"on", "off"}) {
        std::vector<RegValue> want = shape.valuesFor(candidate);
        if (want.size() != mine.size()) continue;
        bool all = true;
        for (const RegValue& w : want) {
            bool found = false;
            for (std::size_t i : mine)
                if (SamePlace(entries[i], w) && entries[i].data == w.data) found = true;
            all = all && found;
        }
        if (all) state = candidate;
    }
    return state;
}

// The setting's value as the entries `mine` give it, into the result's
// settings; or, where they give none, an error naming the place `at`.
void ReadSetting(const SettingShape& shape, const std::vector<RegValue>& entries, const std::vector<std::size_t>& mine,
                 std::size_t placeCount, const std::string& at, EntryMatch* result) {
    const RegValue& first = entries[mine.front()];
    if (shape.kind == SettingShape::Kind::Toggle) {
        const std::string state = ToggleState(shape, entries, mine);
        if (state.empty()) {
            result->errors.push_back(
                at + (mine.size() < placeCount
                          ? Localized("%1: the values are neither those of on nor of off (some are missing)",
                                      shape.name)
                          : Localized("%1: the values are neither those of on nor of off", shape.name)));
            return;
        }
        result->settings.push_back({shape.name, state});
    } else if (shape.kind == SettingShape::Kind::Number) {
        if (first.data.size() != 4) {
            result->errors.push_back(at + Localized("%1: a REG_DWORD needs 4 bytes of data", shape.name));
            return;
        }
        result->settings.push_back({shape.name, std::to_string(DwordOf(first.data))});
    } else {
        std::u16string text;
        if (!TextFromData(first.data, &text)) {
            result->errors.push_back(at +
                                     Localized("%1: the text is not one UTF-16 text ending in a zero", shape.name));
            return;
        }
        try {
            result->settings.push_back({shape.name, StrictUtf16ToUtf8(text)});
        } catch (const std::invalid_argument&) {
            result->errors.push_back(at + Localized("%1: the text holds an unpaired surrogate", shape.name));
        }
    }
}

}  // namespace

EntryMatch MatchEntries(const std::vector<RegValue>& entries, const std::vector<std::size_t>& places,
                        const std::string& placeKind, const std::vector<SettingShape>& shapes, bool ignoreUnknown) {
    EntryMatch result;
    std::vector<bool> claimed(entries.size(), false);
    for (const SettingShape& shape : shapes) {
        const std::vector<RegValue> places0 = PlacesOf(shape);
        std::vector<std::size_t> mine;  // entry indices, in file order
        std::string problem;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            for (const RegValue& place : places0) {
                if (!SamePlace(entries[i], place)) continue;
                mine.push_back(i);
                claimed[i] = true;
                if (entries[i].type != place.type && problem.empty())
                    problem = Where(places, placeKind, i) + Localized("%1: %2 has type %3, not %4", shape.name,
                                                                      DescribeValue(entries[i]), entries[i].type,
                                                                      place.type);
                break;
            }
        }
        if (mine.empty()) continue;
        if (!problem.empty()) {
            result.errors.push_back(problem);
            continue;
        }
        if (mine.size() > places0.size()) {
            result.errors.push_back(Where(places, placeKind, mine.back()) +
                                    Localized("%1: %2 is given more than once", shape.name,
                                              DescribeValue(entries[mine.back()])));
            continue;
        }
        ReadSetting(shape, entries, mine, places0.size(), Where(places, placeKind, mine.front()), &result);
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (claimed[i]) continue;
        std::string message =
            Where(places, placeKind, i) + Localized("%1 is not a Kestro setting", DescribeValue(entries[i]));
        (ignoreUnknown ? result.ignored : result.errors).push_back(message);
    }
    return result;
}

}  // namespace kestro
