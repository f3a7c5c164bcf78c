#include "reader/Reader.h"
#include <algorithm>
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "comm/ComPort.h"
#include "reader/ReaderModels.h"
#include "resources/resource.h"

namespace {

// Repeating errors of the loop are reported at first and then ever more rarely.
constexpr DWORD kFirstErrorPause = 100;
constexpr DWORD kMaxErrorPause = 6400;
constexpr DWORD kRepeatReportInterval = 60000;

} // namespace

CReader::CReader() : pollPeriod(333), m_channel(m_cs, WM_USER + 1)
{
    InitializeCriticalSection(&m_cs);
    m_channel.SetLogSink([this](const wchar_t* text) { LogInfoText(L"%s", text); });
}

CReader::~CReader()
{
    Stop();
    for (HANDLE& h : events) {
        if (h)
            CloseHandle(h);
        h = nullptr;
    }
    m_channel.DiscardAll();
    DeleteCriticalSection(&m_cs);
}

void CReader::CreateEvents()
{
    for (HANDLE& h : events) {
        if (h)
            continue;
        h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!h)
            ThrowOSError(GetLastError());
    }
}

void CReader::SetNotifyWindowSource(CTNMsgChannel::WindowSource source)
{
    CCriticalSectionLock lock(&m_cs);
    m_windowSource = source;
    m_channel.SetWindowSource(std::move(source));
}

// Owner side ---------------------------------------------------------------------------------

void CReader::Start()
{
    {
        CCriticalSectionLock lock(&m_cs);
        requests |= RDREQ_RECONNECT;
        model = 0;
        serial = -1;
        version = 0;
    }
    CThread::Start();
}

void CReader::Stop()
{
    if (IsStarted()) {
        RequestStop();
        if (events[EV_CANCEL])
            SetEvent(events[EV_CANCEL]);
        if (events[EV_WAKE])
            SetEvent(events[EV_WAKE]);
        CThread::Stop();
    }
    try {
        Disconnect();
    } catch (const std::exception& e) {
        LogWarningText(L"%hs", e.what());
    }
}

void CReader::Reconnect()
{
    bool noPort;
    {
        CCriticalSectionLock lock(&m_cs);
        noPort = portName.empty();
    }
    if (noPort) {
        Stop();
    } else if (IsStarted()) {
        {
            CCriticalSectionLock lock(&m_cs);
            requests |= RDREQ_RECONNECT;
        }
        SetEvent(events[EV_CANCEL]);
        SetEvent(events[EV_WAKE]);
    } else {
        Start();
    }
}

void CReader::SetTemicParams(const TemicSettings& t)
{
    CCriticalSectionLock lock(&m_cs);
    TemicSettings& mine = readKeys.temic;
    if (mine.enabled == t.enabled && mine.flags == t.flags && mine.block == t.block && mine.count == t.count &&
        mine.password == t.password && mine.params == t.params)
        return;
    mine = t;
    requests |= RDREQ_SETTINGS;
}

bool CReader::PopNotification(std::unique_ptr<CTNMsg>& msg) { return m_channel.PopNotification(msg); }

// Thread body ---------------------------------------------------------------------------------

void CReader::LowerWait(DWORD ms)
{
    if (ms < m_nextWait)
        m_nextWait = ms;
}

