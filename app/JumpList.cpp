#include "app/JumpList.h"

#include <windows.h>
#include <objbase.h>
#include <objectarray.h>
#include <shellapi.h>
#include <shobjidl.h>

#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "framework/Holders.h"
#include "framework/SysFunctions.h"
#include "resources/resource.h"

const wchar_t kAppUserModelId[] = L"Tarnwell.Norvane.2";

namespace {

template <class T>
class CComRef
{
public:
    CComRef() = default;
    ~CComRef()
    {
        if (p)
            p->Release();
    }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;
    void** Out() { return reinterpret_cast<void**>(&p); }
    T* p = nullptr;
};

template <class Fn>
Fn ShellFunction(const char* name)
{
    HMODULE shell = GetModuleHandleW(L"shell32.dll");
    return shell ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(shell, name))) : nullptr;
}

HRESULT SetAppId()
{
    using SetIdFn = HRESULT(WINAPI*)(PCWSTR);
    auto set = ShellFunction<SetIdFn>("SetCurrentProcessExplicitAppUserModelID");
    return set ? set(kAppUserModelId) : E_NOTIMPL;
}

HRESULT CreateAdminTask(IShellLinkW** link)
{
    std::wstring text;
    LoadResString(ID_RUN_AS_ADMIN, text);
    const std::wstring title = text.substr(0, text.find(L'\n'));
    using StockIconFn = HRESULT(WINAPI*)(SHSTOCKICONID, UINT, SHSTOCKICONINFO*);
    SHSTOCKICONINFO shield{sizeof(shield)};
    auto stockIcon = ShellFunction<StockIconFn>("SHGetStockIconInfo");
    if (stockIcon && SUCCEEDED(stockIcon(SIID_SHIELD, SHGSI_ICONLOCATION, &shield)))
        return CreateAdminShellLink(title.c_str(), shield.szPath, shield.iIcon, link);
    return CreateAdminShellLink(title.c_str(), nullptr, 0, link);
}

} // namespace

void AddJumpListTasks()
{
    CComInit apartment;
    if (FAILED(SetAppId()))
        return;
    CComRef<ICustomDestinationList> list;
    if (FAILED(CoCreateInstance(CLSID_DestinationList, nullptr, CLSCTX_INPROC_SERVER, IID_ICustomDestinationList,
                                list.Out())))
        return;
    list.p->DeleteList(kAppUserModelId);
    if (FAILED(list.p->SetAppID(kAppUserModelId)))
        return;
    UINT slots = 0;
    CComRef<IObjectArray> removed;
    if (FAILED(list.p->BeginList(&slots, IID_IObjectArray, removed.Out())))
        return;
    CComRef<IObjectCollection> tasks;
    if (FAILED(CoCreateInstance(CLSID_EnumerableObjectCollection, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IObjectCollection, tasks.Out())))
        return;
    CComRef<IShellLinkW> link;
    if (FAILED(CreateAdminTask(&link.p)) || FAILED(tasks.p->AddObject(link.p)))
        return;
    CComRef<IObjectArray> array;
    if (FAILED(tasks.p->QueryInterface(IID_IObjectArray, array.Out())))
        return;
    if (FAILED(list.p->AddUserTasks(array.p)))
        return;
    list.p->CommitList();
}
