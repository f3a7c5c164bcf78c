#pragma once
// The reader protocols. The thread makes one protocol object at each connect, from the
// protocol the model table names for the identified reader, and drops it at disconnect; all
// state of a protocol lives in its object. A new protocol is one class derived from
// CReaderProtocol and one row of the table in ReaderProtocol.cpp.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "core/SysUtil.h"
#include "reader/Reader.h"

// What a protocol, or a link it talks through, may use of the reader thread. Everything here
// runs on the reader thread.
class CReaderServices {
public:
    explicit CReaderServices(CReader& reader) : m_reader(reader) {}
    virtual ~CReaderServices() = default;
    CReaderServices(const CReaderServices&) = delete;
    CReaderServices& operator=(const CReaderServices&) = delete;

protected:
    // The connection: its settings, the identified reader and the thread's flags (RTF_*).
    ReaderConnectParams& Params() { return m_reader.m_cp; }
    // The reply time-out of a request.
    DWORD ReplyTimeout() const
    {
        return m_reader.m_cp.receiveTimeout > 0 ? static_cast<DWORD>(m_reader.m_cp.receiveTimeout) : 0;
    }
    int Model() const { return m_reader.m_model; }
    PackedVersion Version() const { return m_reader.m_version; }
    uint32_t ModelFlags() const { return ReaderModelFlags(m_reader.m_model, m_reader.m_version); }
    bool HasFlag(uint32_t flag) const { return (m_reader.m_flags & flag) != 0; }
    void SetFlag(uint32_t flag, bool on)
    {
        if (on)
            m_reader.m_flags |= flag;
        else
            m_reader.m_flags &= ~flag;
    }
    int PollPeriod() const { return m_reader.pollPeriod; }
    // A consistent copy of the owner's card-reading settings.
    ReadKeysSettings CardReading() const
    {
        CCriticalSectionLock lock(m_reader.m_cs);
        return m_reader.m_readKeys;
    }
    bool StopRequested() const { return m_reader.StopRequested(); }

    // The port and the receive buffer.
    CKvPort& Port();
    std::vector<BYTE>& Received() { return m_reader.m_recv; }
    void PortWrite(const void* data, size_t length, DWORD timeout, bool hex)
    {
        m_reader.PortWrite(data, length, timeout, hex);
    }
    size_t PortRead(size_t count, DWORD timeout, bool hex) { return m_reader.PortRead(count, timeout, hex); }
    int PortBytesAvailable() { return m_reader.PortBytesAvailable(); }
    bool ReadReplyLines(std::string& out, int lines, DWORD timeout, bool checkKeyLines)
    {
        return m_reader.ReadReplyLines(out, lines, timeout, checkKeyLines);
    }
    void ReconfigurePort(DWORD speed, BYTE eventChar) { m_reader.ReconfigurePort(speed, eventChar); }
    bool ApplySpeed(DWORD wanted) { return m_reader.ApplySpeed(wanted); }
    // The binary frames of a reader that takes them; null for others.
    CFrameLink* Frames() { return m_reader.m_frames.get(); }

    // The last error: its code and text (the code's message text when none is given).
    void SetLastError(HRESULT code, const std::wstring& text = std::wstring()) { m_reader.SetLastError(code, text); }
    HRESULT LastErrorCode() { return m_reader.GetLastErrorCode(); }
    void ReadLastError(HRESULT& code, std::wstring& text);

    // Keys in the field.
    void KeySeen(const _KEY_PRESENCE& entry, bool notify) { m_reader.KeySeen(entry, notify); }
    void AddKeyPresence(const _KEY_PRESENCE& entry, bool notify) { m_reader.AddKeyPresence(entry, notify); }
    void RemoveTemicKeys() { m_reader.RemoveTemicKeys(); }
    void ClearKeyPresence() { m_reader.ClearKeyPresence(); }
    bool FindKeyPresence(int keyType, const _KEY_NUMBER& key, _KEY_PRESENCE& found)
    {
        return m_reader.FindKeyPresence(keyType, key, found);
    }
    size_t KeyCount() { return m_reader.KeyCount(); }
    void MarkKeysStale() { m_reader.MarkKeysStale(); }
    bool RefreshKey(int keyType, const _KEY_NUMBER& key) { return m_reader.RefreshKey(keyType, key); }
    void RemoveStaleKeys() { m_reader.RemoveStaleKeys(); }
    // The key of that number, whatever its type.
    bool FindKeyNumber(const _KEY_NUMBER& key, _KEY_PRESENCE& found);
    void NoCard(bool temic) { m_reader.NoCard(temic); }
    void CheckNoCardGrace() { m_reader.CheckNoCardGrace(); }

    // Reports and the loop.
    void PushErrorNotification(HRESULT code) { m_reader.PushErrorNotification(code); }
    void RaiseChange(uint32_t bits) { m_reader.RaiseChange(bits); }
    void SetTemicScan(int step, int steps, uint32_t param) { m_reader.SetTemicScan(step, steps, param); }
    void LowerWait(DWORD ms) { m_reader.LowerWait(ms); }
    void LogWarningText(const wchar_t* text) { m_reader.LogWarningText(L"%s", text); }
    void LogInfoText(const wchar_t* text) { m_reader.LogInfoText(L"%s", text); }
    // The last error as the thread reports its own: a log line, change bit 2 and an error
    // notification with its text.
    void ReportLastError();
    // A pause between two commands that a cancel (a stop, a reconnect) ends as it ends a port
    // wait, while the commands that leave the reader in text mode still go out after a stop.
    void ShortPause(DWORD ms);
    // Waits ms; a stop or a reconnect request ends the wait as a cancelled port wait does.
    void Pause(DWORD ms);

    // The owner's job while the protocol runs it.
    bool JobPending() { return m_reader.JobPending(); }
    void AdvanceJob();

private:
    CReader& m_reader;
};

// What the reader thread asks of the protocol of its connection.
class CReaderProtocol : public CReaderServices {
public:
    using CReaderServices::CReaderServices;

    // RDPROT_*.
    virtual int Id() const = 0;
    // Sets the reader up after it was identified. False (with the last error set) leaves the
    // reader disconnected.
    virtual bool Connect() = 0;
    // The port announced input; the input flag is cleared before.
    virtual void Input() {}
    // One turn of the thread's loop while connected, after Input; lowers the thread's next
    // wait to the time of the protocol's next due action.
    virtual void Tick() = 0;
    // A key line that came in while a command's reply was awaited; false when the protocol
    // does not take it.
    virtual bool HandleKeyLine(const std::wstring& line)
    {
        (void)line;
        return false;
    }
    // The speed or mode settings changed on a running connection.
    virtual void SettingsChanged() {}
    // Before the port closes: what the reader must hear to be left as a fresh connection
    // expects it. Failures are thrown; the thread logs and ignores them.
    virtual void Disconnect() {}
    // A job of the owner: its result, KV_E_NOT_SUPPORTED for a job this protocol has not.
    virtual HRESULT RunJob(const ReaderJob& job)
    {
        (void)job;
        return KV_E_NOT_SUPPORTED;
    }
    // Input is text lines: a receive buffer that overflows keeps its complete lines.
    virtual bool ReadsLines() const { return false; }
};

// The protocol object of a protocol id; null for RDPROT_NONE and unknown ids.
std::unique_ptr<CReaderProtocol> CreateReaderProtocol(int protocol, CReader& reader);
