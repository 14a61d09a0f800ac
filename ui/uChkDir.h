// The folder chooser: a tree of the shell's namespace from which the user
// picks the folder whose background picture is to be set.
#pragma once

#include "ui/shell_library.h"
#include "ui/window.h"

#include <shlobj.h>

#include <functional>
#include <string>
#include <utility>

namespace kestro {

// Owns one reference to a COM object: released with its owner.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ComRef(ComRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { Reset(); }

    Interface* Get() const { return ptr_; }
    Interface* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For functions that hand back a new reference.
    Interface** Out() {
        Reset();
        return &ptr_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    void Reset() {
        if (ptr_) ptr_->Release();
        ptr_ = nullptr;
    }

private:
    Interface* ptr_ = nullptr;
};

// Owns an item identifier list that the shell allocated (CoTaskMemAlloc).
class ItemIdList {
public:
    ItemIdList() = default;
    explicit ItemIdList(LPITEMIDLIST pidl) : pidl_(pidl) {}
    ItemIdList(ItemIdList&& other) noexcept : pidl_(std::exchange(other.pidl_, nullptr)) {}
    ItemIdList& operator=(ItemIdList&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.pidl_, nullptr));
        return *this;
    }
    ItemIdList(const ItemIdList&) = delete;
    ItemIdList& operator=(const ItemIdList&) = delete;
    ~ItemIdList() { Reset(); }

    LPITEMIDLIST Get() const { return pidl_; }
    explicit operator bool() const { return pidl_ != nullptr; }
    LPITEMIDLIST* Out() {
        Reset();
        return &pidl_;
    }
    void Reset(LPITEMIDLIST pidl = nullptr) {
        if (pidl_) shell::CoTaskMemFree(pidl_);
        pidl_ = pidl;
    }

private:
    LPITEMIDLIST pidl_ = nullptr;
};

struct ChooserPlace;

class TfrmChkDir : public Window {
public:
    TfrmChkDir() = default;
    ~TfrmChkDir() override;

    // Creates the window, hidden. Its controls, and the tree's folders, are
    // made when it is first shown: nothing of the shell is asked at start.
    bool Create(HINSTANCE instance, HWND owner);

    // Shows the chooser without waiting for it; when it is visible already,
    // only brings it to the front. The first showing fills the tree with
    // the Desktop and its folders.
    void ShowChooser();
    // Whether the tree holds the shell's folders yet.
    bool TreeFilled() const { return desktop_ && treeFilled_; }

    // "ShellTreeView1", "bbOK" or "bbCancel"; null for any other name, and
    // for all three before the chooser is first shown.
    HWND Control(const std::string& name) const;

    // Selects a folder in the tree, opening the nodes on the way to it as
    // a user would. False when the tree holds no such folder.
    bool SelectFolder(LPCITEMIDLIST absolute);
    bool SelectPath(const std::wstring& path);
    // The path of the folder selected in the tree: its full path for a
    // folder of the file system, its display name for any other; empty
    // when nothing is selected.
    std::wstring SelectedPath() const;

    const std::wstring& SelectedDir() const { return FSelectedDir; }

    // Called with the chosen folder when the chooser closes on one; the
    // chooser knows nothing of who asked.
    void OnFolderChosen(std::function<void(const std::wstring&)> handler) { folderChosen_ = std::move(handler); }

    void bbOKClick();
    void bbCancelClick();
    void FormClose();

    // Tree nodes alive in the process, each owning its item list.
    static int LiveNodeCount();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Node;

    // The tree and the buttons, once; false when they cannot be made.
    bool BuildControls();
    HWND MakeControl(DWORD exStyle, const wchar_t* cls, const wchar_t* caption, DWORD style,
                     const ChooserPlace& place, int id);
    // The controls, then the Desktop node, its icons and its children, once; false when the
    // shell cannot give them.
    bool FillTree();
    void Centre();
    HTREEITEM InsertNode(HTREEITEM parent, ItemIdList absolute, bool hasChildren);
    // Reads a node's sub-folders once; false when they cannot be read.
    bool FillChildren(HTREEITEM item);
    static Node* NodeOf(HWND tree, HTREEITEM item);
    LRESULT OnNotify(const NMHDR& header);
    void OnCommand(int id, int code);
    void SetDefaultButton(HWND button);
    void DeleteAllNodes();
    // A folder's name as the Desktop gives it (SHGDN_ flags).
    std::wstring DisplayName(LPCITEMIDLIST absolute, DWORD flags) const;

    HINSTANCE instance_ = nullptr;
    // The DPI the chooser is laid out for: the system's, as its font.
    int dpi_ = 96;
    HWND tree_ = nullptr;
    HWND ok_ = nullptr;
    HWND cancel_ = nullptr;
    HWND lastFocus_ = nullptr;
    // The control of another window that had the focus when the chooser
    // was shown: it gets it back when the chooser closes.
    HWND returnFocus_ = nullptr;
    GdiObject<HFONT> font_;
    ComRef<IShellFolder> desktop_;
    bool treeFilled_ = false;
    std::wstring FSelectedDir;  // survives from one showing to the next
    std::function<void(const std::wstring&)> folderChosen_;
};

}  // namespace kestro