DWORD CReader::Run()
{
    while (IsRunning()) {
        try {
            bool pending;
            {
                CCriticalSectionLock lock(&m_cs);
                pending = requests != 0;
            }
            if (pending)
                ProcessRequests();
            m_nextWait = INFINITE;
            // State and model are written by this thread only.
            if (model == kReaderModelPcsc) {
                // Events first: one of them may be the reader's going away.
                bool cardEvents;
                {
                    CCriticalSectionLock lock(&m_cs);
                    cardEvents = !m_ccidEvents.empty();
                }
                if (cardEvents)
                    ProcessCardEvents();
                if (state == RDST_DISCONNECTED)
                    ConnectIfDue();
            } else {
                if (state != RDST_CONNECTED && !(m_flags & RTF_UNSUPPORTED))
                    ConnectIfDue();
                if (state == RDST_CONNECTED) {
                    HRESULT job;
                    {
                        CCriticalSectionLock lock(&m_cs);
                        job = jobState;
                    }
                    if (job == RDJOB_PENDING)
                        RunJob();
                    ProtocolStep();
                }
            }
            WaitForEvents();
        } catch (const CKvPortException& e) {
            OnThreadError(3, e.GetCode(), MultiByteToWString(e.what(), CP_ACP));
        } catch (const COSException& e) {
            OnThreadError(2, HRESULT_FROM_WIN32(e.GetCode()), MultiByteToWString(e.what(), CP_ACP));
        } catch (const std::exception& e) {
            OnThreadError(1, E_FAIL, MultiByteToWString(e.what(), CP_ACP));
        }
    }
    try {
        Disconnect();
    } catch (...) {
        // The thread is ending; the port is released whatever the reader answers.
    }
    return 0;
}

void CReader::ConnectIfDue()
{
    int period;
    {
        CCriticalSectionLock lock(&m_cs);
        period = settings.connectPeriod;
    }
    if (m_attempted) {
        if (period == -1)
            return;
        DWORD elapsed = GetTickCount() - m_lastAttempt;
        if (elapsed < static_cast<DWORD>(period)) {
            LowerWait(static_cast<DWORD>(period) - elapsed);
            return;
        }
    }
    if (!ConnectReader() && IsRunning() && period != -1)
        LowerWait(static_cast<DWORD>(period));
}

void CReader::ProtocolStep()
{
    switch (m_protocol) {
    case RDPROT_TEXT: TextProtocolTick(); break;
    case RDPROT_FRAME: FrameProtocolTick(); break;
    case RDPROT_ESCAPED: EscapedProtocolTick(); break;
    case RDPROT_BYTE: ByteProtocolTick(); break;
    default: break;
    }
}

// A serial driver that fails to signal would leave bytes lying unread for good (seen under
// Wine): a long wait on a connected serial port is cut into slices, and after each quiet slice
// the port is asked whether input lies there unannounced. Healthy ports answer no at the cost
// of one driver call a slice.
DWORD CReader::WaitWatchingPort(HANDLE (&waits)[4])
{
    const bool watch = state == RDST_CONNECTED && m_port && dynamic_cast<CKvComPort*>(m_port) != nullptr;
    if (!watch)
        return WaitForMultipleObjects(4, waits, FALSE, m_nextWait);
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD slice = kMissedInputSliceMs;
        if (m_nextWait != INFINITE) {
            const DWORD passed = TicksSince(start);
            if (passed >= m_nextWait)
                return WAIT_TIMEOUT;
            slice = std::min(slice, m_nextWait - passed);
        }
        const DWORD r = WaitForMultipleObjects(4, waits, FALSE, slice);
        if (r != WAIT_TIMEOUT)
            return r;
        bool arrived = false;
        HRESULT hr = m_port->CheckMissedInput(&arrived);
        if (FAILED(hr))
            ThrowPortError(hr, m_cp.portName.c_str());
        if (arrived)
            return kMissedInput;
    }
}

void CReader::WaitForEvents()
{
    HANDLE waits[4] = {events[EV_WAKE], events[EV_WRITE_DONE], events[EV_READ_DONE], events[EV_COMM]};
    DWORD r = WaitWatchingPort(waits);
    ++m_wakes;
    if (r == WAIT_TIMEOUT)
        return;
    if (r == kMissedInput) {
        m_flags |= RTF_INPUT;
        return;
    }
    if (r == WAIT_FAILED)
        ThrowOSError(GetLastError());   // a broken wait must not turn into a spinning loop
    const DWORD i = r - WAIT_OBJECT_0;
    if (i >= 4)
        return;
    ResetEvent(waits[i]);
    if (state != RDST_CONNECTED || !m_port || i == 0)
        return;
    HRESULT hr = i == 1 ? m_port->CompleteWrite() : i == 2 ? m_port->CompleteRead() : m_port->CompleteEvent();
    if (FAILED(hr))
        ThrowPortError(hr, m_cp.portName.c_str());
    // A completed read holds bytes as well: under Wine the comm event may not follow it.
    if (i == 2 || i == 3)
        m_flags |= RTF_INPUT;
}

