// The UI thread's side of the reader worker: creating and configuring it, releasing it, and
// draining its change word and notification queue after each WM_USER+1.
#include <winsock2.h>

#include "app/NorvaneApp.h"

#include "app/MainFrame.h"
#include "app/PortList.h"
#include "core/AppLog.h"
#include "core/ResultCodes.h"
#include "core/TextUtil.h"
#include "reader/Reader.h"
#include "reader/ReaderModels.h"
#include "resources/resource.h"

namespace {

constexpr int kEventInformation = 1;
constexpr int kEventError = 3;
// Reader flags whose change needs the port opened again.
constexpr uint32_t kReopenFlags = READER_WIEGAND | READER_BINARY | READER_PROT_VELL4;
// Port kind of a network address ("192.168.0.5:4001").
constexpr int kPortKindNetwork = 3;

bool NoKeyTransferredYet(const CAppSettings& settings)
{
    return settings.GetLastTransfer().keyNumber.length == 0;
}

// The reader's status text as the last transfer while no key has gone yet.
void StoreReaderStatus(CAppSettings& settings, __time64_t time, const std::wstring& text)
{
    settings.SetLastTransferInfo(CTimeValue(time), 0, _KEY_NUMBER{}, 0, text.c_str(), 0, nullptr, nullptr, nullptr,
                                 nullptr);
}

std::wstring PortNameOf(CReader& worker)
{
    CCriticalSectionLock lock(&worker.Lock());
    return worker.portName;
}

}  // namespace

void CNorvaneApp::WireReader(CReader& worker)
{
    worker.CreateEvents();
    worker.SetNotifyWindowSource([this] { return GetMainFrameWindow(); });
    worker.SetAppContext(this);
    // The log asks from the worker's own thread: it names this worker, never the member,
    // which the UI thread replaces.
    CReader* named = &worker;
    Reader = named;
    ReaderPortName = [named] { return PortNameOf(*named); };
}

void CNorvaneApp::ApplyReaderSettings(bool logStart, bool connect)
{
    CTransferDoc& doc = settings.GetTransferDoc();
    const std::wstring& portName = doc.GetSourceValue();
    if (reader && PortNameOf(*reader) != portName)
        ReleaseReader(false);

    if (!reader) {
        if (ClassifyPortName(portName.c_str()) == kPortKindNetwork)
            StartWinsock();
        auto worker = std::make_unique<CReader>();
        worker->portName = portName;
        WireReader(*worker);
        reader = std::move(worker);
    }

    CTNMsgQueue discarded;
    {
        CCriticalSectionLock lock(&reader->Lock());
        ReaderSettings& mine = reader->settings;
        const ReaderSettings& wanted = doc.reader;
        if (mine.model != wanted.model || mine.stopBits != wanted.stopBits ||
            ((mine.flags ^ wanted.flags) & kReopenFlags))
            reader->requests |= RDREQ_RECONNECT;
        if (mine.speed != wanted.speed)
            reader->requests |= RDREQ_SETTINGS;
        mine = wanted;

        // Card reading: the thread copies these at each use; the Vell-4 mode is taken with
        // the settings request. The key types to transfer stay with the UI: the key list
        // takes keys of every type.
        ReadKeysSettings& keys = reader->readKeys;
        keys.classic = doc.readKeys.classic;
        keys.plus = doc.readKeys.plus;
        keys.ultralight = doc.readKeys.ultralight;
        if (keys.vell4Mode != doc.readKeys.vell4Mode) {
            keys.vell4Mode = doc.readKeys.vell4Mode;
            reader->requests |= RDREQ_SETTINGS;
        }
        reader->SetTemicParams(doc.readKeys.temic);

        reader->requests &= ~(RDREQ_POLL_ALLOWED | RDREQ_POLL_SUSPENDED);
        reader->requests |= connect ? RDREQ_POLL_ALLOWED : RDREQ_POLL_SUSPENDED;

        // What the reader said under its old settings is no longer news.
        reader->Channel().Queue().Swap(discarded);
    }
    if (!discarded.Empty()) {
        discarded.Clear();
        if (IsLogged(LOG_THRESHOLD_TRACE))
            LogMessage(this, reader.get(), LOG_INFO, L"notification queue is empty");
    }

    if (reader->IsStarted())
        SetEvent(reader->events[CReader::EV_WAKE]);
    else
        reader->Start();

    if (logStart && IsLogged(LOG_THRESHOLD_INFO))
        LogMessageById(this, reader.get(), LOG_INFO, IDS_LOG_READER_START);
}

void CNorvaneApp::ReleaseReader(bool logStop)
{
    if (!reader)
        return;
    // Taken out first: what the last drain sets off may ask for the reader again.
    std::unique_ptr<CReader> worker = std::move(reader);
    worker->Stop();
    DrainReader(*worker);
    if (logStop && IsLogged(LOG_THRESHOLD_INFO))
        LogMessageById(this, worker.get(), LOG_INFO, IDS_LOG_READER_STOP);
    if (Reader == worker.get()) {
        Reader = nullptr;
        ReaderPortName = nullptr;
    }
}

void CNorvaneApp::ProcessReaderMessages()
{
    if (reader)
        DrainReader(*reader);
}

