#include "ui/policy_prompt.h"

#include "core/text.h"
#include "form/window_texts.h"
#include "settings/policy_lift.h"
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
    // The same lift kestroctl's set makes, planned first to know whether
    // anything contradicts the state asked for at all.
    PolicyLift plan;
    LiftRefusal refusal;
    if (!plan.Plan(store, {{&row, true, asked}}, &refusal)) {
        // A domain's object writes it again at the next refresh: not ours to lift.
        if (refusal.why == LiftRefusal::Why::Domain) {
            MessageBoxW(owner, kPolicyDomainText, title.c_str(), MB_OK | MB_ICONSTOP);
            return false;
        }
    } else if (plan.Empty()) {
        return true;
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
