// kestroctl clear-search-history: the search assistant's history, through
// the window's own action.
#include "ctl/command_context.h"

#include "settings/uFunctions.h"

namespace kestro {

int RunClearSearchHistory(Context&) {
    Zfunctions::ClearSearchHistory();
    return kExitOk;
}

}  // namespace kestro
