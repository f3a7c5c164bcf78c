#pragma once
// Reaches inside the reader thread for tests: its port and receive path driven directly, and
// the thread's side of the shared fields played by the test.
#include <windows.h>
#include <string>
#include "core/SysUtil.h"
#include "reader/Reader.h"
#include "reader/ReaderFrame.h"
#include "reader/ReaderLines.h"
#include "reader/ReaderProtocol.h"

class CReaderTestPeer {
public:
    // Opens the port of p on a reader whose thread does not run.
    static void OpenPort(CReader& r, const ReaderConnectParams& p)
    {
        r.m_cp = p;
        r.OpenPort(9600);
    }
    static void Close(CReader& r) { r.ClosePort(); }
    static bool ReadLines(CReader& r, std::string& out, int lines, DWORD timeout)
    {
        return r.ReadReplyLines(out, lines, timeout, false);
    }
    static int Available(CReader& r) { return r.PortBytesAvailable(); }

    // The text-line protocol on the open port, as on a connection.
    static void UseTextProtocol(CReader& r) { r.m_protocol = CreateReaderProtocol(RDPROT_TEXT, r); }
    static void ReceiveLines(CReader& r) { static_cast<CTextProtocol&>(*r.m_protocol).ReceiveLines(); }
    static size_t KeysInField(CReader& r) { return r.m_keys.size(); }
    static size_t Buffered(CReader& r) { return r.m_recv.size(); }

    // The binary frames on the open port, as on a connection of a Mifare reader.
    static CFrameLink& UseFrameLink(CReader& r)
    {
        r.m_frames = std::make_unique<CFrameLink>(r);
        return *r.m_frames;
    }
    static void SetLimits(CReader& r, int tries, int timeout)
    {
        r.m_cp.maxTries = tries;
        r.m_cp.receiveTimeout = timeout;
    }
    static void SetSpeedChanged(CReader& r) { r.m_flags |= RTF_SPEED_CHANGED; }
    static HRESULT LastError(CReader& r) { return r.GetLastErrorCode(); }

    // The owner's lock, held by a test that must see a request before the thread takes it.
    static CRITICAL_SECTION& Lock(CReader& r) { return *r.m_cs.Get(); }
    static uint32_t Requests(CReader& r)
    {
        CCriticalSectionLock lock(r.m_cs);
        return r.m_requests;
    }

    // The thread's side of a job and of the identification.
    static void SetJob(CReader& r, int type, HRESULT state, int progress, int total)
    {
        CCriticalSectionLock lock(r.m_cs);
        r.m_job.type = type;
        r.m_job.state = state;
        r.m_job.progress = progress;
        r.m_job.total = total;
    }
    static void SetTemicScan(CReader& r, int step, int steps, uint32_t param) { r.SetTemicScan(step, steps, param); }
    static void SetIdentity(CReader& r, int model, int serial, PackedVersion version, const std::wstring& text)
    {
        CCriticalSectionLock lock(r.m_cs);
        r.m_model = model;
        r.m_serial = serial;
        r.m_version = version;
        r.m_versionText = text;
    }
};
