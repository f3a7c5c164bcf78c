#pragma once
// A reader thread under test with what the UI thread would do around it: a window that
// counts the posts, a drain of the queue, and a capture of the debug-log lines.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "core/AppContext.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "reader/Reader.h"
#include "tests/support/TempFolder.h"
#include "tests/support/PortPairs.h"
#include "tests/support/ReaderTestPeer.h"
#include "tools/readersim/ReaderSim.h"


inline const char kKeyA[] = "Em-Marine[0055] 085,12345";   // 39 30 55 55 00
inline const char kKeyB[] = "Em-Marine[0011] 017,00042";   // 2A 00 11 11 00
inline const char kHexA[] = "3930555500";
inline const char kHexB[] = "2A00111100";

inline std::string Hex(const _KEY_NUMBER& k)
{
    std::string s;
    char buf[4];
    for (int i = 0; i < k.length; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", k.bytes[i]);
        s += buf;
    }
    return s;
}

// The debug log on, at its most detailed level, in a folder of the test's own.
class CTestLogSettings : public ILogSettingsSource {
public:
    std::wstring ResolveLogFolder() override { return folder; }
    DebugLogSettings GetDebugLogSettings() override
    {
        DebugLogSettings s;
        s.enabled = true;
        s.logLevel = logLevel;
        return s;
    }
    std::wstring folder;
    int logLevel = 6;
};

// What the UI thread would see: the notifications in order and the posts that announced them.
struct Seen {
    int type = 0;
    int keyType = 0;
    std::string key;
    uint32_t extra = 0;
    HRESULT code = S_OK;
    std::wstring text;
};

inline LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_READER_NOTIFY) {
        auto* count = reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        ++*count;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

class ReaderThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(winsock.Ok());
        sim = std::make_unique<CReaderSim>();
        WNDCLASSW wc{};
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"NvReaderTestSink";
        RegisterClassW(&wc);
        wnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        ASSERT_TRUE(wnd);
        SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&posts));

        reader = std::make_unique<CReader>();
        reader->CreateEvents();
        HWND target = wnd;
        reader->SetNotifyWindowSource([target] { return target; });
        app = std::make_unique<CAppContext>();
        logSettings.folder = temp.Path();
        app->LogSettings = &logSettings;
        CReader* r = reader.get();
        app->Reader = r;
        app->ReaderPortName = [r] { return r->GetPortName(); };
        reader->SetAppContext(app.get());
    }

    void TearDown() override
    {
        if (HasFailure())
            std::printf("%ls\n", LogText().c_str());
        if (reader)
            reader->Stop();
        reader.reset();
        app.reset();
        sim.reset();
        if (wnd)
            DestroyWindow(wnd);
    }

    // Settings of a fast test reader on the simulator's TCP port.
    void UseTcp(uint32_t flags = READER_BINARY)
    {
        uint16_t port = sim->ListenTcp();
        ASSERT_NE(0, port);
        reader->SetPortName(L"127.0.0.1:" + std::to_wstring(port));
        Configure([&](ReaderSettings& s) {
            s.receiveTimeout = 400;
            s.maxTries = 1;
            s.connectTimeout = 2000;
            s.connectPeriod = 3000;
            s.flags = flags;
        });
    }

    void SetPort(const std::wstring& name) { reader->SetPortName(name); }

    template <class F>
    void Configure(F f)
    {
        ReaderSettings s = reader->GetSettings();
        f(s);
        reader->SetSettings(s);
    }

    void Drain()
    {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
        std::unique_ptr<CTNMsg> msg;
        while (reader->PopNotification(msg)) {
            Seen s;
            s.type = msg->m_type;
            if (auto* k = dynamic_cast<CRdKeyMsg*>(msg.get())) {
                s.keyType = k->m_keyType;
                s.key = Hex(k->m_keyNumber);
                s.extra = k->m_extra;
            } else if (auto* e = dynamic_cast<CRdErrorMsg*>(msg.get())) {
                s.code = e->m_code;
                s.text = e->m_text;
            }
            seen.push_back(s);
        }
    }

    // Pumps the test thread's messages and drains the queue until cond holds.
    template <class F>
    bool WaitFor(F cond, DWORD timeout = 6000)
    {
        const DWORD start = GetTickCount();
        for (;;) {
            Drain();
            if (cond())
                return true;
            if (GetTickCount() - start > timeout)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    int Count(int type) const
    {
        int n = 0;
        for (const auto& s : seen)
            n += s.type == type;
        return n;
    }
    std::vector<std::string> Keys() const
    {
        std::vector<std::string> keys;
        for (const auto& s : seen)
            if (s.type == RDMSG_KEY)
                keys.push_back(s.key);
        return keys;
    }
    std::vector<HRESULT> Errors() const
    {
        std::vector<HRESULT> codes;
        for (const auto& s : seen)
            if (s.type == RDMSG_ERROR)
                codes.push_back(s.code);
        return codes;
    }
    // The debug log as written so far.
    std::wstring LogText()
    {
        std::string bytes;
        HANDLE h = CreateFileW(temp.File(L"Norvane.log").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return std::wstring();
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n)
            bytes.append(buf, n);
        CloseHandle(h);
        return MultiByteToWString(bytes, CP_ACP);
    }
    bool Logged(const std::wstring& text) { return LogText().find(text) != std::wstring::npos; }
    int LogCount(const std::wstring& text)
    {
        const std::wstring log = LogText();
        int n = 0;
        for (size_t p = log.find(text); p != std::wstring::npos; p = log.find(text, p + 1))
            ++n;
        return n;
    }
    // The debug-log lines that hold text, in order.
    std::vector<std::wstring> LogLinesWith(const std::wstring& text)
    {
        std::vector<std::wstring> lines;
        const std::wstring log = LogText();
        for (size_t from = 0; from < log.size();) {
            size_t end = log.find(L'\n', from);
            if (end == std::wstring::npos)
                end = log.size();
            std::wstring line = log.substr(from, end - from);
            if (line.find(text) != std::wstring::npos)
                lines.push_back(line);
            from = end + 1;
        }
        return lines;
    }
    // Milliseconds from the earlier log line's time stamp to the later one's: the program's own
    // clock, which does not count how late a test saw what happened.
    static int LogGap(const std::wstring& earlier, const std::wstring& later)
    {
        auto ms = [](const std::wstring& line) {
            int h = 0, m = 0, s = 0, f = 0;
            std::swscanf(line.c_str(), L"%d:%d:%d.%d", &h, &m, &s, &f);
            return ((h * 60 + m) * 60 + s) * 1000 + f;
        };
        const int day = 24 * 60 * 60 * 1000;
        return (ms(later) - ms(earlier) + day) % day;
    }
    int State() { return reader->GetState(); }
    bool Connected() { return Count(RDMSG_CONNECT) > 0; }

    CWinsock winsock;
    CTempFolder temp;
    CTestLogSettings logSettings;
    std::unique_ptr<CAppContext> app;
    std::unique_ptr<CReaderSim> sim;
    std::unique_ptr<CReader> reader;
    HWND wnd = nullptr;
    int posts = 0;
    std::vector<Seen> seen;
};

