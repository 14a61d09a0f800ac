// kestroctl clear-search-history: the search assistant's history, through
// the window's own action.
#include "ctl/command_context.h"

#include "ctl/prior_state.h"

#include "settings/uFunctions.h"

namespace kestro {

int RunClearSearchHistory(Context& context) {
    PriorState prior;
    prior.Add(CatalogueRow(SettingId::SearchHistory));
    return WriteAllOrNothing(context, prior, [] {
        Zfunctions::ClearSearchHistory();
        return std::string();
    });
}

}  // namespace kestro
