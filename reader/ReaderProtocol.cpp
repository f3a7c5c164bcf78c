#include "reader/ReaderProtocol.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "reader/ReaderByte.h"
#include "reader/ReaderEscaped.h"
#include "reader/ReaderFrame.h"
#include "reader/ReaderLines.h"
#include "resources/resource.h"

namespace {

template <class T>
std::unique_ptr<CReaderProtocol> Make(CReader& reader)
{
    return std::make_unique<T>(reader);
}

const struct {
    int id;
    std::unique_ptr<CReaderProtocol> (*make)(CReader& reader);
} kProtocols[] = {
    {RDPROT_TEXT, &Make<CTextProtocol>},
    {RDPROT_FRAME, &Make<CFrameProtocol>},
    {RDPROT_ESCAPED, &Make<CEscapedProtocol>},
    {RDPROT_BYTE, &Make<CByteProtocol>},
};

} // namespace

std::unique_ptr<CReaderProtocol> CreateReaderProtocol(int protocol, CReader& reader)
{
    for (const auto& row : kProtocols)
        if (row.id == protocol)
            return row.make(reader);
    return nullptr;
}

CKvPort& CReaderServices::Port()
{
    if (!m_reader.m_port)
        ThrowPortError(KV_E_PORT_DISCONNECTED, m_reader.m_cp.portName.c_str());
    return *m_reader.m_port.Get();
}

bool CReaderServices::FindKeyNumber(const _KEY_NUMBER& key, _KEY_PRESENCE& found)
{
    CCriticalSectionLock lock(m_reader.m_cs);
    for (const _KEY_PRESENCE& k : m_reader.m_keys)
        if (KeysEqual(k.key, key)) {
            found = k;
            return true;
        }
    return false;
}

void CReaderServices::ReadLastError(HRESULT& code, std::wstring& text)
{
    CCriticalSectionLock lock(m_reader.m_cs);
    code = m_reader.m_lastError;
    text = m_reader.m_lastErrorText;
}

void CReaderServices::ShortPause(DWORD ms)
{
    HANDLE cancel = m_reader.events[CReader::EV_CANCEL];
    if (cancel && WaitForSingleObject(cancel, ms) == WAIT_OBJECT_0)
        ThrowPortError(E_ABORT, m_reader.m_cp.portName.c_str());
}

void CReaderServices::AdvanceJob()
{
    CCriticalSectionLock lock(m_reader.m_cs);
    ++m_reader.m_job.progress;
}

void CReaderServices::ReportLastError()
{
    HRESULT code;
    std::wstring text;
    {
        CCriticalSectionLock lock(m_reader.m_cs);
        code = m_reader.m_lastError;
        text = m_reader.m_lastErrorText;
    }
    m_reader.LogError(IDS_LOG_ERROR, static_cast<unsigned>(code), text.c_str());
    m_reader.RaiseChange(RDCHG_ERROR);
    m_reader.PushErrorNotification(code, text);
}

void CReaderServices::Pause(DWORD ms)
{
    const DWORD r = WaitForSingleObject(m_reader.events[CReader::EV_CANCEL], ms);
    if (r == WAIT_FAILED)
        ThrowOSError(GetLastError());
    if (r == WAIT_OBJECT_0 || StopRequested())
        ThrowPortError(E_ABORT, m_reader.m_cp.portName.c_str());
}
