// Connecting: opening the port, identifying the reader and setting up its protocol.
#include <algorithm>
#include "config/KeyNumber.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "comm/ComPort.h"
#include "core/SysUtil.h"
#include "reader/Reader.h"
#include "reader/ReaderFrame.h"
#include "reader/ReaderModels.h"
#include "comm/TcpPort.h"
#include "reader/ReaderProtocol.h"
#include "reader/ReaderText.h"
#include "resources/resource.h"

namespace {

const wchar_t* StopBitsText(BYTE code)
{
    return code == 1 ? L"1.5" : code == 2 ? L"2" : L"1";
}

// A reply longer than this many lines without its last line is not a version reply.
constexpr int kMaxVersionLines = 32;
constexpr size_t kMaxCardEvents = 64;

} // namespace

bool CReader::ConnectReader()
{
    m_lastAttempt = GetTickCount();
    m_attempted = true;
    if (m_state == RDST_CONNECTED)
        return true;
    SetState(RDST_CONNECTING);

    {
        CCriticalSectionLock lock(m_cs);
        m_cp.portName = m_portName;
        m_cp.stopBits = m_settings.stopBits;
        m_cp.connectTimeout = m_settings.connectTimeout;
        m_cp.checkInPeriod = m_settings.checkInPeriod;
        m_cp.receiveTimeout = m_settings.receiveTimeout;
        // A typed or stored 0 would leave every request unasked.
        m_cp.maxTries = std::max(1, m_settings.maxTries);
        m_cp.flags = m_settings.flags;
        m_cp.model = m_settings.model;
        m_cp.speed = m_settings.speed;
    }

    try {
        std::wstring text;
        if (ConnectByModel(m_cp, text)) {
            m_protocol.reset();
            m_frames.reset();
            m_flags &= ~RTF_CLEARED_ON_CONNECT;
            if (m_cp.flags & READER_DIFFERENT_QM100)
                m_flags |= RTF_QM100;
            ClearKeyPresence();
            m_noCard = false;
            m_overflowReported = false;
            m_connectTick = GetTickCount();
            if (SetupProtocol()) {
                {
                    CCriticalSectionLock lock(m_cs);
                    m_versionText = text;
                }
                if (m_model != kReaderModelPcsc || (m_ccid && m_ccidId && m_ccid->IsReaderAvailable(m_ccidId)))
                    MarkConnected();
            }
        }
    } catch (const CKvPortException& e) {
        SetLastError(e.GetCode(), MultiByteToWString(e.what(), CP_ACP));
    } catch (const std::exception& e) {
        SetLastError(E_FAIL, MultiByteToWString(e.what(), CP_ACP));
    }

    if (m_state == RDST_CONNECTING && m_model != kReaderModelPcsc) {
        SetState(RDST_DISCONNECTED);
        HRESULT code;
        std::wstring text;
        {
            CCriticalSectionLock lock(m_cs);
            code = m_lastError;
            text = m_lastErrorText;
        }
        if (code != E_ABORT) {
            std::wstring shown = LoadResStringText(IDS_UNABLE_TO_CONNECT);
            shown += L' ';
            shown += text;
            PushErrorNotification(code, shown);
        }
        LogError(IDS_LOG_CONNECT_FAILED, static_cast<unsigned>(code), text.c_str());
        ClosePort();
        m_protocol.reset();
        m_frames.reset();
        FinishJob(code);
    }
    return m_state == RDST_CONNECTED;
}

void CReader::MarkConnected()
{
    SetState(RDST_CONNECTED);
    m_repeatCode = S_OK;
    m_repeatPause = 0;
    std::wstring what = ReaderModelName(m_model);
    if (m_serial != -1) {
        what += L' ';
        what += FormatResText(IDS_SERIAL_NUMBER, m_serial);
    }
    if (m_version != 0) {
        what += L' ';
        what += FormatResText(IDS_FIRMWARE_VERSION, VersionToString(m_version).c_str());
    }
    LogInfo(IDS_LOG_READER_CONNECTED, what.c_str());
    PushConnectNotification();
}

