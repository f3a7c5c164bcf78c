// The notification-area icon of the main frame with its tip, balloon, clicks and menu, and the
// sounds of the four events.
#include "app/MainFrame.h"

#include <mmsystem.h>

#include <algorithm>
#include <cwctype>

#include "app/NorvaneApp.h"
#include "core/AppLog.h"
#include "core/File.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/WinApp.h"

namespace {

constexpr size_t kTipRoom = 127;
constexpr DWORD kExpandRoom = 260;

CAppSettings& Settings()
{
    return App().GetSettings();
}

template <size_t N>
void CopyCut(wchar_t (&to)[N], const std::wstring& from, size_t room)
{
    const size_t count = std::min({from.size(), room, N - 1});
    std::copy_n(from.begin(), count, to);
    to[count] = L'\0';
}

} // namespace

// ---- Icon ----

bool CMainFrame::WantsTrayIcon() const
{
    const uint32_t flags = Settings().GetTrayIconFlags();
    return (flags & TRAY_SHOW_ALWAYS) || ((flags & TRAY_SHOW_MINIMIZED) && IsIconic(m_hWnd)) ||
           (trayIcon.m_data.uFlags & NIF_INFO);
}

bool CMainFrame::UpdateTrayIcon(bool show)
{
    NOTIFYICONDATAW& nid = trayIcon.m_data;
    nid.hWnd = m_hWnd;
    // A balloon goes out once, with the call that shows it; the flag only marks it pending.
    const UINT pendingInfo = nid.uFlags & NIF_INFO;
    nid.uFlags &= ~NIF_INFO;
    HICON wanted = nullptr;
    bool result = true;
    if (show) {
        wanted = Settings().IsTransferEnabled()
                     ? reinterpret_cast<HICON>(GetClassLongPtrW(m_hWnd, GCLP_HICONSM))
                     : idleIcon;
        std::wstring caption;
        BuildCaption(caption);
        CopyCut(nid.szTip, caption, kTipRoom);
        if (caption.empty())
            nid.uFlags &= ~NIF_TIP;
        else
            nid.uFlags |= NIF_TIP;
        if (wanted == nid.hIcon && nid.hIcon)
            result = trayIcon.Modify();
    }
    if (wanted != nid.hIcon) {
        if (!wanted) {
            result = trayIcon.Notify(NIM_DELETE);
            if (result)
                nid.hIcon = nullptr;
        } else {
            const HICON old = nid.hIcon;
            nid.hIcon = wanted;
            nid.uFlags |= NIF_ICON | NIF_MESSAGE;
            result = trayIcon.Notify(old ? NIM_MODIFY : NIM_ADD);
            if (!result)
                nid.hIcon = old;
        }
    }
    nid.uFlags |= pendingInfo;
    return result;
}

void CMainFrame::ShowBalloon(const std::wstring& title, const std::wstring& text)
{
    NOTIFYICONDATAW& nid = trayIcon.m_data;
    if (!nid.hIcon && !UpdateTrayIcon(true))
        return;
    CopyCut(nid.szInfoTitle, title, ARRAYSIZE(nid.szInfoTitle) - 1);
    CopyCut(nid.szInfo, text, ARRAYSIZE(nid.szInfo) - 1);
    nid.dwInfoFlags = NIIF_NONE | NIIF_NOSOUND;
    nid.uFlags |= NIF_INFO;
    if (!trayIcon.Modify())
        nid.uFlags &= ~NIF_INFO;
}

LRESULT CMainFrame::OnTrayNotify(UINT iconId, UINT mouseMessage)
{
    if (iconId != kTrayIconId)
        return 0;
    const std::array<uint16_t, 4>& commands = Settings().GetTrayClickCommands();
    // A single click waits for the double-click time only when a double click means something.
    auto click = [this](UINT_PTR timer, uint16_t command, uint16_t doubleCommand) {
        if (!command)
            return;
        if (doubleCommand)
            SetTimer(timer, GetDoubleClickTime());
        else
            PostMessageW(m_hWnd, WM_COMMAND, command, 0);
    };
    auto doubleClick = [this](UINT_PTR timer, uint16_t doubleCommand) {
        KillTimer(timer);
        if (doubleCommand)
            PostMessageW(m_hWnd, WM_COMMAND, doubleCommand, 0);
    };
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
        click(3, commands[0], commands[1]);
        break;
    case WM_LBUTTONDBLCLK:
        doubleClick(3, commands[1]);
        break;
    case WM_MBUTTONDOWN:
        click(4, commands[2], commands[3]);
        break;
    case WM_MBUTTONDBLCLK:
        doubleClick(4, commands[3]);
        break;
    case WM_RBUTTONUP: {
        const LPCWSTR name = MAKEINTRESOURCEW(IDM_TRAY);
        CMenu resource(LoadMenuW(FindResourceModule(name, RT_MENU), name));
        HMENU menu = GetSubMenu(resource.Get(), 0);
        if (!menu)
            break;
        SetTrayMenuStates(menu);
        SetForegroundWindow(m_hWnd);
        POINT cursor;
        GetCursorPos(&cursor);
        TrackMenu(menu, cursor, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
        break;
    }
    case NIN_BALLOONHIDE:
    case NIN_BALLOONTIMEOUT:
        trayIcon.m_data.uFlags &= ~NIF_INFO;
        dirty |= MFD_TRAY;
        break;
    default:
        break;
    }
    return 0;
}

