#pragma once
// The single-byte command protocol of the Vell-4 EHR and Vell-4 Base with "protVell4": one-byte
// commands with check bytes on a port at 38400 Bd, key frames led by 0xCC, the reader armed for
// the kind of key that "vell4Mode" chooses.
#include "reader/ReaderProtocol.h"

class CByteProtocol : public CReaderProtocol {
public:
    explicit CByteProtocol(CReader& reader) : CReaderProtocol(reader), m_mode(CardReading().vell4Mode) {}

    int Id() const override { return RDPROT_BYTE; }
    // Not built yet: the connection is refused.
    bool Connect() override { return RefuseConnection(); }
    void Tick() override {}
    // The reader is armed again for the mode now chosen.
    void SettingsChanged() override
    {
        m_mode = CardReading().vell4Mode;
        m_armed = false;
    }

private:
    int m_mode;
    bool m_armed = false;
};
