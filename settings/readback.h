// Reading every setting back from the registry into the window, once, at
// start.
#pragma once

#include "settings/uFunctions.h"

namespace kestro {

// What the read-back needs of the main window.
class ISettingsView {
public:
    virtual ~ISettingsView() = default;
    // The toggle of the named control; the catalogue names only toggles
    // the window has.
    virtual IToggle& Toggle(const char* control) = 0;
    // The recent-documents spin edit's value.
    virtual void SetRecentDocsCount(std::int32_t count) = 0;
    // Where the named control's state comes from when it is not the user's
    // own value (settings/policy_sources.h's bits): the machine's copy, the
    // local Group Policy. Told only for such controls; a view that shows no
    // source need not listen.
    virtual void SetSettingSource(const char* /*control*/, unsigned /*sources*/) {}
};

// Sets one toggle from the registry by its row's start-up rule; raises as
// the start-up read-back would. The row must be a toggle's.
void ReadToggleState(const Setting& row, IToggle& toggle);

// Goes through the catalogue in its order; a setting that Windows reads
// from the machine's copy or the local Group Policy first shows the state
// in force there, and the view is told where it comes from. A read that raises ends it: the
// controls set before keep their states, the rest keep theirs from before.
void LoadSettingsState(ISettingsView& view);

}  // namespace kestro
