#pragma once
// The reader thread: owns the configured reader's port, identifies the reader, runs the
// reader's protocol whenever the port signals input or a time-out falls due, keeps the keys
// in the field, and reports keys, errors and connection changes to the UI thread through its
// notification queue. It reconnects by itself after a failure.
//
// Each protocol is a class of its own behind one interface (reader/ReaderProtocol.h), made
// at connect from the model table (reader/ReaderModels.h). One critical section guards
// everything the UI thread touches: the settings and request bits it writes, and the change
// bits, state, identification, last error, job and queue it reads. The owner's calls below
// take it themselves; waits never hold it.
#include <windows.h>
#include <atomic>
#include <cstdarg>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "config/KeyNumber.h"
#include "config/TransferRecords.h"
#include "core/AppContext.h"
#include "core/Handle.h"
#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "framework/Thread.h"
#include "reader/CcidLink.h"
#include "comm/Notify.h"
#include "comm/Port.h"
#include "reader/ReaderModels.h"

// Request bits (owner -> thread).
constexpr uint32_t RDREQ_RECONNECT = 0x01;
constexpr uint32_t RDREQ_SETTINGS = 0x02;      // speed or mode settings changed
constexpr uint32_t RDREQ_POLL_ALLOWED = 0x08;
constexpr uint32_t RDREQ_POLL_SUSPENDED = 0x10;

// Change bits (thread -> owner), swapped with 0 by the owner.
constexpr uint32_t RDCHG_STATE = 0x01;
constexpr uint32_t RDCHG_ERROR = 0x02;
constexpr uint32_t RDCHG_CARD_STATE = 0x04;
constexpr uint32_t RDCHG_JOB = 0x08;

enum ReaderState : int { RDST_DISCONNECTED = 0, RDST_CONNECTED = 1, RDST_CONNECTING = 2 };

// Flags of the thread itself.
constexpr uint32_t RTF_UNSUPPORTED = 0x01;      // no automatic reconnect
constexpr uint32_t RTF_INPUT = 0x02;            // input arrived
constexpr uint32_t RTF_POLL_SUSPENDED = 0x10;
constexpr uint32_t RTF_QM100 = 0x20;            // "differentQM100" in force
constexpr uint32_t RTF_SPEED_CHANGED = 0x100;
constexpr uint32_t RTF_SPEED_ON_COMMAND = 0x2000;
constexpr uint32_t RTF_BINARY_FRAMES = 0x4000;
constexpr uint32_t RTF_EXTENDED = 0x8000;       // Temic cards and extended key lines
constexpr uint32_t RTF_CLEARED_ON_CONNECT = 0xE0A8;

// Jobs the owner hands to the thread.
constexpr int RDJOB_TEMIC_INIT = 1;
constexpr int RDJOB_WRITE_KEYS = 2;
constexpr HRESULT RDJOB_PENDING = E_PENDING;    // 0x8000000A

// How long Temic keys stay after a "No card" line on readers that read them in a cycle.
constexpr DWORD kNoCardGrace = 3000;

// Card-memory results of a key in the field.
constexpr HRESULT KEYMEM_REPORT_KEY = 1;        // report the key number
constexpr HRESULT KEYMEM_REPORT_MEMORY = 0;     // report the card-memory number
constexpr HRESULT KEYMEM_READING = E_PENDING;   // the read has not ended yet

// One key in the reader's field.
struct _KEY_PRESENCE {
    int keyType = 0;
    uint32_t extra = 0;
    WORD temicParam = 0;
    _KEY_NUMBER key;
    _KEY_NUMBER memory;
    HRESULT memResult = KEYMEM_REPORT_KEY;
    BYTE stale = 0;
};

// The connection as the thread last reported it, and what it learnt of its reader.
struct ReaderStatus {
    int state = RDST_DISCONNECTED;
    int model = 0;
    int serial = -1;
    PackedVersion version = 0;
    std::wstring versionText;
    // The Temic scan request being sent: its step (1-based, 0 while no scan runs), the number
    // of steps and the request word (type low byte, speed second byte, delay high half).
    int temicStep = 0;
    int temicSteps = 0;
    uint32_t temicParam = 0;
};

// A job: written by the owner while none is pending, then by the thread.
struct ReaderJob {
    int type = 0;
    HRESULT state = S_OK;
    int param = 0;                  // non-zero: 16-byte keys, else 6
    std::vector<_KEY_NUMBER> keys;
    int progress = 0;
    int total = 0;
};

// The settings of one connection, copied from the reader settings when it starts.
struct ReaderConnectParams {
    std::wstring portName;
    BYTE stopBits = 0;
    int connectTimeout = 0;
    int checkInPeriod = -1;
    int receiveTimeout = 0;
    int maxTries = 0;
    uint32_t flags = 0;
    int model = 0;
    DWORD speed = 0;
};

class CReaderProtocol;
class CFrameLink;

class CReader : public CThread {
public:
    enum { EV_CANCEL, EV_WAKE, EV_WRITE_DONE, EV_READ_DONE, EV_COMM, EV_COUNT };

