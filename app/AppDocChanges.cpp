// The application's observers of both documents: whatever changed a setting, the reader
// worker, the bridge link, the HTTP client, the hotkey map and the ready words follow here.
#include <winsock2.h>

#include "app/NorvaneApp.h"

#include "app/CommandTexts.h"
#include "app/MainFrame.h"
#include "core/AppLog.h"
#include "core/TextUtil.h"
#include "reader/ReaderModels.h"
#include "reader/Reader.h"
#include "resources/resource.h"
#include "transfer/HttpDest.h"
#include "transfer/Portavo.h"

namespace {

constexpr int kEventWarning = 2;
// Key-list entry marks that name a rendering of the key, made stale by format changes.
constexpr uint32_t kRenderedMarks = KVKEY_FORMAT_NAME_CURRENT | KVKEY_OUTPUT_CURRENT;

bool KeyListFeedsTransfer(const CTransferDoc& doc)
{
    const int32_t kind = doc.GetSourceKind();
    return kind == SOURCE_KEYLIST || (kind == SOURCE_READER && (doc.reader.flags & READER_TO_KEYLIST));
}

// A record that names a format but no key belongs to a configuration that is gone.
void ClearStaleLastTransfer(CAppSettings& settings)
{
    const _LAST_TRANSFER& last = settings.GetLastTransfer();
    if (last.formatName.empty() || last.keyNumber.length != 0)
        return;
    settings.SetLastTransferInfo(CTimeValue(_time64(nullptr)), 0, _KEY_NUMBER{}, 0, nullptr, 0, nullptr, nullptr,
                                 nullptr, nullptr);
}

}  // namespace

void CNorvaneApp::ApplyTransferState()
{
    ApplySourceLink();
    ApplyDestinationLinks();
    UpdateSourceState();
    UpdateDestinationState();
}

void CNorvaneApp::ApplySourceLink()
{
    CTransferDoc& doc = settings.GetTransferDoc();
    const bool running = settings.IsTransferEnabled();
    const std::wstring port = doc.GetSourceValue();

    if (doc.GetSourceKind() == SOURCE_READER && !port.empty()) {
        const bool jobPending = !running && reader && reader->GetJob().state == RDJOB_PENDING;
        if (!running && !jobPending) {
            ReleaseReader(true);
        } else if (reader && reader->GetPortName() == port) {
            ApplyReaderSettings(false, true);
        } else if (reader) {
            ReleaseReader(false);
            if (IsLogged(LOG_THRESHOLD_INFO))
                LogMessageById(this, nullptr, LOG_INFO, IDS_LOG_READER_RECONNECT, port.c_str());
            ApplyReaderSettings(false, true);
        } else {
            ApplyReaderSettings(true, true);
        }
    } else {
        ReleaseReader(true);
    }

    if (running && KeyListFeedsTransfer(doc)) {
        if (mainFrame && !mainFrame->GetPage(PAGE_KEY_LIST))
            mainFrame->CreatePage(PAGE_KEY_LIST);
        const std::vector<KvKeyPtr>& keys = doc.GetKeys();
        if (!HasSelectedKey() && !keys.empty() && keys.front()) {
            keys.front()->flags |= KVKEY_SELECTED;
            CDocUpdateScope scope(settings);
            settings.RaiseChange(ASC_KEYLIST_SELECTION, 0, false);
        }
    }
}

void CNorvaneApp::ApplyDestinationLinks()
{
    const CTransferDoc& doc = settings.GetTransferDoc();
    const bool running = settings.IsTransferEnabled();

    if (running && doc.GetDestinationType() == DEST_PORTAVO) {
        const _TRANS_DST_PORTAVO& destination = doc.Portavo();
        if (bridgeLink) {
            const PortavoSettings current = bridgeLink->GetSettings();
            bool same = current.type == destination.mode;
            if (same && destination.mode == PORTAVO_CLIENT)
                same = current.address == destination.address && current.nvt == destination.nvt;
            else if (same && destination.mode == PORTAVO_SERVER)
                same = current.port == destination.port && current.maxConnections == destination.maxConnections;
            if (!same) {
                ReleaseBridgeLink(false);
                if (IsLogged(LOG_THRESHOLD_INFO)) {
                    std::wstring address;
                    if (destination.mode == PORTAVO_SERVER)
                        FormatResString(address, IDS_PTV_SERVER, static_cast<int>(destination.port));
                    else
                        FormatResString(address, IDS_PTV_CLIENT, destination.address.c_str());
                    LogMessageById(this, nullptr, LOG_INFO, IDS_PTV_RESTART, address.c_str());
                }
                ApplyBridgeLink(false);
            }
        } else {
            ApplyBridgeLink(true);
        }
    } else {
        ReleaseBridgeLink(true);
    }

    if (running && doc.GetDestinationType() == DEST_HTTP) {
        // A fresh client: the address may name another server.
        if (inetSession) {
            inetSession->Close();
            inetSession->serverKey.clear();
        }
        EnsureInetSession();
    } else {
        inetSession.reset();
    }
}