bool CReader::ConnectByModel(const ReaderConnectParams& p, std::wstring& text)
{
    text.clear();
    const int kind = ClassifyPortName(p.portName);
    if (kind == PORT_NAME_OTHER) {
        // A PC/SC reader: the watcher reads its cards on its own thread.
        LeaveCcid();
        HRESULT hr = E_FAIL;
        UINT id = 0;
        if (m_ccid)
            hr = m_ccid->AddReader(p.portName.c_str(), &id, this, &CReader::OnCardEvent, &CReader::CopyCardReading);
        SetLastError(hr);
        if (FAILED(hr)) {
            CCriticalSectionLock lock(m_cs);
            m_model = 0;
            return false;
        }
        m_ccidId = id;
        CCriticalSectionLock lock(m_cs);
        m_model = kReaderModelPcsc;
        m_serial = -1;
        m_version = 0;
        return true;
    }

    uint32_t code = 0;
    int sn = -1;
    PackedVersion fw = 0;
    const ReaderModelInfo& chosen = ReaderModelRow(p.model);
    std::vector<DWORD> asked;
    if (chosen.querySpeed)
        OpenPortAt(chosen.querySpeed);
    else
        OpenPort(9600);
    asked.push_back(chosen.querySpeed ? chosen.querySpeed : 9600);
    bool ok = IdentifyReader(code, sn, fw, p.receiveTimeout, p.maxTries, text);
    if (!ok && chosen.retrySpeed && MayTryAgain()) {
        ReconfigurePort(chosen.retrySpeed, '\n');
        asked.push_back(chosen.retrySpeed);
        ok = IdentifyReader(code, sn, fw, p.receiveTimeout, p.maxTries, text);
    }
    if (!ok && MayTryAgain())
        ok = IdentifyWhereCommanded(p, asked, code, sn, fw, text);
    if (!ok)
        return false;

    const int m = ReaderModelFromCode(code);
    {
        CCriticalSectionLock lock(m_cs);
        m_model = m;
        m_serial = sn;
        m_version = fw;
    }
    if (m == 0) {
        m_flags |= RTF_UNSUPPORTED;
        SetLastError(E_FAIL, FormatResText(IDS_MODEL_NOT_SUPPORTED, static_cast<unsigned>(code)));
        return false;
    }
    return true;
}

bool CReader::MayTryAgain()
{
    const HRESULT why = GetLastErrorCode();
    return why == KV_E_RESPONSE_TIMEOUT || why == KV_E_INVALID_RESPONSE;
}

bool CReader::IdentifyWhereCommanded(const ReaderConnectParams& p, const std::vector<DWORD>& asked, uint32_t& code,
                                     int& sn, PackedVersion& fw, std::wstring& text)
{
    // A reader the program switched keeps its speed, and its binary frames, over a dropped line.
    CommandedLine left;
    if (!FindCommandedLine(p.portName, left))
        return false;
    for (const CommandedPlace& place : left.places) {
        if (!place.binary && std::find(asked.begin(), asked.end(), place.speed) != asked.end())
            continue;
        ReconfigurePort(place.speed, '\n');
        if (place.binary) {
            // Whatever it answers, the version query tells; no answer at all, and nobody is there.
            CFrameLink link(*this);
            if (!link.SendTextMode() && !link.HeardAnything() && GetLastErrorCode() == KV_E_RESPONSE_TIMEOUT)
                continue;
        }
        if (IdentifyReader(code, sn, fw, p.receiveTimeout, p.maxTries, text))
            return true;
        if (!MayTryAgain())
            return false;
    }
    return false;
}

bool CReader::IdentifyReader(uint32_t& code, int& serialOut, PackedVersion& versionOut, int timeout, int tries,
                             std::wstring& text)
{
    const DWORD wait = static_cast<DWORD>(std::max(timeout, 0));
    for (int attempt = 0; attempt < tries; ++attempt) {
        // What is left of an earlier answer is not the reply to this query.
        m_recv.clear();
        PortWrite("i", 1, wait, false);
        std::string reply, line;
        if (!ReadReplyLines(reply, 1, wait, true) || reply.find("S/N:") == std::string::npos)
            continue;
        bool complete = false;
        for (int n = 1; n < kMaxVersionLines && !complete; ++n) {
            if (!ReadReplyLines(line, 1, wait, false))
                break;
            reply += line;
            complete = line.find("Software version:") != std::string::npos || line.find("Build") != std::string::npos;
        }
        if (!complete) {
            if (GetLastErrorCode() != KV_E_RESPONSE_TIMEOUT)
                SetLastError(KV_E_INVALID_RESPONSE);
            continue;
        }
        text = MultiByteToWString(reply, CP_ACP);
        {
            CCriticalSectionLock lock(m_cs);
            m_versionText = text;
        }
        if (ParseReaderVersion(text, code, serialOut, versionOut))
            return true;
        SetLastError(KV_E_INVALID_RESPONSE);
        return false;
    }
    if (GetLastErrorCode() != KV_E_INVALID_RESPONSE || tries <= 0)
        SetLastError(KV_E_RESPONSE_TIMEOUT);
    return false;
}

