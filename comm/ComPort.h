#pragma once
// Serial port over overlapped I/O. Reads never block in the driver (interval time-out
// MAXDWORD): framing comes from Read's own loop, the comm event only wakes it early.
#include "comm/Port.h"

class CKvComPort : public CKvPort
{
public:
    static constexpr DWORD kReadChunk = 1024;
    static constexpr DWORD kInQueue = 2048;
    static constexpr DWORD kOutQueue = 512;

    CKvComPort();

    HRESULT Init(const wchar_t* name, HANDLE cancel, HANDLE writeDone, HANDLE readDone, HANDLE commEvent) override;
    HRESULT SetParams(DWORD speed, BYTE stopBits, BYTE eventChar) override;
    HRESULT Open(DWORD timeout) override;
    HRESULT Close() override;
    bool IsOpen() override { return m_handle != INVALID_HANDLE_VALUE; }
    HRESULT GetBytesAvailable(int* count) override;
    HRESULT Read(std::vector<BYTE>& out, size_t count, DWORD timeout) override;
    HRESULT Write(const void* data, size_t length, DWORD timeout) override;
    HRESULT Purge(bool receive, bool transmit) override;
    HRESULT SetDtr(bool on) override;
    HRESULT SetRts(bool on) override;
    HRESULT CompleteRead() override;
    HRESULT CompleteWrite() override;
    HRESULT CompleteEvent() override;
    HRESULT CheckMissedInput(bool* arrived) override;

protected:
    ~CKvComPort() override;

private:
    HRESULT Configure(DWORD speed, BYTE stopBits, BYTE eventChar, bool keepDeviceSpeed);
    HRESULT ArmCommEvent();
    // Reads what the driver holds without waiting, up to wanted bytes or a chunk.
    HRESULT ReadBurst(size_t wanted);
    // Ends an outstanding read, keeping what it took; with readOn, reads what the driver
    // holds into out, up to target.
    HRESULT SettleRead(std::vector<BYTE>& out, size_t target, bool readOn);
    HRESULT StartWrite();
    HRESULT DeviceGone();
    // Cancels the operation of ov when it is outstanding and waits until the system has
    // let go of its OVERLAPPED and buffer.
    void CancelAndWait(OVERLAPPED& ov);
    void Append(const BYTE* bytes, DWORD count);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    DWORD m_eventMask = 0;
    bool m_eventArmed = false;  // WaitCommEvent outstanding on m_ovEvent
    OVERLAPPED m_ovWrite = {};
    OVERLAPPED m_ovRead = {};
    OVERLAPPED m_ovEvent = {};
    std::vector<BYTE> m_chunk;       // target of the outstanding read
    std::vector<BYTE> m_writeBuf;    // owned by the system while a write is pending
    std::vector<BYTE> m_writeQueue;  // bytes written while a write was still pending
    std::vector<BYTE> m_received;    // read from the device, not yet handed out
};