// ---- Sounds ----

void CMainFrame::PlayEventSound(int soundEvent)
{
    if (soundEvent < 0 || soundEvent >= kSoundEventCountPlayed)
        return;
    CAppSettings& settings = Settings();
    const std::wstring& file = settings.GetSoundFile(soundEvent);
    if (file.empty())
        return;
    CDocUpdateScope scope(settings);
    ISystemServices& system = SystemServices();

    // 1. Another event's sound gives way.
    if (loadedSound >= 0 && loadedSound != soundEvent)
        StopEventSound();

    // 2. The file of this event.
    if (loadedSound != soundEvent) {
        std::wstring path;
        if (!ExpandEnvStrings(file.c_str(), path) || path.size() > kExpandRoom)
            path = file;
        // The media command quotes the name: a quote inside it would end the name early and
        // let the rest be read as further words of the command.
        if (path.find(L'"') != std::wstring::npos) {
            CNorvaneApp& app = m_app;
            if (app.IsLogged(LOG_THRESHOLD_WARNING))
                LogMessageById(&app, nullptr, LOG_WARNING, IDS_LOG_SOUND_NAME, path.c_str());
            return;
        }
        std::wstring extension = FindExtension(path.c_str());
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
        if (extension == L".wav") {
            loadedWav = true;
            loadedSound = soundEvent;
            loadedSoundFile = path;
        } else {
            const std::wstring open = L"open \"" + path + L"\" type " +
                                      (extension == L".mid" ? L"sequencer" : L"mpegvideo") + L" alias media";
            if (system.SendMediaString(open.c_str(), nullptr) == 0) {
                loadedWav = false;
                loadedSound = soundEvent;
                loadedSoundFile = path;
            }
        }
    }

    // 3. Play it.
    if (loadedSound != soundEvent)
        return;
    if (loadedWav) {
        system.PlayWave(loadedSoundFile.c_str(), SND_ASYNC | SND_FILENAME | SND_NODEFAULT);
    } else {
        playingSound = system.SendMediaString(L"play media from 0 notify", m_hWnd) == 0 ? soundEvent : -1;
        settings.RaiseStateChange(ASS_SOUND_PLAYING, false);
    }
}

void CMainFrame::StopEventSound()
{
    if (loadedSound < 0)
        return;
    CAppSettings& settings = Settings();
    CDocUpdateScope scope(settings);
    if (loadedWav)
        SystemServices().PlayWave(nullptr, 0);
    else
        SystemServices().SendMediaString(L"close media", nullptr);
    loadedSound = -1;
    playingSound = -1;
    loadedSoundFile.clear();
    settings.RaiseStateChange(ASS_SOUND_PLAYING, false);
}

void CMainFrame::TryEventSound(int soundEvent)
{
    if (playingSound >= 0) {
        // A second press on a playing media sound stops it.
        CAppSettings& settings = Settings();
        CDocUpdateScope scope(settings);
        if (loadedWav)
            SystemServices().PlayWave(nullptr, 0);
        else
            SystemServices().SendMediaString(L"stop media", nullptr);
        playingSound = -1;
        settings.RaiseStateChange(ASS_SOUND_PLAYING, false);
        return;
    }
    StopEventSound();
    PlayEventSound(soundEvent);
}

void CMainFrame::OnMediaNotify()
{
    CAppSettings& settings = Settings();
    CDocUpdateScope scope(settings);
    playingSound = -1;
    settings.RaiseStateChange(ASS_SOUND_PLAYING, false);
}