// Ports ---------------------------------------------------------------------------------------

void CReader::OpenPort(DWORD speed)
{
    const bool network = ClassifyPortName(m_cp.portName) == PORT_NAME_NETWORK;
    if (m_port) {
        std::wstring name;
        m_port->GetName(name);
        const bool isTcp = dynamic_cast<CKvTcpPort*>(m_port.Get()) != nullptr;
        if (name != m_cp.portName || isTcp != network)
            ClosePort();
    }
    if (!m_port) {
        if (network) {
            auto* tcp = new CKvTcpPort();
            tcp->SetTelnetMode((m_cp.flags & READER_NVT) != 0);
            m_port.Reset(tcp);
        } else {
            m_port.Reset(new CKvComPort());
        }
    }
    if (m_port->IsOpen()) {
        m_port->Close();
        LogInfo(IDS_LOG_PORT_CLOSED);
    }
    HRESULT hr = m_port->Init(m_cp.portName.c_str(), events[EV_CANCEL], events[EV_WRITE_DONE], events[EV_READ_DONE],
                              events[EV_COMM]);
    if (SUCCEEDED(hr)) {
        m_port->SetWaitSlice(m_cp.checkInPeriod < 0 ? KV_NO_WAIT_SLICE : static_cast<DWORD>(m_cp.checkInPeriod));
        hr = m_port->SetParams(speed, m_cp.stopBits, '\n');
    }
    if (SUCCEEDED(hr))
        hr = m_port->Open(static_cast<DWORD>(std::max(m_cp.connectTimeout, 0)));
    if (FAILED(hr)) {
        std::wstring why = GetResultCodeText(hr);
        LogError(IDS_LOG_PORT_OPEN_FAILED, static_cast<unsigned>(hr), why.c_str());
        ThrowPortError(hr, m_cp.portName.c_str());
    }
    m_recv.clear();
    LogInfo(IDS_LOG_PORT_OPENED, static_cast<int>(speed), L'N', 8, StopBitsText(m_cp.stopBits));
}

void CReader::OpenPortAt(DWORD speed)
{
    std::wstring name;
    if (m_port && m_port->IsOpen() && SUCCEEDED(m_port->GetName(name)) && name == m_cp.portName)
        ReconfigurePort(speed, '\n');
    else
        OpenPort(speed);
}

void CReader::ReconfigurePort(DWORD speed, BYTE eventChar)
{
    DWORD old = 0;
    BYTE stop = m_cp.stopBits;
    m_port->GetParams(&old, &stop, nullptr);
    m_port->SetWaitSlice(m_cp.checkInPeriod < 0 ? KV_NO_WAIT_SLICE : static_cast<DWORD>(m_cp.checkInPeriod));
    HRESULT hr = m_port->SetParams(speed, stop, eventChar);
    if (FAILED(hr)) {
        std::wstring why = GetResultCodeText(hr);
        LogError(IDS_LOG_PORT_RECONFIG_FAILED, static_cast<int>(speed), L'N', 8, StopBitsText(stop),
                 static_cast<unsigned>(hr), why.c_str());
        ThrowPortError(hr, m_cp.portName.c_str());
    }
    if (speed != old)
        m_flags |= RTF_SPEED_CHANGED;
    LogInfo(IDS_LOG_PORT_RECONFIGURED, static_cast<int>(speed), L'N', 8, StopBitsText(stop));
}

bool CReader::PortIsTcpWithoutTelnet() const
{
    auto* tcp = dynamic_cast<CKvTcpPort*>(m_port.Get());
    return tcp && !tcp->GetTelnetMode();
}

// Protocol set-up -----------------------------------------------------------------------------

