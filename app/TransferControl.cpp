// Transfer control: start, stop and restart, the two ready words and "Next key".
#include <winsock2.h>

#include "app/NorvaneApp.h"

#include <exception>

#include "app/AppLogCommands.h"
#include "app/MainFrame.h"
#include "app/ShellServices.h"
#include "comm/Notify.h"
#include "core/AppLog.h"
#include "core/Exceptions.h"
#include "core/ResultCodes.h"
#include "core/SysUtil.h"
#include "core/SystemServices.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "framework/SysFunctions.h"
#include "pages/source/KeyListPage.h"
#include "reader/Reader.h"
#include "resources/resource.h"
#include "transfer/HttpDest.h"
#include "transfer/Portavo.h"

namespace {

constexpr int kEventInformation = 1;
constexpr int kEventError = 3;
constexpr UINT kErrorBoxStyle = 0x10;

bool IsElevated()
{
    bool elevated = true;
    const HRESULT result = SystemServices().CheckElevation(elevated);
    return FAILED(result) || elevated;
}

bool KeyListFeedsTransfer(const CTransferDoc& doc)
{
    const int32_t kind = doc.GetSourceKind();
    return kind == SOURCE_KEYLIST || (kind == SOURCE_READER && (doc.reader.flags & READER_TO_KEYLIST));
}

bool IsEligible(const CTransferDoc& doc, const _KV_KEY& key)
{
    return key.keyType >= 0 && key.keyType < 32 && (doc.readKeys.keyTypes & (1u << key.keyType));
}

std::wstring SourceText(const CTransferDoc& doc)
{
    const int32_t kind = doc.GetSourceKind();
    std::wstring text;
    if (kind == SOURCE_READER)
        text = doc.GetSourceValue();
    else if (kind >= SOURCE_KEYLIST && kind <= 4)
        LoadResString(IDS_SOURCE_NAME_BASE + kind, text);
    return text;
}

std::wstring DestinationText(const CTransferDoc& doc)
{
    const int32_t type = doc.GetDestinationType();
    std::wstring text;
    if (type >= DEST_KEYBOARD && type <= DEST_HTTP)
        LoadResString(IDS_DEST_NAME_BASE + type, text);
    return text;
}

void StorePageEdits(CMainFrame* frame)
{
    if (!frame)
        return;
    frame->StorePageEdits();
}

// The event and debug-log line of a start or restart, with the source and destination texts.
void RecordSourceAndDestination(CNorvaneApp& app, UINT id)
{
    const CTransferDoc& doc = app.GetSettings().GetTransferDoc();
    const std::wstring source = SourceText(doc);
    const std::wstring destination = DestinationText(doc);
    app.LogEvent(_time64(nullptr), kEventInformation, id, nullptr, source, destination);
    if (app.IsLogged(LOG_THRESHOLD_INFO))
        LogMessageById(&app, nullptr, LOG_INFO, id, source.c_str(), destination.c_str());
}

// A start nobody watches (started hidden, by autorun, by "/start", by a hand-over) has nobody
// to show its failure to: the debug log and the event table keep it instead. id: the string
// of the text (it names the event), or IDS_LOG_ERROR with the code.
void ReportStartFailure(CNorvaneApp& app, bool interactive, UINT id, HRESULT code, const std::wstring& text)
{
    if (interactive) {
        ShowMessage(text, kErrorBoxStyle, app.GetMainFrameWindow());
        return;
    }
    if (app.IsLogged(LOG_THRESHOLD_ERROR))
        LogMessage(&app, nullptr, LOG_ERROR, L"%s", EscapeLineBreaks(text.c_str()).c_str());
    if (id == IDS_LOG_ERROR)
        app.LogEvent(_time64(nullptr), kEventError, id, nullptr, static_cast<unsigned>(code), text);
    else
        LogEventText(app.GetSettings(), &app, _time64(nullptr), kEventError, id, nullptr, text);
}

void ReportStartException(CNorvaneApp& app, bool interactive, const std::exception& e)
{
    HRESULT code = E_FAIL;
    if (const auto* os = dynamic_cast<const COSException*>(&e))
        code = HRESULT_FROM_WIN32(os->GetCode());
    else if (const auto* com = dynamic_cast<const CComException*>(&e))
        code = com->GetCode();
    ReportStartFailure(app, interactive, IDS_LOG_ERROR, code, MultiByteToWString(e.what(), CP_ACP));
}

}  // namespace

