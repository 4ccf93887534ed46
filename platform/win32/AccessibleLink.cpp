#include "platform/win32/AccessibleLink.h"

#include <oleacc.h>

#include <utility>

#include "platform/win32/SystemLibraries.h"

namespace tarnwick::win32 {

namespace {

using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
using CreateStdAccessibleObjectFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using CoDisconnectObjectFn = HRESULT(WINAPI*)(LPUNKNOWN, DWORD);

bool IsSelf(const VARIANT& child) noexcept { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

HRESULT GiveText(BSTR* out, const wchar_t* text) noexcept {
    *out = com::AllocString(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT GiveNumber(VARIANT* out, LONG number) noexcept {
    out->vt = VT_I4;
    out->lVal = number;
    return S_OK;
}

}  // namespace

// The link's object. Its name is read when asked, so it is the text shown;
// where it is and what lies around it, the control's standard object knows.
class LinkObject final : public com::Counted<IAccessible> {
public:
    LinkObject(HWND link, const wchar_t* address, ComPtr<IAccessible> standard) noexcept
        : link_(link), address_(address), standard_(std::move(standard)) {}

    void Disconnect() noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) noexcept override;

    // No type information: clients call IAccessible itself.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) noexcept override;

    // What the link is.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) noexcept override;
    // The click's command, queued: the site opens from the window's own
    // loop, never inside a client's call.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) noexcept override;

    // What it has not: no description, help, access key or selection, and
    // nothing a client may change.
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) noexcept override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) noexcept override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) noexcept override;

    // Where it is and what lies around it: the standard object's answers.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) noexcept override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) noexcept override;
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) noexcept override;
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) noexcept override;
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) noexcept override;
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) noexcept override;

private:
    bool Connected() const noexcept;

    // S_OK when `child` can be answered: the link itself, while it is there.
    HRESULT Check(const VARIANT& child) const noexcept;

    HRESULT Nothing(const VARIANT& child, BSTR* text) const noexcept;

    HWND link_;
    const wchar_t* address_;
    ComPtr<IAccessible> standard_;
};

void LinkObject::Disconnect() noexcept {
    link_ = nullptr;
    standard_.reset();
}

