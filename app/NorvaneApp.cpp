#include <winsock2.h>

#include "app/NorvaneApp.h"

#include <exception>

#include "app/MainFrame.h"
#include "core/TextUtil.h"
#include "reader/Reader.h"
#include "transfer/HttpDest.h"
#include "transfer/Portavo.h"

const wchar_t kMainWindowClass[] = L"Norvane2";
const wchar_t kOwnerWindowClass[] = L"Norvane2_Base";

CNorvaneApp& App()
{
    // Made on first use so that it never runs before the statics the settings rely on.
    static CNorvaneApp app;
    return app;
}

LRESULT CBaseAppWnd::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE || message == WM_DESTROY)
        return 0;
    return CWnd::HandleMessage(hwnd, message, wParam, lParam);
}

CNorvaneApp::CNorvaneApp()
{
    // The settings document tells the debug log where it goes and whether it is on.
    LogSettings = &settings;
    CcidWatcher = &cccid;
    cccid.SetAppContext(this);
}

CNorvaneApp::~CNorvaneApp()
{
    RemoveObservers();
    if (mainFrame) {
        mainFrame->Destroy();
        mainFrame.reset();
    }
    ReleaseWorkers();
    cccid.Shutdown();
    DestroyMainFrame();
    DestroyOwnerWindow();
    if (languageModule) {
        SetResourceModule(GetProgramModule());
        FreeLibrary(languageModule);
        languageModule = nullptr;
    }
    LogSettings = nullptr;
}

void CNorvaneApp::ReleaseWorkers()
{
    // The frame's end stops them; this is for an end that did not pass there. Their threads log
    // through the settings, so they go before the settings do.
    inetSession.reset();
    if (bridgeLink) {
        bridgeLink->Stop();
        BridgeLink = nullptr;
        bridgeLink.reset();
    }
    if (reader) {
        reader->Stop();
        Reader = nullptr;
        ReaderPortName = nullptr;
        reader.reset();
    }
}

void CNorvaneApp::OnCcidReadersChanged(void* owner, CCcidConnection*, uint32_t)
{
    auto* app = static_cast<CNorvaneApp*>(owner);
    if (HWND window = app ? app->ccidNotifyWindow.load() : nullptr)
        PostMessageW(window, WM_CCID_READERS, 0, 0);
}

HWND CNorvaneApp::GetMainFrameWindow() const
{
    return mainFrame ? mainFrame->m_hWnd : nullptr;
}

void CNorvaneApp::AddObservers()
{
    if (settingsObserver < 0)
        settingsObserver = settings.AddObserver(this, &CNorvaneApp::OnSettingsChanged);
    if (configObserver < 0)
        configObserver = settings.GetTransferDoc().AddObserver(this, &CNorvaneApp::OnConfigurationChanged);
}

void CNorvaneApp::RemoveObservers()
{
    settings.GetTransferDoc().RemoveObserver(configObserver);
    settings.RemoveObserver(settingsObserver);
}

bool CNorvaneApp::PreTranslate(MSG* msg)
{
    CMainFrame* frame = mainFrame.get();
    if (!frame || !frame->m_hWnd)
        return false;
    if (frame->ToolTip().m_hWnd)
        SendMessageW(frame->ToolTip().m_hWnd, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
    if (frame->RichTip().m_hWnd && frame->RichTip().PreTranslate(msg))
        return true;
    for (HWND hwnd = msg->hwnd; hwnd; hwnd = GetParent(hwnd)) {
        if (CWnd* object = FindWindowObject(hwnd); object && object->PreTranslate(msg))
            return true;
        if (hwnd == frame->m_hWnd)
            break;
    }
    // Other top-level windows (modeless dialogs) get the frame's accelerators last.
    if (!msg->hwnd || GetAncestor(msg->hwnd, GA_ROOT) == frame->m_hWnd)
        return false;
    return frame->PreTranslate(msg);
}

HIMAGELIST CNorvaneApp::GetSmallImageList()
{
    if (!m_smallImages.Get()) {
        LPCWSTR name = MAKEINTRESOURCEW(IDB_SMALL_IMAGE_LIST);
        m_smallImages.Attach(ImageList_LoadImageW(FindResourceModule(name, RT_BITMAP), name, 16, 18,
                                                  RGB(0xFF, 0x00, 0xFF), IMAGE_BITMAP, LR_CREATEDIBSECTION));
    }
    return m_smallImages.Get();
}

HIMAGELIST CNorvaneApp::GetLargeImageList()
{
    if (!m_largeImages.Get()) {
        LPCWSTR name = MAKEINTRESOURCEW(IDB_LARGE_IMAGE_LIST);
        m_largeImages.Attach(ImageList_LoadImageW(FindResourceModule(name, RT_BITMAP), name, 32, 8,
                                                  RGB(0xFF, 0x00, 0xFF), IMAGE_BITMAP, LR_CREATEDIBSECTION));
    }
    return m_largeImages.Get();
}
