#include "ui/uChkDir.h"

#include "form/chooser_layout.h"
#include "form/window_texts.h"
#include "core/text.h"
#include "ui/application.h"
#include "ui/colours.h"
#include "ui/dpi.h"
#include "ui/form_font.h"

#include <commctrl.h>

#include <cstring>
#include <memory>

namespace kestro {

namespace {

constexpr wchar_t kChkDirClass[] = L"TfrmChkDir";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kTreeId = 100;

int liveNodes = 0;

// The text of a STRRET, freeing what the shell allocated for it; `pidl` is
// the item list the name was asked for (an offset points into it).
std::wstring TakeText(STRRET& name, LPCITEMIDLIST pidl) {
    switch (name.uType) {
        case STRRET_WSTR: {
            std::wstring text = name.pOleStr ? name.pOleStr : L"";
            shell::CoTaskMemFree(name.pOleStr);
            return text;
        }
        case STRRET_OFFSET:
            return FromAnsi(std::string(reinterpret_cast<const char*>(pidl) + name.uOffset));
        case STRRET_CSTR:
            return FromAnsi(std::string(name.cStr));
    }
    return std::wstring();
}

bool IsDesktop(LPCITEMIDLIST pidl) { return pidl->mkid.cb == 0; }

int ItemCount(LPCITEMIDLIST pidl) {
    int count = 0;
    for (auto p = reinterpret_cast<const BYTE*>(pidl); reinterpret_cast<LPCITEMIDLIST>(p)->mkid.cb;
         p += reinterpret_cast<LPCITEMIDLIST>(p)->mkid.cb)
        ++count;
    return count;
}

// A new list of the first `count` items of `pidl`.
LPITEMIDLIST CopyFirstItems(LPCITEMIDLIST pidl, int count) {
    std::size_t size = 0;
    auto p = reinterpret_cast<const BYTE*>(pidl);
    for (int i = 0; i < count && reinterpret_cast<LPCITEMIDLIST>(p + size)->mkid.cb; ++i)
        size += reinterpret_cast<LPCITEMIDLIST>(p + size)->mkid.cb;
    auto copy = static_cast<BYTE*>(shell::CoTaskMemAlloc(size + sizeof(USHORT)));
    if (!copy) return nullptr;
    std::memcpy(copy, p, size);
    std::memset(copy + size, 0, sizeof(USHORT));
    return reinterpret_cast<LPITEMIDLIST>(copy);
}

}  // namespace

// What a tree item carries: the absolute item list of its folder, and
// whether its sub-folders have been read (they are read on first opening).
struct TfrmChkDir::Node {
    explicit Node(ItemIdList list) : pidl(std::move(list)) { ++liveNodes; }
    ~Node() { --liveNodes; }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    ItemIdList pidl;
    bool filled = false;
};

int TfrmChkDir::LiveNodeCount() { return liveNodes; }

TfrmChkDir::~TfrmChkDir() {
    // Destroyed here, not by the base, so that WM_DESTROY still reaches this
    // object and the tree's nodes are freed.
    if (Hwnd()) DestroyWindow(Hwnd());
}

bool TfrmChkDir::Create(HINSTANCE instance, HWND owner) {
    instance_ = instance;
    RegisterWindowClass(instance, kChkDirClass, nullptr);
    dpi_ = dpi::OfSystem();
    RECT rc = {0, 0, dpi::Scale(kChooserClientWidth, dpi_), dpi::Scale(kChooserClientHeight, dpi_)};
    AdjustWindowRectEx(&rc, kStyle, FALSE, kExStyle);
    if (!CreateWindowObject(kExStyle, kChkDirClass, kChooserCaption, kStyle, 0, 0, rc.right - rc.left,
                            rc.bottom - rc.top, owner, instance))
        return false;
    Centre();
    return true;
}

HWND TfrmChkDir::MakeControl(DWORD exStyle, const wchar_t* cls, const wchar_t* caption, DWORD style,
                             const ChooserPlace& place, int id) {
    return CreateWindowExW(exStyle, cls, caption, WS_CHILD | WS_VISIBLE | style, dpi::Scale(place.left, dpi_),
                           dpi::Scale(place.top, dpi_), dpi::Scale(place.width, dpi_), dpi::Scale(place.height, dpi_), Hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
}

bool TfrmChkDir::BuildControls() {
    if (tree_) return true;
    font_.Reset(MakeFormFont(FW_NORMAL));
    SendMessageW(Hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    // No TVS_LINESATROOT: the Desktop at the top has no lines or button.
    tree_ = MakeControl(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                        WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP,
                        kChooserTree, kTreeId);
    ok_ = MakeControl(0, L"BUTTON", kChooserOkCaption, WS_TABSTOP | BS_DEFPUSHBUTTON | BS_NOTIFY, kChooserOk, IDOK);
    cancel_ = MakeControl(0, L"BUTTON", kChooserCancelCaption, WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, kChooserCancel, IDCANCEL);
    if (!tree_ || !ok_ || !cancel_) return false;
    for (HWND control : {tree_, ok_, cancel_})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    lastFocus_ = tree_;
    SendMessageW(tree_, TVM_SETINDENT, static_cast<WPARAM>(dpi::Scale(19, dpi_)), 0);
    return true;
}

bool TfrmChkDir::FillTree() {
    if (TreeFilled()) return true;
    if (!BuildControls() || !shell::EnsureCom()) return false;
    if (!desktop_ && FAILED(shell::SHGetDesktopFolder(desktop_.Out()))) return false;
    ItemIdList desktop;
    if (FAILED(shell::SHGetSpecialFolderLocation(Hwnd(), CSIDL_DESKTOP, desktop.Out())) || !desktop) return false;
    // The shell's own small icons. The system image list belongs to the
    // shell: the tree never destroys its image lists, and neither do we.
    SHFILEINFOW info = {};
    auto icons = reinterpret_cast<HIMAGELIST>(shell::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(desktop.Get()), 0,
                                                                    &info, sizeof info,
                                                                    SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (icons) SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(icons));

    HTREEITEM root = InsertNode(TVI_ROOT, std::move(desktop), true);
    if (!root) return false;
    treeFilled_ = true;
    SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
    return true;
}

void TfrmChkDir::Centre() {
    RECT rc;
    GetWindowRect(Hwnd(), &rc);
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    SetWindowPos(Hwnd(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND TfrmChkDir::Control(const std::string& name) const {
    if (name == "ShellTreeView1") return tree_;
    if (name == "bbOK") return ok_;
    if (name == "bbCancel") return cancel_;
    return nullptr;
}

TfrmChkDir::Node* TfrmChkDir::NodeOf(HWND tree, HTREEITEM item) {
    TVITEMW data = {};
    data.mask = TVIF_HANDLE | TVIF_PARAM;
    data.hItem = item;
    if (!item || !SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data))) return nullptr;
    return reinterpret_cast<Node*>(data.lParam);
}

HTREEITEM TfrmChkDir::InsertNode(HTREEITEM parent, ItemIdList absolute, bool hasChildren) {
    const auto pidl = reinterpret_cast<LPCWSTR>(absolute.Get());
    SHFILEINFOW closed = {}, open = {};
    shell::SHGetFileInfoW(pidl, 0, &closed, sizeof closed, SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_DISPLAYNAME);
    shell::SHGetFileInfoW(pidl, 0, &open, sizeof open, SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_OPENICON);

    auto node = std::make_unique<Node>(std::move(absolute));
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = closed.szDisplayName;
    insert.item.iImage = closed.iIcon;
    insert.item.iSelectedImage = open.iIcon;
    insert.item.cChildren = hasChildren ? 1 : 0;
    insert.item.lParam = reinterpret_cast<LPARAM>(node.get());
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item) node.release();  // the tree item owns it now; freed at TVN_DELETEITEM
    return item;
}

bool TfrmChkDir::FillChildren(HTREEITEM item) {
    Node* node = NodeOf(tree_, item);
    if (!node) return false;
    if (node->filled) return true;

    ComRef<IShellFolder> folder;
    if (IsDesktop(node->pidl.Get())) {
        desktop_->AddRef();
        *folder.Out() = desktop_.Get();
    } else if (FAILED(desktop_->BindToObject(node->pidl.Get(), nullptr, __uuidof(IShellFolder), folder.OutVoid()))) {
        return false;
    }

    // Hidden folders only when Explorer shows them too.
    SHELLFLAGSTATE settings = {};
    shell::SHGetSettings(&settings, SSF_SHOWALLOBJECTS);
    const DWORD flags = SHCONTF_FOLDERS | (settings.fShowAllObjects ? SHCONTF_INCLUDEHIDDEN : 0);

    // A drive with no disk in it fails here: the node stays closed and can
    // be tried again.
    ComRef<IEnumIDList> items;
    if (folder->EnumObjects(Hwnd(), flags, items.Out()) != S_OK || !items) return false;
    node->filled = true;
    int added = 0;
    LPITEMIDLIST next = nullptr;
    while (items->Next(1, &next, nullptr) == S_OK) {
        ItemIdList child(next);
        LPCITEMIDLIST one = child.Get();
        SFGAOF attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_STREAM;
        if (FAILED(folder->GetAttributesOf(1, &one, &attributes))) continue;
        // A zip file counts as a folder to the shell, but a picture cannot
        // be set for one.
        if (!(attributes & SFGAO_FOLDER) || (attributes & SFGAO_STREAM)) continue;
        ItemIdList absolute(shell::ILCombine(node->pidl.Get(), child.Get()));
        if (absolute && InsertNode(item, std::move(absolute), (attributes & SFGAO_HASSUBFOLDER) != 0)) ++added;
    }
    if (added == 0) {
        TVITEMW data = {};
        data.mask = TVIF_HANDLE | TVIF_CHILDREN;
        data.hItem = item;
        data.cChildren = 0;
        SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        return true;
    }
    struct Sort {
        static int CALLBACK Compare(LPARAM first, LPARAM second, LPARAM context) {
            auto shell = reinterpret_cast<IShellFolder*>(context);
            const HRESULT result = shell->CompareIDs(0, shell::ILFindLastID(reinterpret_cast<Node*>(first)->pidl.Get()),
                                                     shell::ILFindLastID(reinterpret_cast<Node*>(second)->pidl.Get()));
            return FAILED(result) ? 0 : static_cast<short>(HRESULT_CODE(result));
        }
    };
    TVSORTCB sort = {};
    sort.hParent = item;
    sort.lpfnCompare = Sort::Compare;
    sort.lParam = reinterpret_cast<LPARAM>(folder.Get());
    SendMessageW(tree_, TVM_SORTCHILDRENCB, 0, reinterpret_cast<LPARAM>(&sort));
    return true;
}

bool TfrmChkDir::SelectFolder(LPCITEMIDLIST absolute) {
    if (!FillTree()) return false;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    if (!item || !absolute) return false;
    const int depth = ItemCount(absolute);
    for (int level = 1; level <= depth; ++level) {
        ItemIdList prefix(CopyFirstItems(absolute, level));
        if (!prefix) return false;
        SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
        if (!FillChildren(item)) return false;  // the tree asks only at the first opening
        // Parsing names identify folders: the shell's own comparison may
        // see two names alike when their letters are outside the ANSI
        // code page.
        const std::wstring wanted = DisplayName(prefix.Get(), SHGDN_FORPARSING);
        HTREEITEM found = nullptr;
        for (auto child = reinterpret_cast<HTREEITEM>(
                 SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
             child && !found;
             child = reinterpret_cast<HTREEITEM>(
                 SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
            Node* node = NodeOf(tree_, child);
            if (node && !wanted.empty() && lstrcmpiW(DisplayName(node->pidl.Get(), SHGDN_FORPARSING).c_str(),
                                                     wanted.c_str()) == 0)
                found = child;
        }
        if (!found) return false;
        item = found;
    }
    SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    SendMessageW(tree_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    return true;
}

bool TfrmChkDir::SelectPath(const std::wstring& path) {
    if (!FillTree()) return false;
    ItemIdList pidl;
    std::wstring name = path;
    if (FAILED(desktop_->ParseDisplayName(Hwnd(), nullptr, &name[0], nullptr, pidl.Out(), nullptr)) || !pidl)
        return false;
    return SelectFolder(pidl.Get());
}

std::wstring TfrmChkDir::SelectedPath() const {
    const Node* node =
        NodeOf(tree_, reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0)));
    if (!node) return std::wstring();
    std::wstring path = DisplayName(node->pidl.Get(), SHGDN_FORPARSING);
    // A folder outside the file system (the computer, the network) has a
    // class identifier for a parsing name: the user sees its display name.
    if (path.compare(0, 3, L"::{") == 0) path = DisplayName(node->pidl.Get(), SHGDN_NORMAL);
    return path;
}

std::wstring TfrmChkDir::DisplayName(LPCITEMIDLIST absolute, DWORD flags) const {
    STRRET text = {};
    if (!desktop_ || FAILED(desktop_->GetDisplayNameOf(absolute, flags, &text))) return std::wstring();
    return TakeText(text, absolute);
}

void TfrmChkDir::ShowChooser() {
    FillTree();
    if (!IsWindowVisible(Hwnd())) {
        Centre();
        ShowWindow(Hwnd(), SW_SHOW);
    }
    SetWindowPos(Hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(Hwnd());
    SetActiveWindow(Hwnd());
}

void TfrmChkDir::bbOKClick() {
    FSelectedDir = SelectedPath();
    SendMessageW(Hwnd(), WM_CLOSE, 0, 0);
}

void TfrmChkDir::bbCancelClick() {
    FSelectedDir.clear();
    SendMessageW(Hwnd(), WM_CLOSE, 0, 0);
}

void TfrmChkDir::FormClose() {
    if (!FSelectedDir.empty() && folderChosen_) folderChosen_(FSelectedDir);
}

void TfrmChkDir::SetDefaultButton(HWND button) {
    SendMessageW(ok_, BM_SETSTYLE, button == ok_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    SendMessageW(cancel_, BM_SETSTYLE, button == cancel_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TfrmChkDir::OnCommand(int id, int code) {
    switch (code) {
        case BN_CLICKED:
            if (id == IDOK) bbOKClick();
            if (id == IDCANCEL) bbCancelClick();
            break;
        // Enter presses the focused button, and OK otherwise.
        case BN_SETFOCUS:
            if (id == IDCANCEL) SetDefaultButton(cancel_);
            break;
        case BN_KILLFOCUS:
            if (id == IDCANCEL) SetDefaultButton(ok_);
            break;
    }
}

LRESULT TfrmChkDir::OnNotify(const NMHDR& header) {
    if (header.hwndFrom != tree_) return 0;
    const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
    switch (header.code) {
        case TVN_ITEMEXPANDINGW:
        case TVN_ITEMEXPANDINGA:
            // TRUE keeps a node that could not be read closed.
            return (change.action & TVE_EXPAND) && !FillChildren(change.itemNew.hItem);
        case TVN_DELETEITEMW:
        case TVN_DELETEITEMA:
            delete reinterpret_cast<Node*>(change.itemOld.lParam);
            return 0;
        case NM_RCLICK: {
            const DWORD at = GetMessagePos();

            TVHITTESTINFO hit = {};
            hit.pt = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
            ScreenToClient(tree_, &hit.pt);
            auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
            // Anywhere on the node's row.
            if (item)
                SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
            return 0;
        }
    }
    return 0;
}

void TfrmChkDir::DeleteAllNodes() {
    if (tree_ && IsWindow(tree_)) SendMessageW(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

LRESULT TfrmChkDir::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        case DM_GETDEFID: {
            const bool cancelIsDefault = (GetWindowLongW(cancel_, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
            return MAKELONG(cancelIsDefault ? IDCANCEL : IDOK, DC_HASDEFID);
        }
        case WM_ACTIVATE:
            // As a dialog does: the focus returns to the control that had it.
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(Hwnd(), focus)) lastFocus_ = focus;
            } else if (!HIWORD(wParam)) {
                SetFocus(lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : tree_);
            }
            return 0;
        case WM_SETFOCUS:
            SetFocus(lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : tree_);
            return 0;
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
            return colours::ControlColours(reinterpret_cast<HDC>(wParam));
        case WM_SYSCOLORCHANGE:
            colours::SysColorChange(Hwnd(), wParam, lParam);
            return 0;
        case WM_CLOSE: {
            // Closing only hides: the window, and its choice, live for the
            // whole run.
            const bool active = GetActiveWindow() == Hwnd();
            ShowWindow(Hwnd(), SW_HIDE);
            HWND owner = GetWindow(Hwnd(), GW_OWNER);
            if (active && owner && IsWindowVisible(owner)) SetActiveWindow(owner);
            FormClose();
            return 0;
        }
        case WM_DESTROY:
            DeleteAllNodes();
            tree_ = ok_ = cancel_ = lastFocus_ = nullptr;
            return 0;
    }
    return DefaultProc(message, wParam, lParam);
}

}  // namespace kestro