    CReader();
    ~CReader() override;
    CReader(const CReader&) = delete;
    CReader& operator=(const CReader&) = delete;

    // Owner (UI thread); each call takes the lock itself --------------------------------------
    // The five manual-reset events, unsignalled; a failure throws COSException.
    void CreateEvents();
    void Start();
    void Stop();
    void Reconnect();
    // Lets the thread look at its requests now.
    void Wake();

    std::wstring GetPortName() const;
    void SetPortName(const std::wstring& name);
    ReaderSettings GetSettings() const;
    // Takes the connection settings: another model, stop bits or a flag that changes how the
    // port is opened asks for a reconnect, another speed for the settings to be applied.
    void SetSettings(const ReaderSettings& wanted);
    ReadKeysSettings GetCardReading() const;
    // Takes the card-reading settings; the thread copies them at each use, and asks for a new
    // Vell-4 mode or new Temic settings to be taken.
    void SetCardReading(const ReadKeysSettings& wanted);
    // Stores the Temic settings when they differ and asks the thread to take them.
    void SetTemicParams(const TemicSettings& temic);
    // True when the mode differed and the thread was asked to take it.
    bool SetVell4Mode(int32_t mode);
    // Keys are read and reported while polling is allowed (a transfer runs).
    void SetPolling(bool allowed);
    // Settings, card reading and polling at once, as one request; the notifications still
    // queued, said under the old settings, are dropped. Returns how many were.
    size_t Configure(const ReaderSettings& wanted, const ReadKeysSettings& cardReading, bool polling);

    // The change bits raised since the last call.
    uint32_t TakeChanges();
    int GetState() const;
    ReaderStatus GetStatus() const;

    // Hands a job to the thread (which starts it at its next turn).
    void StartJob(int type, int param, std::vector<_KEY_NUMBER> keys, int total);
    ReaderJob GetJob() const;
    // A pending job ends with E_ABORT; false when none was pending.
    bool AbortJob();
    // The owner has told the job's end: it is not reported again.
    void ForgetJob();

    bool PopNotification(std::unique_ptr<CTNMsg>& msg);
    // Where WM_USER+1 goes; nothing is posted while it gives no window.
    void SetNotifyWindowSource(CTNMsgChannel::WindowSource source);
    void SetCcidWatcher(ICcidWatcher* watcher) { m_ccid = watcher; }
    // The application whose debug log takes the reader's lines (the process's one by
    // default); it names the reader by its port name.
    void SetAppContext(CAppContext* app) { m_app = app; }
    CTNMsgChannel& Channel() { return m_channel; }

    CEvent events[EV_COUNT];
    const int pollPeriod;

    // Turns of the thread's loop so far (each wait that returned); any thread.
    uint32_t GetWakeCount() const { return m_wakes.load(); }

protected:
    DWORD Run() override;

private:
    friend class CReaderServices;
    friend class CReaderTestPeer;

    // Thread body pieces.
    void ProcessRequests();
    void ConnectIfDue();
    bool ConnectReader();
    void ProtocolStep();
    void WaitForEvents();
    // The wait of WaitForEvents; kMissedInput when a serial port held input unannounced.
    static constexpr DWORD kMissedInput = 0x200;
    static constexpr DWORD kMissedInputSliceMs = 200;
    DWORD WaitWatchingPort(HANDLE (&waits)[4]);
    void Disconnect();
    void SetState(int s);
    void RaiseChange(uint32_t bits);
    // The Temic scan's step for the owner; a change raises RDCHG_CARD_STATE.
    void SetTemicScan(int step, int steps, uint32_t param);
    void OnThreadError(int kind, HRESULT code, const std::wstring& text);
    void SetLastError(HRESULT code, const std::wstring& text = std::wstring());
    HRESULT GetLastErrorCode();
    bool JobPending();
    void FinishJob(HRESULT result);
    void RunJob();
    void LowerWait(DWORD ms);
    // A started thread told to stop: replies are no longer waited for.
    bool StopRequested() const { return IsStarted() && !IsRunning(); }
    int ProtocolId() const;

    // Identification and set-up.
    bool ConnectByModel(const ReaderConnectParams& p, std::wstring& versionText);
    bool IdentifyReader(uint32_t& code, int& serialOut, PackedVersion& versionOut, int timeout, int tries,
                        std::wstring& text);
    // After a time-out or an invalid reply: worth asking at another speed.
    bool MayTryAgain();
    // Once more at each place the program may have left the reader on this port, if any,
    // but where the version query in text lines was asked already.
    bool IdentifyWhereCommanded(const ReaderConnectParams& p, const std::vector<DWORD>& asked, uint32_t& code,
                                int& sn, PackedVersion& fw, std::wstring& text);
    bool SetupProtocol();
    bool ApplySpeed(DWORD wanted);
    void OpenPort(DWORD speed);
    void OpenPortAt(DWORD speed);
    void ReconfigurePort(DWORD speed, BYTE eventChar);
    void ClosePort();
    bool PortIsTcpWithoutTelnet() const;

