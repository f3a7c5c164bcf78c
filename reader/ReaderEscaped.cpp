// Protocol 3: frames closed by 0xC0 with 0xC0 and 0xDB escaped, polled by the thread.
#include "reader/Reader.h"

// Until the poll round is in place the connection is kept and input is discarded.
bool CReader::EscapedProtocolStart()
{
    return true;
}

void CReader::EscapedProtocolTick()
{
    if (m_flags & RTF_INPUT) {
        m_port->Purge(true, false);
        m_recv.clear();
        m_flags &= ~RTF_INPUT;
    }
}
