#pragma once
// The single-byte command protocol of the Vell-4 EHR and Vell-4 Base with "protVell4": one-byte
// commands with check bytes on a port at 38400 Bd, key frames led by 0xCC, the reader armed for
// the kind of key that "vell4Mode" chooses. The reader sends a key frame again and again while a
// key lies on it and must be armed anew after each one; a key leaves when its frames stop.
#include <vector>
#include "reader/ReaderProtocol.h"

class CByteProtocol : public CReaderProtocol {
public:
    explicit CByteProtocol(CReader& reader);

    int Id() const override { return RDPROT_BYTE; }
    // The port at the reader's speed and its lines; the reader is armed at the first tick.
    bool Connect() override;
    void Tick() override { ByteProtocolTick(); }
    // The reader is armed again for the mode now chosen.
    void SettingsChanged() override;

    // One command with its tries, done when the reader acknowledges it.
    bool SendByteCommand(BYTE command);
    // Takes the units that come until an acknowledgement.
    bool WaitAcknowledge(DWORD timeout);
    void HandleByteUnit(const std::vector<BYTE>& unit);
    // Resets the reader, arms it for the mode and starts it.
    bool InitByteProtocol();
    void ByteProtocolTick();

    bool Ready() const { return m_ready; }

private:
    bool SendReset(DWORD wait);
    // Steps 1 and 2 of the initialisation: the reset, retried, then the restart.
    bool ResetReader();
    void RestartThroughLines();
    void ReceiveUnits();
    void ExpireKeys();

    int m_mode;
    bool m_initialised = false;
    // A mode the reader has no arming command for: nothing is sent until the mode changes.
    bool m_modeRefused = false;
    bool m_failureReported = false;
    bool m_ready = false;
    DWORD m_lastInit = 0;
    DWORD m_lastKeyFrame = 0;
    std::vector<BYTE> m_send;
    std::vector<BYTE> m_unit;
};