void CReader::ProcessRequests()
{
    ResetEvent(events[EV_CANCEL]);
    uint32_t req;
    DWORD speed;
    int vell4;
    {
        CCriticalSectionLock lock(&m_cs);
        req = requests;
        requests = 0;
        speed = settings.speed;
        vell4 = readKeys.vell4Mode;
        if (settings.flags & READER_DIFFERENT_QM100)
            m_flags |= RTF_QM100;
        else
            m_flags &= ~RTF_QM100;
    }
    if (req & (RDREQ_POLL_ALLOWED | RDREQ_POLL_SUSPENDED)) {
        if (req & RDREQ_POLL_SUSPENDED)
            m_flags |= RTF_POLL_SUSPENDED;
        else
            m_flags &= ~RTF_POLL_SUSPENDED;
    }
    if ((req & RDREQ_SETTINGS) && !(req & RDREQ_RECONNECT)) {
        ApplySpeed(speed);
        m_vell4Mode = vell4;
        m_byteState = 0;
        TemicSettingsChanged();
    }
    if (req & RDREQ_RECONNECT) {
        Disconnect();
        m_flags &= ~RTF_UNSUPPORTED;
        ConnectReader();
    }
}

void CReader::SetState(int s)
{
    CCriticalSectionLock lock(&m_cs);
    if (state == s)
        return;
    state = s;
    changes |= RDCHG_STATE;
    Post();
}

void CReader::Post()
{
    // Called with the lock held, as the queue's own posts are.
    HWND wnd = m_windowSource ? m_windowSource() : nullptr;
    if (wnd)
        PostMessageW(wnd, WM_USER + 1, 0, 0);
}

void CReader::SetLastError(HRESULT code, const std::wstring& text)
{
    std::wstring t = text.empty() ? GetResultCodeText(code) : text;
    CCriticalSectionLock lock(&m_cs);
    lastError = code;
    lastErrorText = std::move(t);
}

HRESULT CReader::GetLastErrorCode()
{
    CCriticalSectionLock lock(&m_cs);
    return lastError;
}

void CReader::FinishJob(HRESULT result)
{
    CCriticalSectionLock lock(&m_cs);
    if (jobState != RDJOB_PENDING)
        return;
    jobState = result;
    changes |= RDCHG_JOB;
    Post();
}

void CReader::OnThreadError(int kind, HRESULT code, const std::wstring& text)
{
    SetLastError(code, text);
    FinishJob(code);
    if (code == E_ABORT) {
        if (kind == 3)
            Disconnect();
        return;
    }

    // The same error over and over (a broken wait, a protocol step that fails each turn)
    // must neither flood the UI nor spin: the pause doubles and repeats are reported at most
    // once a minute until another error or a good connection breaks the run.
    const DWORD now = GetTickCount();
    const bool repeat = code == m_repeatCode && m_repeatPause != 0;
    m_repeatPause = repeat ? std::min(m_repeatPause * 2, kMaxErrorPause) : kFirstErrorPause;
    m_repeatCode = code;
    const bool report = !repeat || now - m_lastErrorReport >= kRepeatReportInterval;

    std::wstring shown = text.empty() ? GetResultCodeText(code) : text;
    if (report) {
        LogError(kind == 3 ? IDS_LOG_PORT_ERROR : IDS_LOG_ERROR, static_cast<unsigned>(code), shown.c_str());
        m_lastErrorReport = now;
    }
    if (kind == 3)
        Disconnect();
    if (report) {
        {
            CCriticalSectionLock lock(&m_cs);
            changes |= RDCHG_ERROR;
            Post();
        }
        PushErrorNotification(code, shown);
    }
    if (WaitForSingleObject(events[EV_WAKE], m_repeatPause) == WAIT_FAILED)
        Sleep(m_repeatPause);
}

