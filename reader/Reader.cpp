#include "reader/Reader.h"
#include <algorithm>
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "comm/ComPort.h"
#include "reader/ReaderFrame.h"
#include "reader/ReaderModels.h"
#include "reader/ReaderProtocol.h"
#include "resources/resource.h"

namespace {

// Repeating errors of the loop are reported at first and then ever more rarely.
constexpr DWORD kFirstErrorPause = 100;
constexpr DWORD kMaxErrorPause = 6400;
constexpr DWORD kRepeatReportInterval = 60000;

} // namespace

CReader::CReader() : pollPeriod(333), m_channel(*m_cs.Get(), WM_READER_NOTIFY)
{
    m_channel.SetLogSink([this](const wchar_t* text) { LogInfoText(L"%s", text); });
}

CReader::~CReader()
{
    Stop();
    for (CEvent& e : events)
        e.Close();
    m_channel.DiscardAll();
}

void CReader::CreateEvents()
{
    for (CEvent& e : events)
        if (!e.Create(true, false))
            ThrowOSError(GetLastError());
}

void CReader::SetNotifyWindowSource(CTNMsgChannel::WindowSource source)
{
    CCriticalSectionLock lock(m_cs);
    m_windowSource = source;
    m_channel.SetWindowSource(std::move(source));
}

// Owner side ---------------------------------------------------------------------------------

void CReader::Start()
{
    {
        CCriticalSectionLock lock(m_cs);
        m_requests |= RDREQ_RECONNECT;
        m_model = 0;
        m_serial = -1;
        m_version = 0;
    }
    CThread::Start();
}

