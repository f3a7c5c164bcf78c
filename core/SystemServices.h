#pragma once
// What the program asks of the system that a test cannot arrange with the real machine: the
// clock, the program's path, the final step of a file save, the autorun value, the shell with
// its notification area and taskbar, the elevation test, questions to the user, sounds, device
// notifications, the PC/SC readers and the help viewer. Code asks SystemServices() and never
// calls these directly, so a test replaces all of them at once.
//
// Three layers answer, the first present wins: a test's services, the application's services
// (which ask questions with the program's own box and list the readers of its PC/SC context),
// and the system's own below them for processes without an application.
#include <windows.h>
#include <shellapi.h>
#include <oaidl.h>
#include <ctime>
#include <string>
#include <vector>

class ISystemServices
{
public:
    // ---- Clock
    virtual void LocalTime(SYSTEMTIME& now) = 0;
    virtual __time64_t CurrentTime() = 0;

    // ---- Program and files
    // The full path of the running program file; empty on failure.
    virtual std::wstring ProgramPath() = 0;
    // The last step of a safe save: the complete temporary file replaces the target. False
    // with the system's last error set on failure.
    virtual bool MoveFileOver(const std::wstring& from, const std::wstring& to) = 0;

    // ---- Registry
    // Writes the autorun value (null: deletes it). False with the last error set.
    virtual bool WriteAutorun(const wchar_t* commandLine) = 0;

    // ---- Shell
    // ShellExecuteExW with the caller's record; false with the last error set.
    virtual bool ExecuteShell(SHELLEXECUTEINFOW& info) = 0;
    // Opens a link's target (web address, mail address) with the shell's "open".
    virtual void OpenLink(HWND owner, const wchar_t* target) = 0;
    virtual HRESULT CheckElevation(bool& elevated) = 0;
    // Shell_NotifyIconW: adds, changes or deletes an icon of the notification area.
    virtual bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data) = 0;

    // ---- Sound
    // PlaySoundW of a file name with the flags; null stops the sound that plays.
    virtual bool PlayWave(const wchar_t* file, DWORD flags) = 0;
    // mciSendStringW without a return text; the media error, 0 on success. The notify window
    // gets MM_MCINOTIFY when the command asks for it.
    virtual DWORD SendMediaString(const wchar_t* command, HWND notify) = 0;

    // ---- User
    // A question or message with a message-box style word; the id of the button that closed
    // it. With dontAsk the "Do not ask" box is offered and its state returned there.
    virtual int AskUser(const std::wstring& text, UINT style, HWND owner, bool* dontAsk) = 0;
    // The warning sound of refused input (MessageBeep's sound type).
    virtual void Beep(UINT type) = 0;

    // ---- Devices
    // Arrivals and removals of device interfaces of the class, sent to the window; null with
    // the last error set on failure.
    virtual HDEVNOTIFY WatchDeviceInterfaces(HWND window, const GUID& interfaceClass) = 0;
    // The readers the PC/SC service knows now.
    virtual void ListPcscReaders(std::vector<std::wstring>& names) = 0;

    // ---- Automation
    // The automation object of a program id, created as a local server and asked for
    // IDispatch; the failing call's code otherwise (the class not registered, the server not
    // starting).
    virtual HRESULT CreateAutomationObject(const wchar_t* progId, IDispatch** object) = 0;
    // ---- Help
    // HtmlHelpW of the system's help viewer (null when it is not installed).
    virtual HWND ShowHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data) = 0;

    // ---- Taskbar
    // Adds (shown) or deletes the window's tab through the shell's taskbar list.
    virtual HRESULT ShowTaskbarTab(HWND window, bool shown) = 0;

protected:
    ~ISystemServices() = default;
};

// The system's own services. Questions use the system's message box and no PC/SC reader is
// listed: both belong to the application, whose services refine them.
class CSystemServices : public ISystemServices
{
public:
    virtual ~CSystemServices() = default;

    void LocalTime(SYSTEMTIME& now) override;
    __time64_t CurrentTime() override;
    std::wstring ProgramPath() override;
    bool MoveFileOver(const std::wstring& from, const std::wstring& to) override;
    bool WriteAutorun(const wchar_t* commandLine) override;
    bool ExecuteShell(SHELLEXECUTEINFOW& info) override;
    void OpenLink(HWND owner, const wchar_t* target) override;
    HRESULT CheckElevation(bool& elevated) override;
    bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override;
    bool PlayWave(const wchar_t* file, DWORD flags) override;
    DWORD SendMediaString(const wchar_t* command, HWND notify) override;
    int AskUser(const std::wstring& text, UINT style, HWND owner, bool* dontAsk) override;
    void Beep(UINT type) override;
    HDEVNOTIFY WatchDeviceInterfaces(HWND window, const GUID& interfaceClass) override;
    void ListPcscReaders(std::vector<std::wstring>& names) override;
    HRESULT CreateAutomationObject(const wchar_t* progId, IDispatch** object) override;
    HWND ShowHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data) override;
    HRESULT ShowTaskbarTab(HWND window, bool shown) override;
};

// The services in force: a test's, else the application's, else the system's own.
ISystemServices& SystemServices();
// The services under a test's: the application's, else the system's own.
ISystemServices& ApplicationSystemServices();

// The application puts its services in force for its lifetime (null when it goes); the
// previous ones are returned.
ISystemServices* SetApplicationSystemServices(ISystemServices* services);
// A test's services over the application's (null: none); returns the one it replaces. Tests
// use the scoped swap of their support folder rather than this.
ISystemServices* SwapSystemServices(ISystemServices* services);
