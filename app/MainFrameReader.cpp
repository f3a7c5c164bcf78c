// The main frame's side of the reader: the key-list timer, the reader jobs (Temic
// initialisation, writing Mifare keys into the reader) and the reader search.
#include <winsock2.h>

#include "app/MainFrame.h"

#include <exception>

#include "app/NorvaneApp.h"
#include "app/PortList.h"
#include "app/ProgressDialog.h"
#include "core/AppLog.h"
#include "core/TextUtil.h"
#include "framework/MessageBox.h"
#include "reader/Reader.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR kKeyListTimer = 1;
constexpr UINT_PTR kJobTimer = 2;
constexpr UINT kJobTimerPeriod = 1000;
// Transfer-document state details of a job's start and end.
constexpr uint32_t kJobStateChange = TDS_SOURCE_STATE | TDS_READER_JOB;
constexpr UINT kQuestionStyle = 0x21;
constexpr UINT kErrorStyle = 0x10;
constexpr UINT kInformationStyle = 0x40;

bool KeyListFeedsTransfer(const CTransferDoc& doc)
{
    const int32_t kind = doc.GetSourceKind();
    return kind == SOURCE_KEYLIST || (kind == SOURCE_READER && (doc.reader.flags & READER_TO_KEYLIST));
}

// "Really?" with its "Do not ask" box, which clears the confirm bit. True for OK.
bool ConfirmJob(HWND owner, uint32_t confirmBit)
{
    CAppSettings& settings = App().GetSettings();
    bool dontAsk = false;
    const int answer = ShowMessageId(IDS_REALLY, kQuestionStyle, owner, &dontAsk);
    if (dontAsk)
        settings.SetConfirmFlags(settings.GetConfirmFlags() & ~confirmBit);
    return answer == IDOK;
}

}  // namespace

void CMainFrame::UpdateKeyListTimer()
{
    const CTransferDoc& doc = m_app.GetSettings().GetTransferDoc();
    const bool run = doc.keyListTimerEnabled && doc.keyListTimerInterval > 0 && doc.GetSourceState() == 1 &&
                     KeyListFeedsTransfer(doc) && doc.GetDestinationState() == 1;
    if (!run) {
        KillTimer(kKeyListTimer);
        m_keyListPeriod = 0;
        return;
    }
    const UINT period = static_cast<UINT>(doc.keyListTimerInterval);
    if (!(timerMask & (1u << kKeyListTimer)) || period != m_keyListPeriod) {
        if (SetTimer(kKeyListTimer, period))
            m_keyListPeriod = period;
    }
}

// ---- Reader jobs ----

void CMainFrame::InitializeTemic(bool confirm)
{
    if (confirm && !ConfirmJob(m_hWnd, CONFIRM_TEMIC))
        return;
    StartReaderJob(RDJOB_TEMIC_INIT, false, {}, 1);
}

void CMainFrame::WriteKeysToReader(bool plus, uint32_t slotMask, bool confirm)
{
    if (confirm && !ConfirmJob(m_hWnd, CONFIRM_WRITE_KEYS))
        return;
    const CTransferDoc& doc = m_app.GetSettings().GetTransferDoc();
    const std::vector<_KEY_NUMBER>& list = plus ? doc.GetMifarePlusKeys() : doc.GetMifareClassicKeys();
    // The reader writes slot i from entry i; the slots not asked for stay empty.
    std::vector<_KEY_NUMBER> keys(list.size());
    int count = 0;
    for (size_t i = 0; i < list.size() && i < 32; ++i) {
        if ((slotMask & (1u << i)) && list[i].length != 0) {
            keys[i] = list[i];
            ++count;
        }
    }
    if (count == 0) {
        ShowMessageId(IDS_NO_KEYS_TO_WRITE, kInformationStyle, m_hWnd);
        return;
    }
    StartReaderJob(RDJOB_WRITE_KEYS, plus, std::move(keys), count);
}

void CMainFrame::StartReaderJob(int kind, bool plus, std::vector<_KEY_NUMBER> keys, int total)
{
    CNorvaneApp& app = m_app;
    try {
        if (!app.GetReader())
            app.ApplyReaderSettings(true, true);
        CReader& worker = *app.GetReader();
        worker.StartJob(kind, plus ? 1 : 0, std::move(keys), total);
        worker.Wake();
        CDocUpdateScope scope(app.GetSettings().GetTransferDoc());
        app.GetSettings().GetTransferDoc().RaiseStateChange(kJobStateChange);
    } catch (const std::exception& e) {
        ShowMessage(MultiByteToWString(e.what(), CP_ACP), kErrorStyle, m_hWnd);
        return;
    }
    if (!(timerMask & (1u << kJobTimer)))
        SetTimer(kJobTimer, kJobTimerPeriod);
}

void CMainFrame::OnJobTimer()
{
    KillTimer(kJobTimer);
    CNorvaneApp& app = m_app;
    if (!app.GetReader() || progressDialog || app.GetReader()->GetJob().state != RDJOB_PENDING)
        return;
    CProgressDialog dialog;
    progressDialog = &dialog;
    dialog.Run(m_hWnd, *app.GetReader(), [this] { KillTimer(kJobTimer); });
    progressDialog = nullptr;
    // The dialog held the reader; what the job's end does to it comes now.
    PollReaderJob();
}

