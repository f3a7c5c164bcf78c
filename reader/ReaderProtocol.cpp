#include "reader/ReaderProtocol.h"
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "reader/ReaderByte.h"
#include "reader/ReaderEscaped.h"
#include "reader/ReaderFrame.h"
#include "reader/ReaderLines.h"

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

void CReaderServices::AdvanceJob()
{
    CCriticalSectionLock lock(&m_reader.m_cs);
    ++m_reader.m_job.progress;
}

bool CReaderProtocol::RefuseConnection()
{
    SetFlag(RTF_UNSUPPORTED, true);
    SetLastError(KV_E_PROTOCOL_NOT_SUPPORTED);
    return false;
}
