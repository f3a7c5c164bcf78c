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

}  // namespace

void CNorvaneApp::WireReader(CReader& worker)
{
    worker.CreateEvents();
    worker.SetNotifyWindowSource([this] { return GetMainFrameWindow(); });
    worker.SetAppContext(this);
    worker.SetCcidWatcher(&cccid);
    // The log asks from the worker's own thread: it names this worker, never the member,
    // which the UI thread replaces.
    CReader* named = &worker;
    Reader = named;
    ReaderPortName = [named] { return named->GetPortName(); };
}

namespace {

bool SameMifareReading(const MifareReadSettings& a, const MifareReadSettings& b)
{
    return a.enabled == b.enabled && a.flags == b.flags && a.mask == b.mask && KeysEqual(a.key, b.key) &&
           a.sector == b.sector && a.block == b.block;
}

bool SameCardReading(const ReadKeysSettings& a, const ReadKeysSettings& b)
{
    return a.keyTypes == b.keyTypes && a.vell4Mode == b.vell4Mode && SameMifareReading(a.classic, b.classic) &&
           SameMifareReading(a.plus, b.plus) && a.ultralight.enabled == b.ultralight.enabled &&
           a.ultralight.page == b.ultralight.page && a.ultralight.count == b.ultralight.count && a.temic == b.temic;
}

} // namespace

ReadKeysSettings ReaderCardReading(const CTransferDoc& doc)
{
    ReadKeysSettings cardReading = doc.readKeys;
    // The key list takes keys of every type: the mask then only keeps them out of the transfer.
    if (doc.reader.flags & READER_TO_KEYLIST)
        cardReading.keyTypes = kAllKeyTypes;
    return cardReading;
}

void CNorvaneApp::ApplyReaderSettings(bool logStart, bool connect)
{
    CTransferDoc& doc = settings.GetTransferDoc();
    const std::wstring& portName = doc.GetSourceValue();
    if (reader && reader->GetPortName() != portName)
        ReleaseReader(false);

    if (!reader) {
        if (ClassifyPortName(portName.c_str()) == kPortKindNetwork)
            StartWinsock();
        auto worker = std::make_unique<CReader>();
        worker->SetPortName(portName);
        WireReader(*worker);
        reader = std::move(worker);
    }

    const ReadKeysSettings cardReading = ReaderCardReading(doc);
    if (reader->IsStarted() && reader->GetSettings() == doc.reader &&
        SameCardReading(reader->GetCardReading(), cardReading)) {
        // Nothing changes for a reader at work (a start refreshes twice): a key or a connection
        // it reported meanwhile is still news and stays queued.
        reader->SetPolling(connect);
    } else if (reader->Configure(doc.reader, cardReading, connect) != 0 && IsLogged(LOG_THRESHOLD_TRACE)) {
        // What the reader said under its old settings is no longer news.
        LogMessage(this, reader.get(), LOG_INFO, L"notification queue is empty");
    }

    if (reader->IsStarted())
        reader->Wake();
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

    const uint32_t changes = worker.TakeChanges();
    if (changes && doc.GetSourceKind() == SOURCE_READER) {
        if (changes & RDCHG_STATE)
            UpdateSourceState();
        if ((changes & RDCHG_CARD_STATE) && mainFrame)
            mainFrame->MarkDirty(MFD_STATUS);
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
                LogEvent(msg->m_time, kEventInformation, IDS_LOG_READER_DISCONNECTED, worker.GetPortName().c_str());
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
    const std::wstring port = worker ? worker->GetPortName() : settings.GetTransferDoc().GetSourceValue();
    if (settings.GetEventLog().IsOpen())
        LogEvent(message.m_time, kEventError, IDS_LOG_ERROR, port.c_str(), static_cast<unsigned>(message.m_code),
                 message.m_text);
    // While the reader is connected, only the errors that need the user's action replace what
    // the last transfer shows.
    const bool connected = worker && worker->GetState() == RDST_CONNECTED;
    if (!connected || message.m_code == KV_E_UNRECOGNIZED_MSG || message.m_code == KV_E_MIFARE_BINARY_MODE)
        settings.SetLastTransferInfo(CTimeValue(message.m_time), 0, _KEY_NUMBER{}, 0, nullptr, message.m_code,
                                     message.m_text.c_str(), nullptr, nullptr, nullptr);
}

void CNorvaneApp::OnReaderConnected(const CTNMsg& message)
{
    CReader* worker = m_drainedReader ? m_drainedReader : reader.get();
    if (!worker)
        return;
    const std::wstring port = worker->GetPortName();
    const ReaderStatus status = worker->GetStatus();
    const int model = status.model, serial = status.serial;
    const PackedVersion firmware = status.version;
    const std::wstring& versionText = status.versionText;

    const int index = settings.FindReader(port);
    if (index >= 0 && model != 0) {
        auto readers = settings.EditKnownReaders();
        KnownReader& known = (*readers)[static_cast<size_t>(index)];
        if (known.model != model || known.serial != serial || known.firmware != static_cast<int32_t>(firmware) ||
            known.versionText != versionText) {
            known.model = model;
            known.serial = serial;
            known.firmware = static_cast<int32_t>(firmware);
            known.versionText = versionText;
            known.present = 1;
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

void CNorvaneApp::ReconnectReader()
{
    if (reader && reader->IsRunning())
        reader->Reconnect();
}

void CNorvaneApp::SetReader(std::unique_ptr<CReader> worker)
{
    reader = std::move(worker);
}
