// The main window's controls as data: one row per control, like a form
// file. One small piece of code builds the window from it.
#pragma once

#include <cstddef>

namespace kestro {

enum class ControlKind {
    Picture,       // a bitmap: the one its row names
    BoldLabel,
    Label,
    TabControl,
    Toggle,        // push-like check button: flips on each click, takes no focus
    SpringButton,  // push-like button that springs back, takes no focus
    PushButton,    // ordinary push button, in the tab order
    SpinEdit,      // edit with an up-down control
    LabeledEdit,   // edit with its label above it
    ReadOnlyEdit,
    Memo,          // multi-line text box
};

enum class PageId { Window = -1, Ts1 = 0, Ts2 = 1, Tb3 = 2, TabSheet1 = 3 };

// Which click handler of the main window a control runs.
enum class HandlerId {
    None,
    Toggle,  // the catalogue row of the control's name says which writer
    ClearSearch, SetWallpaper, SetNumRemDocuments, SetTrashName, SetTrashTipText,
    SetFolder, SetPicture, SetPictureBackgroundFolder, Logo, Exit,
};

// The image a picture shows, among the program's resources.
enum class PictureId {
    None,
    Logo,  // the banner, a JPEG
    Help,  // the help icon, a bitmap
};

struct ControlDef {
    const char* name;
    ControlKind kind;
    PageId page;
    int left, top, width, height;  // client pixels of the window or of the page, at 96 dpi
    const wchar_t* caption;        // the text; for a labelled edit, its label
    const wchar_t* tooltip;        // null: none
    const char* glyph;             // resource name of the button's glyph, null: none
    int group;                     // toggles: group number; 0 elsewhere
    HandlerId handler;
    PictureId picture = PictureId::None;  // pictures: the image shown
};

struct PageDef {
    const char* name;
    const wchar_t* caption;
};

// A control of the window by its row: ControlId::sbDelFind is the row
// named "sbDelFind". Made from the one list of rows, main_controls.def.
enum class ControlId : int {
#define KESTRO_CONTROL(name, ...) name,
#include "form/main_controls.def"
#undef KESTRO_CONTROL
};

constexpr std::size_t kMainControlCount = 0
#define KESTRO_CONTROL(name, ...) +1
#include "form/main_controls.def"
#undef KESTRO_CONTROL
    ;

extern const ControlDef kMainControls[kMainControlCount];
constexpr int kMainPageCount = 4;
extern const PageDef kMainPages[kMainPageCount];

constexpr std::size_t IndexOf(ControlId id) { return static_cast<std::size_t>(id); }
inline const ControlDef& DefOf(ControlId id) { return kMainControls[IndexOf(id)]; }
// The row of this name, or null.
const ControlDef* FindControlDef(const char* name);
// The id of the row of this name; false, with *id untouched, when none.
bool FindControlId(const char* name, ControlId* id);

// The window itself.
extern const wchar_t kMainCaption[];
constexpr int kMainClientWidth = 521;
constexpr int kMainClientHeight = 586;
constexpr int kMainLeft = 248;
constexpr int kMainTop = 99;

// Texts the handlers compare against.
extern const wchar_t kFolderPlaceholder[];
extern const wchar_t kPicturePlaceholder[];
#define KESTRO_WEB_SITE L"https://kestro.example.org/"
extern const wchar_t kWebSiteAddress[];

}  // namespace kestro