void CNorvaneApp::DrainReader(CReader& worker)
{
    CTransferDoc& doc = settings.GetTransferDoc();
    CDocUpdateScope settingsScope(settings);
    CDocUpdateScope docScope(doc);
    struct DrainedReader
    {
        CReader*& slot;
        CReader* previous;
        ~DrainedReader() { slot = previous; }
    } drained{m_drainedReader, m_drainedReader};
    m_drainedReader = &worker;

    uint32_t changes;
    {
        CCriticalSectionLock lock(&worker.Lock());
        changes = worker.changes;
        worker.changes = 0;
    }
    if (changes && doc.GetSourceKind() == SOURCE_READER) {
        if (changes & RDCHG_STATE)
            UpdateSourceState();
        if ((changes & RDCHG_CARD_STATE) && mainFrame)
            mainFrame->dirty |= MFD_STATUS;
    }

    std::unique_ptr<CTNMsg> msg;
    while (worker.PopNotification(msg)) {
        switch (msg->m_type) {
        case RDMSG_KEY: {
            const auto& key = static_cast<const CRdKeyMsg&>(*msg);
            CDocUpdateScope keyScope(doc);
            if (doc.reader.flags & READER_TO_KEYLIST) {
                const bool duplicate = (doc.keyListNoDuplicates & 1) &&
                                       FindKeyInList(doc.GetKeys(), key.m_keyType, key.m_keyNumber) !=
                                           doc.GetKeys().end();
                if (!duplicate) {
                    _KV_KEY entry;
                    entry.keyType = key.m_keyType;
                    entry.keyNumber = key.m_keyNumber;
                    doc.AddKey(entry);
                }
            } else if (key.m_keyType >= 0 && key.m_keyType < 32 &&
                       (doc.readKeys.keyTypes & (1u << key.m_keyType))) {
                TransferKey(key.m_keyType, key.m_keyNumber, key.m_extra);
            }
            break;
        }
        case RDMSG_ERROR:
            OnReaderError(static_cast<const CRdErrorMsg&>(*msg));
            break;
        case RDMSG_CONNECT:
            OnReaderConnected(*msg);
            break;
        case RDMSG_DISCONNECT: {
            CDocUpdateScope scope(settings);
            if (settings.IsSoundsEnabled())
                RequestSound(kSoundReaderDisconnected);
            std::wstring text;
            LoadResString(IDS_LOG_READER_DISCONNECTED, text);
            if (settings.GetEventLog().IsOpen())
                LogEvent(msg->m_time, kEventInformation, IDS_LOG_READER_DISCONNECTED, PortNameOf(worker).c_str());
            if (NoKeyTransferredYet(settings))
                StoreReaderStatus(settings, msg->m_time, text);
            break;
        }
        default:
            break;
        }
        msg.reset();
    }

    // A job runs whatever the source is. Last: its end may delete the worker.
    if ((changes & RDCHG_JOB) && mainFrame)
        mainFrame->PollReaderJob();
}

void CNorvaneApp::OnReaderError(const CRdErrorMsg& message)
{
    CReader* worker = m_drainedReader ? m_drainedReader : reader.get();
    const std::wstring port = worker ? PortNameOf(*worker) : settings.GetTransferDoc().GetSourceValue();
    if (settings.GetEventLog().IsOpen())
        LogEvent(message.m_time, kEventError, IDS_LOG_ERROR, port.c_str(), static_cast<unsigned>(message.m_code),
                 message.m_text);
    // While the reader is connected, only the errors that need the user's action replace what
    // the last transfer shows.
    bool connected = false;
    if (worker) {
        CCriticalSectionLock lock(&worker->Lock());
        connected = worker->state == RDST_CONNECTED;
    }
    if (!connected || message.m_code == KV_E_UNRECOGNIZED_MSG || message.m_code == KV_E_MIFARE_BINARY_MODE)
        settings.SetLastTransferInfo(CTimeValue(message.m_time), 0, _KEY_NUMBER{}, 0, nullptr, message.m_code,
                                     message.m_text.c_str(), nullptr, nullptr, nullptr);
}

void CNorvaneApp::OnReaderConnected(const CTNMsg& message)
{
    CReader* worker = m_drainedReader ? m_drainedReader : reader.get();
    if (!worker)
        return;
    std::wstring port, versionText;
    int model, serial;
    PackedVersion firmware;
    {
        CCriticalSectionLock lock(&worker->Lock());
        port = worker->portName;
        model = worker->model;
        serial = worker->serial;
        firmware = worker->version;
        versionText = worker->versionText;
    }

    const int index = settings.FindReader(port);
    if (index >= 0 && model != 0) {
        KnownReader& known = settings.knownReaders[static_cast<size_t>(index)];
        if (known.fields[KR_MODEL] != model || known.fields[KR_SERIAL] != serial ||
            known.fields[KR_FIRMWARE] != static_cast<int32_t>(firmware) || known.description != versionText) {
            known.fields[KR_MODEL] = model;
            known.fields[KR_SERIAL] = serial;
            known.fields[KR_FIRMWARE] = static_cast<int32_t>(firmware);
            known.description = versionText;
            known.fields[KR_PRESENT] = 1;
            settings.RaiseStateChange(ASS_KNOWN_READERS, false);
        }
    }
    if (settings.IsSoundsEnabled())
        RequestSound(kSoundReaderConnected);

    const bool tableOpen = settings.GetEventLog().IsOpen();
    const bool noKeyYet = NoKeyTransferredYet(settings);
    if (!tableOpen && !noKeyYet)
        return;
    std::wstring text, part;
    FormatResString(text, IDS_LOG_READER_CONNECTED, ReaderModelName(model));
    if (serial != -1) {
        FormatResString(part, IDS_SERIAL_NUMBER, serial);
        text += L" " + part;
    }
    if (firmware != 0) {
        FormatResString(part, IDS_FIRMWARE_VERSION, VersionToString(firmware).c_str());
        text += L" " + part;
    }
    if (tableOpen)
        LogEventText(settings, this, message.m_time, kEventInformation, IDS_LOG_READER_CONNECTED, port.c_str(),
                     text);
    if (noKeyYet)
        StoreReaderStatus(settings, message.m_time, text);
}
