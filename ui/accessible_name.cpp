#include "ui/accessible_name.h"

#include <oleacc.h>

#include <vector>

namespace kestro {

namespace {

// The named controls, their class procedures and names, kept here: a
// window property costs a request to the window server (under Wine), and
// the pictures are named while the window is first built.
struct NamedControl {
    HWND control;
    WNDPROC classProc;
    const wchar_t* name;
};
std::vector<NamedControl>& NamedControls() {
    static std::vector<NamedControl> controls;
    return controls;
}

NamedControl* Find(HWND control) {
    for (NamedControl& named : NamedControls())
        if (named.control == control) return &named;
    return nullptr;
}

// Active Accessibility's functions, looked up once: the program imports
// nothing of it, so that XP without it (or a stripped system) still runs.
struct Oleacc {
    decltype(&CreateStdAccessibleObject) createStd = nullptr;
    decltype(&LresultFromObject) lresultFromObject = nullptr;
    decltype(&SysAllocString) sysAllocString = nullptr;
    bool Ready() const { return createStd && lresultFromObject && sysAllocString; }
};

const Oleacc& Library() {
    static const Oleacc library = [] {
        Oleacc l;
        if (HMODULE oleacc = LoadLibraryW(L"oleacc.dll")) {
            l.createStd = reinterpret_cast<decltype(l.createStd)>(GetProcAddress(oleacc, "CreateStdAccessibleObject"));
            l.lresultFromObject = reinterpret_cast<decltype(l.lresultFromObject)>(GetProcAddress(oleacc, "LresultFromObject"));
        }
        if (HMODULE oleaut = LoadLibraryW(L"oleaut32.dll"))
            l.sysAllocString = reinterpret_cast<decltype(l.sysAllocString)>(GetProcAddress(oleaut, "SysAllocString"));
        return l;
    }();
    return library;
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The system's object for the control, with the name replaced; everything
// else is the system's.
class NamedAccessible : public IAccessible {
public:
    NamedAccessible(IAccessible* inner, const wchar_t* name) : inner_(inner), name_(name) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        return inner_->QueryInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return inner_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return inner_->GetTypeInfo(index, lcid, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        return inner_->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argument) override {
        return inner_->Invoke(id, riid, lcid, flags, params, result, exception, argument);
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!IsSelf(child)) return inner_->get_accName(child, name);
        if (!name) return E_POINTER;
        *name = Library().sysAllocString(name_);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return inner_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return inner_->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        return inner_->get_accChild(child, out);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override { return inner_->get_accValue(child, value); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return inner_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override { return inner_->get_accRole(child, role); }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return inner_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override { return inner_->get_accHelp(child, help); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return inner_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override {
        return inner_->get_accKeyboardShortcut(child, keys);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return inner_->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override { return inner_->get_accSelection(children); }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return inner_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override { return inner_->accSelect(flags, child); }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
        return inner_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return inner_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override {
        return inner_->accHitTest(left, top, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return inner_->accDoDefaultAction(child); }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return inner_->put_accName(child, name); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return inner_->put_accValue(child, value);
    }

private:
    LONG refs_ = 1;
    IAccessible* inner_;  // owned: one reference
    const wchar_t* name_;
};

LRESULT AnswerGetObject(HWND control, WPARAM wParam, const wchar_t* name) {
    const Oleacc& library = Library();
    if (!library.Ready()) return 0;
    IAccessible* inner = nullptr;
    if (FAILED(library.createStd(control, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&inner))) || !inner)
        return 0;
    auto* named = new NamedAccessible(inner, name);
    const LRESULT result = library.lresultFromObject(IID_IAccessible, wParam, named);
    named->Release();  // the result holds its own reference
    return result;
}

LRESULT CALLBACK NamedControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    const NamedControl* named = Find(control);
    if (!named) return DefWindowProcW(control, message, wParam, lParam);
    const WNDPROC old = named->classProc;
    switch (message) {
        case WM_GETOBJECT:
            if (static_cast<LONG>(lParam) == static_cast<LONG>(OBJID_CLIENT))
                if (const LRESULT answer = AnswerGetObject(control, wParam, named->name)) return answer;
            break;
        case WM_NCDESTROY: {
            SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
            std::vector<NamedControl>& controls = NamedControls();
            controls.erase(controls.begin() + (named - controls.data()));
            break;
        }
    }
    return CallWindowProcW(old, control, message, wParam, lParam);
}

}  // namespace

void SetAccessibleName(HWND control, const wchar_t* name) {
    NamedControls().push_back(
        {control, reinterpret_cast<WNDPROC>(GetWindowLongPtrW(control, GWLP_WNDPROC)), name});
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NamedControlProc));
}

}  // namespace kestro
