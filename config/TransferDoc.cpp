#include "config/TransferDoc.h"
#include <stdexcept>
#include "config/ConfigFile.h"
#include "core/Exceptions.h"

namespace {

const TransferDetailWords kNoDetails;

}  // namespace

CTransferDoc::CTransferDoc()
{
    m_formatsById.rehash(8);
    m_formatsById.max_load_factor(1.0f);
    m_destinations[DEST_KEYBOARD - 1] = std::make_shared<_TRANS_DST_KEYBOARD>();
    m_destinations[DEST_CLIPBOARD - 1] = std::make_shared<_TRANS_DST>(DEST_CLIPBOARD);
    m_destinations[DEST_PORTAVO - 1] = std::make_shared<_TRANS_DST_PORTAVO>();
    m_destinations[DEST_CMDLINE - 1] = std::make_shared<_TRANS_DST_CMDLINE>();
    m_destinations[DEST_HTTP - 1] = std::make_shared<_TRANS_DST_HTTPREQUEST>();
    SetDefaults();
}

CTransferDoc::~CTransferDoc() = default;

void CTransferDoc::SetDefaults()
{
    m_sourceKind = SOURCE_NONE;
    m_sourceValue.clear();
    m_destType = DEST_KEYBOARD;
    m_destText.clear();
    m_sourceState = 0;
    m_destState = 0;
    m_reader = ReaderSettings();

    m_keys.clear();
    keyListSort = 0;
    keyListTimerEnabled = false;
    keyListTimerInterval = 1000;
    keyListNoDuplicates = 0;

    for (auto& destination : m_destinations)
        destination->SetDefaults();

    ClearFormats();
    newId = kFirstFormatId;
    presetsVersion = 0;
    presetsLanguage = 0;
    formatsSort = 0;

    m_keyFilters.clear();
    keyFiltersSort = 0;
    keyFilterNewId = 1;
    selectedKeyFilter = 0;
    defaultId = 0;

    m_readKeys = ReadKeysSettings();
    m_mifareCKeys.clear();
    m_mifarePKeys.clear();
}

void CTransferDoc::ClearFormats()
{
    m_formats.clear();
    m_formatsByName.clear();
    m_formatsById.clear();
}

void CTransferDoc::SetPathName(const std::wstring& path)
{
    if (path == m_path)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_path = path;
    SetModified(TDC_PATH);
}

void CTransferDoc::SetUnsaved(bool unsaved)
{
    if (unsaved == m_unsaved)
        return;
    m_unsaved = unsaved;
    SetModified(TDC_UNSAVED);
}

void CTransferDoc::Open()
{
    if (m_open)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    SetUnsaved(false);

    bool keyFiltersRead = false;
    if (!m_path.empty() && IsExistingSettingsFile(m_path)) {
        CAppCfgFile file(m_path);
        // A file that does not parse is kept aside by the load and reads as version 0, so
        // nothing of it is taken and the next save writes the configuration whole.
        file.Load();
        if (file.IsReadable())
            keyFiltersRead = LoadTransferConfig(*this, file);
        SetUnsaved(!file.IsCurrentVersion());
    }
    if (!m_path.empty() && !keyFiltersRead)
        ResetKeyFiltersToPresets();

    m_open = true;
    RaiseStateChange(TDS_OPEN);
}

void CTransferDoc::SaveToFile(const std::wstring& path, bool whole)
{
    CAppCfgFile file(path);
    // Only a current file keeps the members this configuration does not write; any other
    // is rewritten from scratch.
    file.PrepareSave(whole);
    SaveTransferConfig(*this, file);
    file.Save();
}

void CTransferDoc::Save(bool whole)
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    SaveToFile(m_path, whole);
    SetUnsaved(false);
}

void CTransferDoc::Close(bool save)
{
    if (!m_open)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    if (save && m_unsaved)
        Save(false);
    m_open = false;
    RaiseStateChange(TDS_OPEN);
    SetUnsaved(false);
}

void CTransferDoc::RaiseChange(uint32_t word1, uint32_t word2, bool markUnsaved)
{
    if (markUnsaved && !m_unsaved) {
        m_unsaved = true;
        word1 |= TDC_UNSAVED;
    }
    SetModified(word1, word2);
}