bool CReader::SetupProtocol()
{
    const uint32_t capabilities = ReaderModelFlags(m_model, m_version);
    const int protocol = ReaderProtocolFor(m_model, m_cp.flags);
    if (capabilities & MODEL_BINARY_FRAMES) {
        // The reader's commands go in frames, whatever its protocol: no event character.
        DWORD speed = 0;
        m_port->GetParams(&speed, nullptr, nullptr);
        ReconfigurePort(speed, 0);
        m_flags |= RTF_BINARY_FRAMES;
        if (capabilities & MODEL_SPEED_SWITCH)
            m_flags |= RTF_SPEED_ON_COMMAND;
        m_frames = std::make_unique<CFrameLink>(*this);
    }
    if ((capabilities & MODEL_TEMIC) && protocol == RDPROT_TEXT)
        m_flags |= RTF_EXTENDED;
    m_protocol = CreateReaderProtocol(protocol, *this);
    return !m_protocol || m_protocol->Connect();
}

bool CReader::ApplySpeed(DWORD wanted)
{
    if (m_model == 0 || !m_port)
        return true;
    const int protocol = ProtocolId();
    const uint32_t allowed = ReaderAllowedSpeeds(m_model, m_version, protocol);
    const int index = ChooseReaderSpeedIndex(allowed, wanted, PortIsTcpWithoutTelnet());
    if (index < 0)
        return true;
    DWORD current = 0;
    BYTE evChar = 0;
    m_port->GetParams(&current, nullptr, &evChar);
    if (ReaderSpeeds[index] == current)
        return true;
    try {
        if ((m_flags & RTF_SPEED_ON_COMMAND) && m_frames)
            return m_frames->SendModeSpeed(protocol == RDPROT_TEXT ? 0 : 1, static_cast<BYTE>(index));
        ReconfigurePort(ReaderSpeeds[index], evChar);
        return true;
    } catch (const CKvPortException& e) {
        if (e.GetCode() == E_ABORT)
            throw;
        SetLastError(e.GetCode(), MultiByteToWString(e.what(), CP_ACP));
        return false;
    }
}

// PC/SC readers -------------------------------------------------------------------------------

void CReader::LeaveCcid()
{
    // Outside the lock: the watcher stops its thread here, and that thread may be waiting
    // for this reader's lock in OnCardEvent.
    if (m_ccidId && m_ccid)
        m_ccid->RemoveReader(m_ccidId);
    m_ccidId = 0;
    CCriticalSectionLock lock(m_cs);
    m_ccidEvents.clear();
}

void CReader::OnCardEvent(void* owner, ICcidWatcher*, const CcidCardEvent* event)
{
    auto* self = static_cast<CReader*>(owner);
    if (!self || !event)
        return;
    {
        CCriticalSectionLock lock(self->m_cs);
        // A reader thread that cannot keep up keeps the latest events.
        if (self->m_ccidEvents.size() >= kMaxCardEvents)
            self->m_ccidEvents.erase(self->m_ccidEvents.begin());
        self->m_ccidEvents.push_back(*event);
    }
    if (self->events[EV_WAKE])
        SetEvent(self->events[EV_WAKE]);
}

void CReader::CopyCardReading(void* owner, ReadKeysSettings* out)
{
    if (owner && out)
        *out = static_cast<CReader*>(owner)->GetCardReading();
}

void CReader::ProcessCardEvents()
{
    std::vector<CcidCardEvent> pending;
    {
        CCriticalSectionLock lock(m_cs);
        pending.swap(m_ccidEvents);
    }
    for (const CcidCardEvent& e : pending) {
        if (e.code == CCID_READER_CHANGED) {
            const bool present = m_ccid && m_ccidId && m_ccid->IsReaderAvailable(m_ccidId);
            if (present && m_state != RDST_CONNECTED) {
                MarkConnected();
            } else if (!present && m_state != RDST_DISCONNECTED) {
                const bool wasConnected = m_state == RDST_CONNECTED;
                ClearKeyPresence();
                SetState(RDST_DISCONNECTED);
                m_lastAttempt = GetTickCount();
                if (wasConnected) {
                    LogInfo(IDS_LOG_READER_DISCONNECTED);
                    PushDisconnectNotification();
                }
            }
        } else if (e.code == CCID_CARD_LOST) {
            ClearKeyPresence();
        } else if (e.code == CCID_CARD_READ && m_state == RDST_CONNECTED) {
            _KEY_PRESENCE card;
            card.keyType = e.cardType;
            card.key = e.uid;
            card.extra = e.cardFlags;
            card.memory = e.data;
            card.memResult = e.readResult;
            KeySeen(card, true);
        }
    }
}
