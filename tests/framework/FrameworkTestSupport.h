#pragma once
// The framework tests' application object, windows whose handlers a test scripts, and a robot
// thread that finds a modal box of the UI thread and presses its buttons.
#include <windows.h>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "tests/framework/FrameworkTestIds.h"
#include "tests/support/WindowPicture.h"

class CTestApp : public CWinApp
{
public:
    bool ShowHelp(int helpId) override
    {
        helpIds.push_back(helpId);
        return true;
    }
    bool PreTranslate(MSG* msg) override;
    LRESULT OnHandlerException(const std::exception& e, const MSG& msg) override;

    // Runs first; true consumes the message (it may throw to test the loops).
    std::function<bool(MSG*)> preTranslateHook;
    std::vector<int> helpIds;
    std::vector<UINT> exceptionMessages;
    std::string lastExceptionText;
};

CTestApp& TestApp();

// Removes every message waiting for the thread (leftovers of an earlier test).
void DrainMessages();

// The class of CScriptWnd windows.
extern const wchar_t TestWndClass[];

using MessageHook = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

class CScriptWnd : public CWnd
{
public:
    bool CreateTop(const wchar_t* title = L"Test window", int width = 400, int height = 300, DWORD style = 0);
    bool CreateChild(HWND parent, int id, int x, int y, int width, int height, DWORD style = 0);
    // A shown top-level window without frame or caption.
    bool CreatePopup(const wchar_t* title, RECT where, DWORD exStyle = 0);

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, NMHDR* nmh, LRESULT* result) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    bool PreTranslate(MSG* msg) override { return onPreTranslate ? onPreTranslate(msg) : false; }

    int Count(UINT message) const;

    MessageHook onMessage;
    std::function<bool(MSG*)> onPreTranslate;
    std::function<bool(int, int, HWND)> onCommand;
    std::vector<UINT> messages;
    std::vector<int> commands;
    std::vector<UINT> reflected;
};

class CScriptControl : public CSubclassedWnd
{
public:
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    int Count(UINT message) const;

    std::function<bool(UINT, WPARAM, LPARAM, LRESULT*)> onReflected;
    std::vector<UINT> messages;
    std::vector<UINT> reflected;
};

class CScriptDialog : public CModalDialog
{
public:
    explicit CScriptDialog(int templateId) : CModalDialog(templateId) {}
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;

    MessageHook onMessage;
    std::vector<UINT> messages;
    std::vector<LPARAM> kickIdle; // lParam of every WM_KICKIDLE
};

// Finds, on its own thread, a visible dialog (class "#32770") of the UI thread for which `ready`
// holds and runs `act` on it. On a time-out it closes every window of the thread so that no
// test hangs, and `found` stays false.
class CDialogRobot
{
public:
    CDialogRobot(std::function<bool(HWND)> ready, std::function<void(HWND)> act, DWORD timeoutMs = 10000);
    ~CDialogRobot();
    void Join();

    std::atomic<bool> found{false};
    std::atomic<HWND> dialog{nullptr};

private:
    std::thread m_thread;
};

// Presses a button of a dialog by id the way a click does (WM_COMMAND BN_CLICKED from the button).
void PressButton(HWND dialog, int id);
// The visible check box among the dialog's descendants, or null.
HWND FindCheckBox(HWND dialog);
// The texts of the push buttons among the dialog's descendants, in window order.
std::vector<std::wstring> ButtonTexts(HWND dialog);