void CReader::Stop()
{
    if (IsStarted()) {
        // The cancel goes before the request the thread acts on: its leave resets the cancel
        // to send its last frames, and a cancel landing after that would cut them off.
        if (events[EV_CANCEL])
            SetEvent(events[EV_CANCEL]);
        RequestStop();
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
    if (GetPortName().empty()) {
        Stop();
    } else if (IsStarted()) {
        // Cancel first, as in Stop.
        SetEvent(events[EV_CANCEL]);
        {
            CCriticalSectionLock lock(m_cs);
            m_requests |= RDREQ_RECONNECT;
        }
        SetEvent(events[EV_WAKE]);
    } else {
        Start();
    }
}

void CReader::Wake()
{
    if (events[EV_WAKE])
        SetEvent(events[EV_WAKE]);
}

std::wstring CReader::GetPortName() const
{
    CCriticalSectionLock lock(m_cs);
    return m_portName;
}

void CReader::SetPortName(const std::wstring& name)
{
    CCriticalSectionLock lock(m_cs);
    m_portName = name;
}

ReaderSettings CReader::GetSettings() const
{
    CCriticalSectionLock lock(m_cs);
    return m_settings;
}

void CReader::SetSettings(const ReaderSettings& wanted)
{
    // Flags that decide the protocol or how the port is opened.
    constexpr uint32_t kReopenFlags = READER_WIEGAND | READER_BINARY | READER_PROT_VELL4;
    CCriticalSectionLock lock(m_cs);
    if (m_settings.model != wanted.model || m_settings.stopBits != wanted.stopBits ||
        ((m_settings.flags ^ wanted.flags) & kReopenFlags))
        m_requests |= RDREQ_RECONNECT;
    if (m_settings.speed != wanted.speed)
        m_requests |= RDREQ_SETTINGS;
    m_settings = wanted;
}

ReadKeysSettings CReader::GetCardReading() const
{
    CCriticalSectionLock lock(m_cs);
    return m_readKeys;
}

void CReader::SetCardReading(const ReadKeysSettings& wanted)
{
    CCriticalSectionLock lock(m_cs);
    m_readKeys.keyTypes = wanted.keyTypes;
    m_readKeys.classic = wanted.classic;
    m_readKeys.plus = wanted.plus;
    m_readKeys.ultralight = wanted.ultralight;
    SetVell4Mode(wanted.vell4Mode);
    SetTemicParams(wanted.temic);
}

void CReader::SetTemicParams(const TemicSettings& t)
{
    CCriticalSectionLock lock(m_cs);
    TemicSettings& mine = m_readKeys.temic;
    if (mine.enabled == t.enabled && mine.flags == t.flags && mine.block == t.block && mine.count == t.count &&
        mine.password == t.password && mine.params == t.params)
        return;
    mine = t;
    m_requests |= RDREQ_SETTINGS;
}

bool CReader::SetVell4Mode(int32_t mode)
{
    CCriticalSectionLock lock(m_cs);
    if (m_readKeys.vell4Mode == mode)
        return false;
    m_readKeys.vell4Mode = mode;
    m_requests |= RDREQ_SETTINGS;
    return true;
}

void CReader::SetPolling(bool allowed)
{
    CCriticalSectionLock lock(m_cs);
    m_requests &= ~(RDREQ_POLL_ALLOWED | RDREQ_POLL_SUSPENDED);
    m_requests |= allowed ? RDREQ_POLL_ALLOWED : RDREQ_POLL_SUSPENDED;
}

size_t CReader::Configure(const ReaderSettings& wanted, const ReadKeysSettings& cardReading, bool polling)
{
    CTNMsgQueue discarded;
    {
        CCriticalSectionLock lock(m_cs);
        SetSettings(wanted);
        SetCardReading(cardReading);
        SetPolling(polling);
        m_channel.Queue().Swap(discarded);
    }
    const size_t count = discarded.Size();
    discarded.Clear();
    return count;
}

uint32_t CReader::TakeChanges()
{
    CCriticalSectionLock lock(m_cs);
    const uint32_t changes = m_changes;
    m_changes = 0;
    return changes;
}

int CReader::GetState() const
{
    CCriticalSectionLock lock(m_cs);
    return m_state;
}

ReaderStatus CReader::GetStatus() const
{
    CCriticalSectionLock lock(m_cs);
    ReaderStatus status;
    status.state = m_state;
    status.model = m_model;
    status.serial = m_serial;
    status.version = m_version;
    status.versionText = m_versionText;
    status.temicStep = m_temicStep;
    status.temicSteps = m_temicSteps;
    status.temicParam = m_temicParam;
    return status;
}

void CReader::StartJob(int type, int param, std::vector<_KEY_NUMBER> keys, int total)
{
    CCriticalSectionLock lock(m_cs);
    m_job.type = type;
    m_job.param = param;
    m_job.keys = std::move(keys);
    m_job.progress = 0;
    m_job.total = total;
    m_job.state = RDJOB_PENDING;
}

ReaderJob CReader::GetJob() const
{
    CCriticalSectionLock lock(m_cs);
    return m_job;
}

bool CReader::AbortJob()
{
    CCriticalSectionLock lock(m_cs);
    if (m_job.state != RDJOB_PENDING)
        return false;
    m_job.state = E_ABORT;
    return true;
}

void CReader::ForgetJob()
{
    CCriticalSectionLock lock(m_cs);
    m_job.type = 0;
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
                CCriticalSectionLock lock(m_cs);
                pending = m_requests != 0;
            }
            if (pending)
                ProcessRequests();
            m_nextWait = INFINITE;
            // State and model are written by this thread only.
            if (m_model == kReaderModelPcsc) {
                // Events first: one of them may be the reader's going away.
                bool cardEvents;
                {
                    CCriticalSectionLock lock(m_cs);
                    cardEvents = !m_ccidEvents.empty();
                }
                if (cardEvents)
                    ProcessCardEvents();
                if (m_state == RDST_DISCONNECTED)
                    ConnectIfDue();
            } else {
                if (m_state != RDST_CONNECTED && !(m_flags & RTF_UNSUPPORTED))
                    ConnectIfDue();
                if (m_state == RDST_CONNECTED) {
                    if (JobPending())
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
    } catch (const std::exception& e) {
        // The thread is ending; the port is released whatever the reader answers.
        LogWarningText(L"%hs", e.what());
    }
    return 0;
}

void CReader::ConnectIfDue()
{
    int period;
    {
        CCriticalSectionLock lock(m_cs);
        period = m_settings.connectPeriod;
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
    if (!m_protocol)
        return;
    if (m_flags & RTF_INPUT) {
        m_flags &= ~RTF_INPUT;
        m_protocol->Input();
    }
    m_protocol->Tick();
}

int CReader::ProtocolId() const
{
    return m_protocol ? m_protocol->Id() : RDPROT_NONE;
}

// A serial driver that fails to signal would leave bytes lying unread for good (seen under
// Wine): a long wait on a connected serial port is cut into slices, and after each quiet slice
// the port is asked whether input lies there unannounced. Healthy ports answer no at the cost
// of one driver call a slice.
DWORD CReader::WaitWatchingPort(HANDLE (&waits)[4])
{
    const bool watch = m_state == RDST_CONNECTED && m_port && dynamic_cast<CKvComPort*>(m_port.Get()) != nullptr;
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
    if (m_state != RDST_CONNECTED || !m_port || i == 0)
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
    {
        CCriticalSectionLock lock(m_cs);
        req = m_requests;
        m_requests = 0;
        speed = m_settings.speed;
        if (m_settings.flags & READER_DIFFERENT_QM100)
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
        if (m_protocol)
            m_protocol->SettingsChanged();
    }
    if (req & RDREQ_RECONNECT) {
        Disconnect();
        m_flags &= ~RTF_UNSUPPORTED;
        ConnectReader();
    }
}

void CReader::SetState(int s)
{
    CCriticalSectionLock lock(m_cs);
    if (m_state == s)
        return;
    m_state = s;
    m_changes |= RDCHG_STATE;
    Post();
}

void CReader::RaiseChange(uint32_t bits)
{
    CCriticalSectionLock lock(m_cs);
    m_changes |= bits;
    Post();
}

void CReader::SetTemicScan(int step, int steps, uint32_t param)
{
    CCriticalSectionLock lock(m_cs);
    if (step == m_temicStep && steps == m_temicSteps && param == m_temicParam)
        return;
    m_temicStep = step;
    m_temicSteps = steps;
    m_temicParam = param;
    m_changes |= RDCHG_CARD_STATE;
    Post();
}

void CReader::Post()
{
    // Called with the lock held, as the queue's own posts are.
    HWND wnd = m_windowSource ? m_windowSource() : nullptr;
    if (wnd)
        PostMessageW(wnd, WM_READER_NOTIFY, 0, 0);
}

void CReader::SetLastError(HRESULT code, const std::wstring& text)
{
    std::wstring t = text.empty() ? GetResultCodeText(code) : text;
    CCriticalSectionLock lock(m_cs);
    m_lastError = code;
    m_lastErrorText = std::move(t);
}

HRESULT CReader::GetLastErrorCode()
{
    CCriticalSectionLock lock(m_cs);
    return m_lastError;
}

bool CReader::JobPending()
{
    CCriticalSectionLock lock(m_cs);
    return m_job.state == RDJOB_PENDING;
}

void CReader::FinishJob(HRESULT result)
{
    CCriticalSectionLock lock(m_cs);
    if (m_job.state != RDJOB_PENDING)
        return;
    m_job.state = result;
    m_changes |= RDCHG_JOB;
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
        RaiseChange(RDCHG_ERROR);
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
    m_port.Reset();
}

void CReader::Disconnect()
{
    if (m_port) {
        const bool speedOnCommand = (m_flags & RTF_SPEED_ON_COMMAND) && m_frames;
        // The binary frame protocol leaves every reader in text mode, whatever its speed.
        const bool frames = ProtocolId() == RDPROT_FRAME;
        if (speedOnCommand || frames || !IsStarted())
            ResetEvent(events[EV_CANCEL]);
        try {
            if (speedOnCommand) {
                // Leave the reader in text mode at 9600 Bd, as a fresh connection expects it.
                DWORD speed = 0;
                BYTE stop = 0, evChar = 0;
                m_port->GetParams(&speed, &stop, &evChar);
                if (evChar)
                    m_port->SetParams(speed, stop, 0);
            }
            if (m_protocol)
                m_protocol->Disconnect();
            if (speedOnCommand && !frames)
                m_frames->SendModeSpeed(0, 0);
        } catch (const std::exception& e) {
            LogWarningText(L"%hs", e.what());
        }
        m_flags &= ~RTF_SPEED_ON_COMMAND;
        ClosePort();
    }
    LeaveCcid();
    SetTemicScan(0, 0, 0);
    if (events[EV_WAKE])
        SetEvent(events[EV_WAKE]);
    m_protocol.reset();
    m_frames.reset();
    bool wasConnected;
    {
        CCriticalSectionLock lock(m_cs);
        wasConnected = m_state == RDST_CONNECTED;
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
    ReaderJob job = GetJob();
    HRESULT result = S_OK;
    if (job.type == RDJOB_TEMIC_INIT || job.type == RDJOB_WRITE_KEYS)
        result = m_protocol ? m_protocol->RunJob(job) : KV_E_NOT_SUPPORTED;
    // A job the owner gave up on ends without a word.
    if (!JobPending())
        return;
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
