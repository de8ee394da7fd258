#include "win32/CAccessibleControl.h"

#include "window/AccessibleControls.h"

#include <commctrl.h>

namespace {

constexpr UINT_PTR kSubclassId = 0x564F524E;   // "VORN"
// Where the control keeps its Info while it exists.
constexpr wchar_t kInfoProperty[] = L"VORNdownload.Accessible";

HRESULT Text(const std::wstring& text, BSTR* out)
{
    if (!out)
        return E_INVALIDARG;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}   // namespace

bool CAccessibleControl::Attach(HWND control, const Info* info)
{
    return control && SetPropW(control, kInfoProperty, const_cast<Info*>(info)) &&
           SetWindowSubclass(control, SubclassProc, kSubclassId, 0);
}

void CAccessibleControl::ValueChanged(HWND control)
{
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

LRESULT CALLBACK CAccessibleControl::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                  DWORD_PTR)
{
    // The object id travels in the low 32 bits, sign and all.
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
        IAccessible* system = nullptr;
        if (SUCCEEDED(CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                                reinterpret_cast<void**>(&system)))) {
            auto* object = new CAccessibleControl(window, system);
            const LRESULT answer = LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(object));
            object->Release();   // the answer holds its own reference
            return answer;
        }
    }
    if (message == WM_NCDESTROY) {
        RemovePropW(window, kInfoProperty);
        RemoveWindowSubclass(window, SubclassProc, kSubclassId);
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

CAccessibleControl::CAccessibleControl(HWND control, IAccessible* system) : m_control(control), m_system(system)
{}

CAccessibleControl::~CAccessibleControl()
{
    m_system->Release();
}

const CAccessibleControl::Info* CAccessibleControl::Own(const VARIANT& child) const
{
    if (child.vt != VT_I4 || child.lVal != CHILDID_SELF)
        return nullptr;
    // Null once the window is gone.
    return static_cast<const Info*>(GetPropW(m_control, kInfoProperty));
}

std::wstring CAccessibleControl::Value(const Info& info) const
{
    if (info.kind == Kind::Line)
        return WindowText(m_control);
    const auto position = static_cast<long long>(SendMessageW(m_control, PBM_GETPOS, 0, 0));
    const auto low = static_cast<long long>(static_cast<int>(SendMessageW(m_control, PBM_GETRANGE, TRUE, 0)));
    const auto high = static_cast<long long>(static_cast<int>(SendMessageW(m_control, PBM_GETRANGE, FALSE, 0)));
    const std::string text = PercentText(BarPercent(position, low, high));
    return {text.begin(), text.end()};
}

HRESULT CAccessibleControl::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IAccessible))
        *object = static_cast<IAccessible*>(this);
    else if (iid == IID_IOleWindow)
        *object = static_cast<IOleWindow*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CAccessibleControl::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

ULONG CAccessibleControl::Release()
{
    const LONG left = InterlockedDecrement(&m_references);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT CAccessibleControl::get_accName(VARIANT child, BSTR* name)
{
    if (const Info* info = Own(child))
        return Text(info->name, name);
    return m_system->get_accName(child, name);
}

HRESULT CAccessibleControl::get_accValue(VARIANT child, BSTR* value)
{
    if (const Info* info = Own(child))
        return Text(Value(*info), value);
    return m_system->get_accValue(child, value);
}

HRESULT CAccessibleControl::get_accDescription(VARIANT child, BSTR* description)
{
    if (const Info* info = Own(child))
        return Text(info->description, description);
    return m_system->get_accDescription(child, description);
}

HRESULT CAccessibleControl::get_accRole(VARIANT child, VARIANT* role)
{
    const Info* info = Own(child);
    if (!info)
        return m_system->get_accRole(child, role);
    if (!role)
        return E_INVALIDARG;
    role->vt = VT_I4;
    role->lVal = info->kind == Kind::Bar ? ROLE_SYSTEM_PROGRESSBAR : ROLE_SYSTEM_STATICTEXT;
    return S_OK;
}

HRESULT CAccessibleControl::GetWindow(HWND* window)
{
    if (!window)
        return E_INVALIDARG;
    *window = m_control;
    return S_OK;
}

// Everything else is the system's object's.
HRESULT CAccessibleControl::GetTypeInfoCount(UINT* count)
{
    return m_system->GetTypeInfoCount(count);
}

HRESULT CAccessibleControl::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info)
{
    return m_system->GetTypeInfo(index, locale, info);
}

HRESULT CAccessibleControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids)
{
    return m_system->GetIDsOfNames(iid, names, count, locale, ids);
}

HRESULT CAccessibleControl::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* badArgument)
{
    return m_system->Invoke(id, iid, locale, flags, params, result, exception, badArgument);
}

HRESULT CAccessibleControl::get_accParent(IDispatch** parent)
{
    return m_system->get_accParent(parent);
}

HRESULT CAccessibleControl::get_accChildCount(LONG* count)
{
    return m_system->get_accChildCount(count);
}

HRESULT CAccessibleControl::get_accChild(VARIANT child, IDispatch** object)
{
    return m_system->get_accChild(child, object);
}

HRESULT CAccessibleControl::get_accState(VARIANT child, VARIANT* state)
{
    return m_system->get_accState(child, state);
}

HRESULT CAccessibleControl::get_accHelp(VARIANT child, BSTR* help)
{
    return m_system->get_accHelp(child, help);
}

HRESULT CAccessibleControl::get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic)
{
    return m_system->get_accHelpTopic(file, child, topic);
}

HRESULT CAccessibleControl::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut)
{
    return m_system->get_accKeyboardShortcut(child, shortcut);
}

HRESULT CAccessibleControl::get_accFocus(VARIANT* child)
{
    return m_system->get_accFocus(child);
}

HRESULT CAccessibleControl::get_accSelection(VARIANT* children)
{
    return m_system->get_accSelection(children);
}

HRESULT CAccessibleControl::get_accDefaultAction(VARIANT child, BSTR* action)
{
    return m_system->get_accDefaultAction(child, action);
}

HRESULT CAccessibleControl::accSelect(LONG flags, VARIANT child)
{
    return m_system->accSelect(flags, child);
}

HRESULT CAccessibleControl::accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child)
{
    return m_system->accLocation(left, top, width, height, child);
}

HRESULT CAccessibleControl::accNavigate(LONG direction, VARIANT start, VARIANT* end)
{
    return m_system->accNavigate(direction, start, end);
}

HRESULT CAccessibleControl::accHitTest(LONG left, LONG top, VARIANT* child)
{
    return m_system->accHitTest(left, top, child);
}

HRESULT CAccessibleControl::accDoDefaultAction(VARIANT child)
{
    return m_system->accDoDefaultAction(child);
}

HRESULT CAccessibleControl::put_accName(VARIANT child, BSTR name)
{
    return m_system->put_accName(child, name);
}

HRESULT CAccessibleControl::put_accValue(VARIANT child, BSTR value)
{
    return m_system->put_accValue(child, value);
}