HRESULT STDMETHODCALLTYPE LinkObject::QueryInterface(REFIID id, void** object) noexcept {
    if (!object) return E_POINTER;
    if (id == __uuidof(IUnknown) || id == __uuidof(IDispatch) || id == __uuidof(IAccessible)) {
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE LinkObject::GetTypeInfoCount(UINT* count) noexcept {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE LinkObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE LinkObject::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE LinkObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                             EXCEPINFO*, UINT*) noexcept {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accName(VARIANT child, BSTR* name) noexcept {
    if (!name) return E_POINTER;
    *name = nullptr;
    if (HRESULT refused = Check(child)) return refused;
    wchar_t text[256] = {};
    ::GetWindowTextW(link_, text, 256);
    return GiveText(name, text);
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accValue(VARIANT child, BSTR* value) noexcept {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (HRESULT refused = Check(child)) return refused;
    return GiveText(value, address_);
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accRole(VARIANT child, VARIANT* role) noexcept {
    if (!role) return E_POINTER;
    role->vt = VT_EMPTY;
    if (HRESULT refused = Check(child)) return refused;
    return GiveNumber(role, ROLE_SYSTEM_LINK);
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accState(VARIANT child, VARIANT* state) noexcept {
    if (!state) return E_POINTER;
    state->vt = VT_EMPTY;
    if (HRESULT refused = Check(child)) return refused;
    LONG flags = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED;
    if (::GetFocus() == link_) flags |= STATE_SYSTEM_FOCUSED;
    if (!::IsWindowVisible(link_)) flags |= STATE_SYSTEM_INVISIBLE;
    return GiveNumber(state, flags);
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accDefaultAction(VARIANT child, BSTR* action) noexcept {
    if (!action) return E_POINTER;
    *action = nullptr;
    if (HRESULT refused = Check(child)) return refused;
    return GiveText(action, L"Jump");
}

HRESULT STDMETHODCALLTYPE LinkObject::accDoDefaultAction(VARIANT child) noexcept {
    if (HRESULT refused = Check(child)) return refused;
    const WPARAM click = MAKEWPARAM(::GetDlgCtrlID(link_), STN_CLICKED);
    return ::PostMessageW(::GetParent(link_), WM_COMMAND, click, reinterpret_cast<LPARAM>(link_))
               ? S_OK
               : HRESULT_FROM_WIN32(::GetLastError());
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accFocus(VARIANT* focus) noexcept {
    if (!focus) return E_POINTER;
    focus->vt = VT_EMPTY;
    if (!Connected()) return CO_E_OBJNOTCONNECTED;
    return ::GetFocus() == link_ ? GiveNumber(focus, CHILDID_SELF) : S_FALSE;
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accDescription(VARIANT child, BSTR* text) noexcept {
    return Nothing(child, text);
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accHelp(VARIANT child, BSTR* text) noexcept {
    return Nothing(child, text);
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accKeyboardShortcut(VARIANT child, BSTR* text) noexcept {
    return Nothing(child, text);
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) noexcept {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accSelection(VARIANT* selection) noexcept {
    if (selection) selection->vt = VT_EMPTY;
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE LinkObject::put_accName(VARIANT, BSTR) noexcept {
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE LinkObject::put_accValue(VARIANT, BSTR) noexcept {
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accParent(IDispatch** parent) noexcept {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    return Connected() ? standard_->get_accParent(parent) : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accChildCount(LONG* count) noexcept {
    if (!count) return E_POINTER;
    *count = 0;
    return Connected() ? standard_->get_accChildCount(count) : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE LinkObject::get_accChild(VARIANT child, IDispatch** object) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    return Connected() ? standard_->get_accChild(child, object) : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE LinkObject::accSelect(LONG flags, VARIANT child) noexcept {
    return Connected() ? standard_->accSelect(flags, child) : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE LinkObject::accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                                  VARIANT child) noexcept {
    return Connected() ? standard_->accLocation(left, top, width, height, child) : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE LinkObject::accNavigate(LONG direction, VARIANT start, VARIANT* end) noexcept {
    if (!end) return E_POINTER;
    end->vt = VT_EMPTY;
    return Connected() ? standard_->accNavigate(direction, start, end) : CO_E_OBJNOTCONNECTED;
}

HRESULT STDMETHODCALLTYPE LinkObject::accHitTest(LONG x, LONG y, VARIANT* child) noexcept {
    if (!child) return E_POINTER;
    child->vt = VT_EMPTY;
    return Connected() ? standard_->accHitTest(x, y, child) : CO_E_OBJNOTCONNECTED;
}

bool LinkObject::Connected() const noexcept { return link_ && standard_ && ::IsWindow(link_); }

HRESULT LinkObject::Check(const VARIANT& child) const noexcept {
    if (!Connected()) return CO_E_OBJNOTCONNECTED;
    return IsSelf(child) ? S_OK : E_INVALIDARG;
}

HRESULT LinkObject::Nothing(const VARIANT& child, BSTR* text) const noexcept {
    if (!text) return E_POINTER;
    *text = nullptr;
    const HRESULT refused = Check(child);
    return refused ? refused : S_FALSE;
}

LinkAccessibility::LinkAccessibility(const wchar_t* address) noexcept : address_(address) {}

LinkAccessibility::~LinkAccessibility() { Disconnect(); }

std::optional<LRESULT> LinkAccessibility::Answer(HWND link, WPARAM flags, LPARAM objectId) noexcept {
    // Sent as a 32-bit value, which a 64-bit window may get without its sign.
    if (static_cast<DWORD>(objectId) != static_cast<DWORD>(OBJID_CLIENT)) return std::nullopt;
    static const auto fromObject = SystemFunctionOrNull<LresultFromObjectFn, OleAcc>("LresultFromObject");
    static const auto makeStandard =
        SystemFunctionOrNull<CreateStdAccessibleObjectFn, OleAcc>("CreateStdAccessibleObject");
    if (!fromObject || !makeStandard) return std::nullopt;
    if (!object_) {
        if (!session_) session_.emplace();
        ComPtr<IAccessible> standard;
        if (FAILED(makeStandard(link, OBJID_CLIENT, __uuidof(IAccessible), standard.put_void())) || !standard)
            return std::nullopt;
        object_ = com::MakeObject<LinkObject>(link, address_, std::move(standard));
        if (!object_) return std::nullopt;
    }
    const LRESULT answer = fromObject(__uuidof(IAccessible), flags, object_.get());
    if (answer < 0) return std::nullopt;  // not handed over: the control's own object, then
    return answer;
}

void LinkAccessibility::Disconnect() noexcept {
    if (!object_) return;
    static const auto disconnect = SystemFunctionOrNull<CoDisconnectObjectFn, Ole32>("CoDisconnectObject");
    object_->Disconnect();
    if (disconnect) disconnect(object_.get(), 0);
    object_.reset();
}

}  // namespace tarnwick::win32