    // Port I/O; failures are thrown as CKvPortException with the port name.
    void PortWrite(const void* data, size_t length, DWORD timeout, bool hex);
    size_t PortRead(size_t count, DWORD timeout, bool hex);
    int PortBytesAvailable();
    bool ReadReplyLines(std::string& out, int lines, DWORD timeout, bool checkKeyLines);
    void CapReceiveBuffer();
    // A key line that came in while a reply was awaited: the protocol's.
    void HandleKeyLine(const std::wstring& line);

    // Keys in the field.
    void KeySeen(const _KEY_PRESENCE& entry, bool notify);
    void AddKeyPresence(const _KEY_PRESENCE& entry, bool notify);
    void RemoveKeyPresence(size_t index);
    void RemoveTemicKeys();
    void ClearKeyPresence();
    bool FindKeyPresence(int keyType, const _KEY_NUMBER& key, _KEY_PRESENCE& found);
    size_t KeyCount();
    // A poll round marks every key stale, a key seen again loses its mark (false when it is
    // not in the field), and the keys still marked at the end have left.
    void MarkKeysStale();
    bool RefreshKey(int keyType, const _KEY_NUMBER& key);
    void RemoveStaleKeys();
    void NoCard(bool temic);
    // The keys leave once the grace after a "No card" line has passed.
    void CheckNoCardGrace();
    void NotifyKeyResult(const _KEY_PRESENCE& entry, HRESULT result, const _KEY_NUMBER& number);

    // PC/SC readers.
    static void OnCardEvent(void* owner, ICcidWatcher* watcher, const CcidCardEvent* event);
    static void CopyCardReading(void* owner, ReadKeysSettings* out);
    void ProcessCardEvents();
    void LeaveCcid();
    void MarkConnected();

    // Notifications (each under the lock, with the post).
    void PushKeyNotification(int keyType, const _KEY_NUMBER& key, uint32_t extra);
    void PushConnectNotification();
    void PushDisconnectNotification();
    void PushErrorNotification(HRESULT code, const std::wstring& text = std::wstring());
    void Post();

    // Log lines with the port name as source; info lines need a log level above 4.
    CAppContext* LogApp(int threshold);
    void WriteLogV(int kind, int threshold, const wchar_t* format, va_list args);
    void LogInfo(UINT id, ...);
    void LogError(UINT id, ...);
    void LogInfoText(const wchar_t* format, ...);
    void LogWarningText(const wchar_t* format, ...);
    void LogKey(UINT id, const _KEY_PRESENCE& entry);
    void LogBytes(UINT id, const BYTE* data, size_t length, bool hex);

    mutable CCriticalSection m_cs;
    CTNMsgChannel m_channel;
    CTNMsgChannel::WindowSource m_windowSource;
    CAppContext* m_app = nullptr;
    ICcidWatcher* m_ccid = nullptr;
    std::atomic<uint32_t> m_wakes{0};

    // Guarded by the lock: written by the owner. The thread copies the card-reading settings
    // at each use, so the owner may change them at any time.
    std::wstring m_portName;
    ReaderSettings m_settings;
    ReadKeysSettings m_readKeys;
    uint32_t m_requests = 0;
    // Guarded by the lock: written by the thread.
    uint32_t m_changes = 0;
    int m_state = RDST_DISCONNECTED;
    int m_model = 0;
    int m_serial = -1;
    PackedVersion m_version = 0;
    std::wstring m_versionText;
    HRESULT m_lastError = S_OK;
    std::wstring m_lastErrorText;
    ReaderJob m_job;
    int m_temicStep = 0;
    int m_temicSteps = 0;
    uint32_t m_temicParam = 0;

    // Thread-private.
    ReaderConnectParams m_cp;           // the settings of the current connection
    CKvPortPtr<CKvPort> m_port;
    std::unique_ptr<CReaderProtocol> m_protocol;   // none while not connected, and for PC/SC
    std::unique_ptr<CFrameLink> m_frames;          // a reader that takes binary frames
    uint32_t m_flags = 0;
    bool m_attempted = false;
    DWORD m_lastAttempt = 0;
    DWORD m_connectTick = 0;
    DWORD m_nextWait = INFINITE;
    std::vector<BYTE> m_recv;
    std::vector<_KEY_PRESENCE> m_keys;  // guarded by the lock
    bool m_noCard = false;
    DWORD m_noCardTick = 0;
    bool m_overflowReported = false;

    // PC/SC registration. The watcher's thread queues its events under the lock; they are
    // handled in order, so a card that comes and goes at once is not left behind as present.
    UINT m_ccidId = 0;
    std::vector<CcidCardEvent> m_ccidEvents;

    // Back-off of repeating thread errors.
    HRESULT m_repeatCode = S_OK;
    DWORD m_repeatPause = 0;
    DWORD m_lastErrorReport = 0;
};
