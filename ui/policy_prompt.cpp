#include "ui/policy_prompt.h"

#include "core/text.h"
#include "form/window_texts.h"
#include "settings/policy_sources.h"

namespace kestro {

std::wstring TooltipWithSource(const wchar_t* tooltip, unsigned sources) {
    std::wstring text = tooltip ? tooltip : L"";
    const auto line = [&text](const wchar_t* added) {
        if (!text.empty()) text += L"\n";
        text += added;
    };
    if (sources & kSourceMachine) line(kFromMachineLine);
    if (sources & kSourceLocalGpo) line(kFromLocalGpoLine);
    if (sources & kSourceDomain) line(kFromDomainLine);
    return text;
}

bool ConfirmPolicyLift(HWND owner, const std::wstring& title, const Setting& row, bool down) {
    if (!row.HasMachineCopy()) return true;
    RegistryStore& store = ActiveRegistryStore();
    const std::int32_t asked = down ? row.down[0] : row.up[0];
    std::int32_t value = 0;
    unsigned sources = 0;
    const LocalGroupPolicy gpo = LocalGroupPolicy::Read(store);
    const PolicyPlaces places = ReadPolicyPlaces(store, row, gpo);
    // The machine's side decides, or the user's Registry.pol would write
    // its value back: either way the user's value alone changes nothing.
    const bool machineSays = places.machineValue.present || places.machineEntry.present;
    const bool contradicted = (places.Decides(&value, &sources) && value != asked) ||
                              (places.userEntry.present && places.userEntry.value != asked) ||
                              (machineSays && places.machineValue.present && places.machineValue.value != asked);
    if (!contradicted) return true;
    // A domain's object writes it again at the next refresh: not ours to lift.
    if (!places.domainMachine.empty() || !places.domainUser.empty()) {
        MessageBoxW(owner, kPolicyDomainText, title.c_str(), MB_OK | MB_ICONSTOP);
        return false;
    }
    if (MessageBoxW(owner, kAskPolicyLiftText, title.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return false;
    const PolicyLiftResult lifted = LiftPolicyPlaces(store, row, asked);
    if (lifted.ok) return true;
    const std::wstring text = lifted.denied ? std::wstring(kPolicyNoRightsText)
                                            : std::wstring(kPolicyCannotLiftText) + L"\n" + Utf8ToWide(lifted.error);
    MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONSTOP);
    return false;
}

}  // namespace kestro