// Disconnect ---------------------------------------------------------------------------------

void CReader::ClosePort()
{
    if (!m_port)
        return;
    if (m_port->IsOpen()) {
        m_port->Close();
        LogInfo(IDS_LOG_PORT_CLOSED);
    }
    m_port->Release();
    m_port = nullptr;
}

void CReader::Disconnect()
{
    if (m_port) {
        if (m_flags & RTF_SPEED_ON_COMMAND) {
            // Leave the reader in text mode at 9600 Bd, as a fresh connection expects it.
            ResetEvent(events[EV_CANCEL]);
            try {
                DWORD speed = 0;
                BYTE stop = 0, evChar = 0;
                m_port->GetParams(&speed, &stop, &evChar);
                if (evChar)
                    m_port->SetParams(speed, stop, 0);
                if (m_protocol == RDPROT_FRAME)
                    SendIndication(0x95);
                SendModeSpeed(0, 0);
            } catch (const std::exception& e) {
                LogWarningText(L"%hs", e.what());
            }
            m_flags &= ~RTF_SPEED_ON_COMMAND;
        } else if (!IsStarted()) {
            ResetEvent(events[EV_CANCEL]);
        }
        ClosePort();
    }
    LeaveCcid();
    if (events[EV_WAKE])
        SetEvent(events[EV_WAKE]);
    m_protocol = RDPROT_NONE;
    bool wasConnected;
    {
        CCriticalSectionLock lock(&m_cs);
        wasConnected = state == RDST_CONNECTED;
    }
    if (wasConnected) {
        // A lost connection is tried again a whole connect period later.
        m_lastAttempt = GetTickCount();
        SetState(RDST_DISCONNECTED);
        LogInfo(IDS_LOG_READER_DISCONNECTED);
        PushDisconnectNotification();
    }
}

// Jobs ----------------------------------------------------------------------------------------

void CReader::RunJob()
{
    int type, param;
    std::vector<_KEY_NUMBER> keys;
    {
        CCriticalSectionLock lock(&m_cs);
        type = jobType;
        param = jobParam;
        keys = jobKeys;
    }
    HRESULT result = S_OK;
    if (type == RDJOB_TEMIC_INIT) {
        const bool temicModel = model == 6 || model == 10 || (model == 1 && version > 105);
        if (!temicModel || m_protocol != RDPROT_TEXT)
            result = KV_E_NOT_SUPPORTED;
        else
            result = InitializeTemicCard() ? S_OK : GetLastErrorCode();
    } else if (type == RDJOB_WRITE_KEYS) {
        if (m_protocol != RDPROT_FRAME) {
            result = KV_E_NOT_SUPPORTED;
        } else {
            for (size_t i = 0; i < keys.size(); ++i) {
                {
                    CCriticalSectionLock lock(&m_cs);
                    if (jobState != RDJOB_PENDING)
                        return;
                }
                if (keys[i].length == 0)
                    continue;
                const int bank = i > 15 ? 1 : 0;
                const int slot = i > 15 ? static_cast<int>(i) - 16 : static_cast<int>(i);
                if (!WriteReaderKey(bank, slot, keys[i], param != 0)) {
                    result = GetLastErrorCode();
                    break;
                }
                CCriticalSectionLock lock(&m_cs);
                ++jobProgress;
            }
        }
    }
    if (FAILED(result))
        SetLastError(result);
    FinishJob(result);
}

// Notifications ------------------------------------------------------------------------------

void CReader::PushKeyNotification(int keyType, const _KEY_NUMBER& key, uint32_t extra)
{
    m_channel.PushKeyNotification(keyType, key, extra);
}

void CReader::PushConnectNotification() { m_channel.PushConnectNotification(); }

void CReader::PushDisconnectNotification() { m_channel.PushDisconnectNotification(); }

void CReader::PushErrorNotification(HRESULT code, const std::wstring& text)
{
    m_channel.PushErrorNotification(code, text.empty() ? nullptr : text.c_str());
}