void CNorvaneApp::OnSettingsChanged(void* key, CDocument*, const uint32_t* bits)
{
    auto* app = static_cast<CNorvaneApp*>(key);
    CAppSettings& settings = app->GetSettings();
    const CTransferDoc& doc = settings.GetTransferDoc();
    const uint32_t change = bits[0];
    const AppSettingsDetails details = settings.GetDetails();

    if ((change & ASC_UI) && (details.ui & ASU_LANGUAGE))
        app->ApplyLanguage();
    if (change & (ASC_EVENTLOG_ON | ASC_EVENTLOG_LIMIT))
        app->UpdateEventLog();
    if (change & ASC_TRANSFER_ON)
        app->ApplyTransferState();
    if (change & ASC_HOTKEYS)
        GetCommandHotkeys().Rebuild(settings.hotkeys, settings.IsHotkeysEnabled());
    if ((change & ASC_KEYLIST_SELECTION) && KeyListFeedsTransfer(doc))
        app->UpdateSourceState();
    if (change & ASC_TRANSFER_ON)
        ClearStaleLastTransfer(settings);
    if ((change & ASC_STATE) && (details.state & ASS_EXT_TOOLS_EMPTIED))
        settings.RestoreDefaultExtTools();
    if ((change & ASC_STATE) && (details.state & ASS_LAST_TRANSFER))
        for (const KvFormatPtr& format : doc.GetFormats())
            if (format)
                format->flags &= ~KVF_SAMPLE_CURRENT;
}

void CNorvaneApp::OnConfigurationChanged(void* key, CDocument*, const uint32_t* bits)
{
    auto* app = static_cast<CNorvaneApp*>(key);
    CAppSettings& settings = app->GetSettings();
    CTransferDoc& doc = settings.GetTransferDoc();
    const uint32_t change = bits[0];
    const TransferDetailWords details = doc.GetDetails();
    const bool readerSource = doc.GetSourceKind() == SOURCE_READER;

    if ((change & TDC_FORMATS) && (details.formats & TDF_PRESETS) && doc.presetsVersion < kPresetsVersion)
        doc.LoadPresets(false);
    // Renderings of the keys follow the formats; a new configuration brings its own.
    if ((change & TDC_FORMATS) || ((change & TDC_STATE) && (details.state & TDS_OPEN)))
        for (const KvKeyPtr& entry : doc.GetKeys())
            if (entry)
                entry->flags &= ~kRenderedMarks;
    if ((change & TDC_KEYLIST) && KeyListFeedsTransfer(doc))
        app->UpdateSourceState();
    // The reader-list watch serves the main window: from its creation to its end.
    if ((change & TDC_READER) && app->ccidNotifyWindow.load())
        app->Ccid().EnablePnpWatch((doc.reader.searchFlags & SEARCH_CCID) != 0);
    if ((change & TDC_SOURCE) || (readerSource && (change & (TDC_READER | TDC_SOURCE | TDC_TEMIC))))
        app->ApplySourceLink();
    if ((change & TDC_VELL4MODE) && app->GetReader() && app->GetReader()->SetVell4Mode(doc.readKeys.vell4Mode))
        app->GetReader()->Wake();
    // The key types, sector, block, key and pages are read at each card: a running reader takes
    // them under its lock, without a reconnect (unless the same change already went through
    // ApplySourceLink). "toKeylist" decides which key types it reads.
    if ((change & (TDC_KEYTYPES | TDC_MIFARE_CLASSIC | TDC_MIFARE_PLUS | TDC_MIFARE_UL | TDC_READER)) &&
        app->GetReader() && !(readerSource && (change & (TDC_READER | TDC_SOURCE | TDC_TEMIC)))) {
        app->GetReader()->SetCardReading(ReaderCardReading(doc));
        app->GetReader()->Wake();
    }
    const int32_t destination = doc.GetDestinationType();
    if ((change & TDC_DESTINATION) || ((change & TDC_PORTAVO) && destination == DEST_PORTAVO) ||
        ((change & TDC_HTTP) && destination == DEST_HTTP))
        app->ApplyDestinationLinks();
    // The ready words follow the links; a command line is ready once it names a program.
    if ((change & (TDC_SOURCE | TDC_DESTINATION)) || (readerSource && (change & TDC_READER)) ||
        ((change & TDC_CMDLINE) && destination == DEST_CMDLINE)) {
        app->UpdateSourceState();
        app->UpdateDestinationState();
    }

    if ((change & TDC_STATE) && (details.state & TDS_OPEN) && doc.GetSourceState() == 1 &&
        settings.GetEventLog().IsOpen()) {
        uint32_t delivered = 0;
        if (readerSource && app->GetReader()) {
            const ReaderStatus status = app->GetReader()->GetStatus();
            delivered = ReaderKeyTypeMask(status.model, status.version, (doc.reader.flags & READER_WIEGAND) != 0);
        } else if (doc.GetSourceKind() == SOURCE_KEYLIST) {
            for (const KvKeyPtr& entry : doc.GetKeys())
                if (entry && entry->keyType >= 0 && entry->keyType < 32)
                    delivered |= 1u << entry->keyType;
        }
        if (delivered & ~doc.readKeys.keyTypes)
            app->LogEvent(_time64(nullptr), kEventWarning, IDS_KEY_TYPES_OFF, nullptr);
    }
    if (change & TDC_SOURCE)
        ClearStaleLastTransfer(settings);
}