// ---- Ready words ----

bool CNorvaneApp::HasSelectedKey() const
{
    for (const KvKeyPtr& key : settings.GetTransferDoc().GetKeys())
        if (key && (key->flags & KVKEY_SELECTED))
            return true;
    return false;
}

void CNorvaneApp::UpdateSourceState()
{
    CTransferDoc& doc = settings.GetTransferDoc();
    int32_t word = 0;
    if (settings.IsTransferEnabled()) {
        if (KeyListFeedsTransfer(doc)) {
            if (doc.GetSourceKind() == SOURCE_KEYLIST && mainFrame && !mainFrame->GetPage(PAGE_KEY_LIST))
                mainFrame->CreatePage(PAGE_KEY_LIST);
            word = HasSelectedKey() ? 1 : 0;
        } else if (doc.GetSourceKind() == SOURCE_READER) {
            if (reader)
                word = reader->GetState();
        }
    }
    if (word != doc.GetSourceState()) {
        CDocUpdateScope scope(doc);
        doc.SetSourceState(word);
    }
}

void CNorvaneApp::UpdateDestinationState()
{
    CTransferDoc& doc = settings.GetTransferDoc();
    int32_t word = 0;
    if (settings.IsTransferEnabled()) {
        switch (doc.GetDestinationType()) {
        case DEST_KEYBOARD:
        case DEST_CLIPBOARD:
            word = 1;
            break;
        case DEST_PORTAVO:
            word = bridgeLink ? bridgeLink->GetState() : 0;
            break;
        case DEST_CMDLINE:
            word = doc.CmdLine().program.empty() ? 0 : 1;
            break;
        case DEST_HTTP:
            word = inetSession ? 1 : 0;
            break;
        default:
            break;
        }
    }
    if (word != doc.GetDestinationState()) {
        CDocUpdateScope scope(doc);
        doc.SetDestinationState(word);
    }
}

// ---- Start, stop, restart ----

bool CNorvaneApp::StartTransfer(bool interactive)
{
    CTransferDoc& doc = settings.GetTransferDoc();
    try {
        StorePageEdits(mainFrame.get());
        if (doc.GetSourceKind() == SOURCE_NONE) {
            std::wstring text;
            LoadResString(IDS_NO_SOURCE, text);
            ReportStartFailure(*this, interactive, IDS_NO_SOURCE, E_FAIL, text);
            return false;
        }
        if (doc.GetDestinationType() == DEST_KEYBOARD && doc.Keyboard().startAdmin && IsWindowsVistaOrLater() &&
            !IsElevated()) {
            RestartElevated(L"/N /start");
            return false;
        }

        CDocUpdateScope settingsScope(settings);
        CDocUpdateScope docScope(doc);
        settings.SetTransferEnabled(true);
        ApplyTransferState();
        RecordSourceAndDestination(*this, IDS_TRANSFER_STARTED);
        return true;
    } catch (const std::exception& e) {
        ReportStartException(*this, interactive, e);
        return false;
    }
}