void CMainFrame::PollReaderJob()
{
    CNorvaneApp& app = m_app;
    if (!app.GetReader())
        return;
    const ReaderJob job = app.GetReader()->GetJob();
    const int kind = job.type;
    const HRESULT result = job.state;
    if (result == RDJOB_PENDING || kind == 0)
        return;
    KillTimer(kJobTimer);
    if (progressDialog) {
        // The rest follows when the dialog has ended and let go of the reader.
        if (progressDialog->IsOpen())
            progressDialog->Finish();
        return;
    }
    app.GetReader()->ForgetJob();   // reported once
    if (!app.GetSettings().IsTransferEnabled())
        app.ReleaseReader(true);
    {
        CDocUpdateScope scope(app.GetSettings().GetTransferDoc());
        app.GetSettings().GetTransferDoc().RaiseStateChange(kJobStateChange);
    }

    std::wstring name, text;
    LoadResString(kind == RDJOB_TEMIC_INIT ? IDS_JOB_TEMIC_INIT : IDS_JOB_WRITE_KEYS, name);
    FormatResString(text, SUCCEEDED(result) ? IDS_JOB_SUCCEEDED : IDS_JOB_FAILED, name.c_str());
    if (statusBar.m_hWnd)
        SendMessageW(statusBar.m_hWnd, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    ShowMessage(text, SUCCEEDED(result) ? kInformationStyle : kErrorStyle, m_hWnd);
}

// ---- Reader search ----

bool CMainFrame::StartReaderSearch()
{
    CNorvaneApp& app = m_app;
    // A running search is replaced: deleting it cancels it.
    searchThread.reset();
    const CTransferDoc& doc = app.GetSettings().GetTransferDoc();
    const ReaderSettings& rs = doc.reader;
    std::wstring current;
    if (doc.GetSourceKind() == SOURCE_READER)
        current = doc.GetSourceValue();
    else if (app.GetReader())
        current = app.GetReader()->GetPortName();
    std::vector<_PORT_INFO> ports;
    for (const KnownReader& r : app.GetSettings().knownReaders) {
        if (r.present || _wcsicmp(r.name.c_str(), current.c_str()) == 0)
            continue;
        ports.push_back({r.name, static_cast<DWORD>(r.kind), static_cast<DWORD>(r.portValue)});
    }
    const bool network = (rs.searchFlags & SEARCH_IP) != 0;
    if (ports.empty() && !network)
        return false;
    if (network)
        app.StartWinsock();
    SearchSettings s;
    s.flags = rs.searchFlags;
    s.stopBits = rs.stopBits;
    s.connectTimeout = rs.connectTimeout;
    s.readPoll = rs.checkInPeriod;
    s.replyTimeout = rs.receiveTimeout;
    s.tries = rs.maxTries;
    s.networkReplyTimeout = rs.searchReceiveTimeout;
    s.networkTries = rs.searchMaxTries;
    try {
        auto search = std::make_unique<CSearchReadersThread>();
        search->Engine().Init(s, &ports, search->CancelEvent());
        search->SetTarget(m_hWnd, WM_SEARCH_NOTIFY);
        search->Start();
        searchThread = std::move(search);
    } catch (const std::exception& e) {
        if (app.IsLogged(LOG_THRESHOLD_ERROR))
            LogMessage(&app, nullptr, LOG_ERROR, L"The reader search could not start: %hs", e.what());
        return false;
    }
    return true;
}

void CMainFrame::RefreshAllPorts()
{
    dirty &= ~(MFD_SERIAL_PORTS | MFD_ALL_PORTS);
    m_app.RefreshPortList(false);
    if (!searchThread && (m_app.GetSettings().GetTransferDoc().reader.searchFlags & SEARCH_IP))
        StartReaderSearch();
}

void CMainFrame::OnSearchResults()
{
    // A message of a search deleted since finds nothing to take.
    if (!searchThread)
        return;
    CNorvaneApp& app = m_app;
    std::vector<_FOUND_READER> found;
    const bool done = searchThread->TakeFound(found);
    {
        // The edit raises the known readers' state change once, when anything differs.
        auto edit = app.GetSettings().EditKnownReaders();
        std::vector<KnownReader>& readers = *edit;
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            const _FOUND_READER& f = *it;
            const int index = app.GetSettings().FindReader(f.portName);
            if (index < 0) {
                KnownReader r;
                r.name = f.portName;
                r.portValue = static_cast<int32_t>(PORT_ANY_MODEL);
                r.present = 1;
                r.kind = static_cast<int32_t>(f.portKind);
                r.model = f.model;
                r.firmware = static_cast<int32_t>(f.firmware);
                r.serial = f.serial;
                r.versionText = f.text;
                readers.push_back(std::move(r));
            } else if (f.model != 0) {
                KnownReader& r = readers[static_cast<size_t>(index)];
                r.model = f.model;
                r.serial = f.serial;
                r.firmware = static_cast<int32_t>(f.firmware);
                r.present = 1;
                r.versionText = f.text;
            }
        }
    }
    if (done)
        searchThread.reset();
}