void CTransferDoc::RaiseStateChange(uint32_t mask)
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_details.state |= mask;
    RaiseChange(TDC_STATE, 0, false);
}

void CTransferDoc::RaiseFormatsChange(uint32_t mask, bool markUnsaved)
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_details.formats |= mask;
    RaiseChange(TDC_FORMATS, 0, markUnsaved);
}

void CTransferDoc::RaiseKeyListChange(uint32_t mask, bool resetSort)
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_details.keyList |= mask;
    RaiseChange(TDC_KEYLIST, 0, false);
    if ((mask & TDK_LOADED) != 0 && IsSavedPart(SAVED_KEYLIST) && !m_unsaved)
        RaiseChange(0, 0, true);
    if (resetSort && keyListSort != 0) {
        keyListSort = 0;
        RaiseChange(TDC_KEYLIST_SORT, 0, IsSavedPart(SAVED_KEYLIST));
    }
}

void CTransferDoc::FormatListChanged(uint32_t mask)
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_details.formatList |= mask;
    RaiseFormatsChange(TDF_FORMAT_LIST, true);
    if (formatsSort != 0) {
        formatsSort = 0;
        RaiseFormatsChange(TDF_FORMATS_SORT, true);
    }
}

void CTransferDoc::SetSourceState(int32_t state)
{
    if (state == m_sourceState)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_sourceState = state;
    RaiseStateChange(TDS_SOURCE_STATE);
}

void CTransferDoc::SetDestinationState(int32_t state)
{
    if (state == m_destState)
        return;
    CDocUpdateScope scope(*this, GetCurrentSender());
    m_destState = state;
    RaiseStateChange(TDS_DEST_STATE);
}

void CTransferDoc::SetModified(uint32_t word1, uint32_t word2)
{
    m_pending1 |= word1;
    m_pending2 |= word2;
    CDocument::SetModified(word1, word2);
}

void CTransferDoc::NotifyObservers()
{
    CDocUpdateScope scope(*this, GetCurrentSender());
    TransferDetailWords delivered = m_details;
    m_details = TransferDetailWords();
    m_pending1 = 0;
    m_pending2 = 0;
    const TransferDetailWords* saved = m_snapshot;
    m_snapshot = &delivered;
    try {
        CDocument::NotifyObservers();
    } catch (...) {
        m_snapshot = saved;
        throw;
    }
    m_snapshot = saved;
}

const TransferDetailWords& CTransferDoc::GetDetails() const
{
    if (!m_snapshot)
        return kNoDetails;
    // A change raised by an observer during the pass reaches the observers still to come in the
    // same pass, with its change bits: its detail words must reach them too, or a key added
    // meanwhile is told to them as a change without its "added" detail.
    m_passDetails.formats = m_snapshot->formats | m_details.formats;
    m_passDetails.state = m_snapshot->state | m_details.state;
    m_passDetails.keyList = m_snapshot->keyList | m_details.keyList;
    m_passDetails.formatList = m_snapshot->formatList | m_details.formatList;
    return m_passDetails;
}

std::shared_ptr<_TRANS_DST> CTransferDoc::GetDestination(int32_t type) const
{
    if (type < 1 || type > kDestinationCount)
        return nullptr;
    return m_destinations[type - 1];
}

_TRANS_DST_KEYBOARD& CTransferDoc::Keyboard() const
{
    return static_cast<_TRANS_DST_KEYBOARD&>(*m_destinations[DEST_KEYBOARD - 1]);
}

_TRANS_DST_PORTAVO& CTransferDoc::Portavo() const
{
    return static_cast<_TRANS_DST_PORTAVO&>(*m_destinations[DEST_PORTAVO - 1]);
}

_TRANS_DST_CMDLINE& CTransferDoc::CmdLine() const
{
    return static_cast<_TRANS_DST_CMDLINE&>(*m_destinations[DEST_CMDLINE - 1]);
}

_TRANS_DST_HTTPREQUEST& CTransferDoc::HttpRequest() const
{
    return static_cast<_TRANS_DST_HTTPREQUEST&>(*m_destinations[DEST_HTTP - 1]);
}