void CNorvaneApp::StopTransfer()
{
    try {
        const bool wasRunning = settings.IsTransferEnabled();
        CDocUpdateScope settingsScope(settings);
        CDocUpdateScope docScope(settings.GetTransferDoc());
        settings.SetTransferEnabled(false);
        ApplyTransferState();
        if (wasRunning) {
            LogEvent(_time64(nullptr), kEventInformation, IDS_TRANSFER_STOPPED, nullptr);
            if (IsLogged(LOG_THRESHOLD_INFO))
                LogMessageById(this, nullptr, LOG_INFO, IDS_TRANSFER_STOPPED);
        }
    } catch (const std::exception& e) {
        // Stopping runs on the way out too; it must not end the close.
        if (IsLogged(LOG_THRESHOLD_ERROR))
            LogMessage(this, nullptr, LOG_ERROR, L"%hs", e.what());
    }
}

bool CNorvaneApp::RestartTransfer(bool interactive)
{
    try {
        CDocUpdateScope scope(settings);
        StorePageEdits(mainFrame.get());
        settings.RaiseChange(ASC_TRANSFER_ON, 0, false);
        ReleaseReader(true);
        ReleaseBridgeLink(true);
        ApplyTransferState();
        RecordSourceAndDestination(*this, IDS_TRANSFER_RESTARTED);
        return true;
    } catch (const std::exception& e) {
        ReportStartException(*this, interactive, e);
        return false;
    }
}

// ---- Next key ----

bool CNorvaneApp::TransferNextKey()
{
    CTransferDoc& doc = settings.GetTransferDoc();
    if (doc.GetSourceState() != 1 || doc.GetDestinationState() != 1)
        return false;

    CDocUpdateScope scope(settings);
    if (mainFrame && !mainFrame->GetPage(PAGE_KEY_LIST))
        mainFrame->CreatePage(PAGE_KEY_LIST);

    // The rows the page shows, in its order (the filter may hide entries); held by value, since
    // the transfer's observers may change the list.
    CKeyListPage* page = mainFrame ? dynamic_cast<CKeyListPage*>(mainFrame->GetPage(PAGE_KEY_LIST)) : nullptr;
    const std::vector<KvKeyPtr> keys = page && page->m_hWnd ? page->ShownKeys() : doc.GetKeys();
    size_t row = 0;
    while (row < keys.size() && !(keys[row] && (keys[row]->flags & KVKEY_SELECTED)))
        ++row;
    while (row < keys.size() && !(keys[row] && IsEligible(doc, *keys[row])))
        ++row;
    if (row >= keys.size()) {
        if (settings.IsSoundsEnabled())
            RequestSound(kSoundTransferFailed);
        LogEvent(_time64(nullptr), kEventError, IDS_LOG_ERROR, nullptr, static_cast<unsigned>(KV_E_END_OF_KEYLIST),
                 GetResultCodeText(KV_E_END_OF_KEYLIST));
        return false;
    }

    if (IsLogged(LOG_THRESHOLD_INFO))
        LogMessage(this, nullptr, LOG_INFO, L"Next key");
    const KvKeyPtr key = keys[row];
    const HRESULT result = TransferKey(key->keyType, key->keyNumber, 0);
    if (FAILED(result)) {
        // The key stays selected, so it is the next one tried; the timer would only fail it
        // again and again, hiding the error behind later keys.
        if (mainFrame)
            mainFrame->KillTimer(1);
        return false;
    }
    if (!(key->flags & KVKEY_TRANSFERRED)) {
        key->flags |= KVKEY_TRANSFERRED;
        doc.RaiseKeyListChange(TDK_TRANSFERRED, false);
    }

    size_t next = row + 1;
    while (next < keys.size() && !(keys[next] && IsEligible(doc, *keys[next])))
        ++next;
    for (const KvKeyPtr& entry : doc.GetKeys())
        if (entry)
            entry->flags &= ~KVKEY_SELECTED;
    if (next < keys.size()) {
        keys[next]->flags |= KVKEY_SELECTED;
        if (page)
            page->RevealEntry(keys[next]);
    }
    settings.RaiseChange(ASC_KEYLIST_SELECTION, 0, false);
    UpdateSourceState();
    return true;
}
