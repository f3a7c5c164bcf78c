// Protocol 4: one-byte commands with check bytes, key frames led by 0xCC.
#include "reader/Reader.h"

// Until the command set is in place the connection is kept and input is discarded.
bool CReader::ByteProtocolStart()
{
    return true;
}

void CReader::ByteProtocolTick()
{
    if (m_flags & RTF_INPUT) {
        m_port->Purge(true, false);
        m_recv.clear();
        m_flags &= ~RTF_INPUT;
    }
}
