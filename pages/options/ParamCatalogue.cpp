#include "pages/options/ParamCatalogue.h"

#include <array>

#include "config/ActionCatalogue.h"
#include "config/AppSettings.h"
#include "config/FormatEngine.h"
#include "config/KeyNumber.h"
#include "core/Json.h"
#include "core/TextUtil.h"
#include "pages/PageHost.h"
#include "resources/resource.h"

namespace {

constexpr std::array<int32_t, kParamCount + 1> kKinds = [] {
    std::array<int32_t, kParamCount + 1> kinds{};
    for (int i = 1; i <= kParamCount; ++i)
        kinds[i] = PK_YESNO;
    kinds[3] = PK_FOLDER;
    kinds[4] = PK_CONFIGURATION;
    kinds[8] = PK_LOG_LEVEL;
    kinds[9] = PK_NUMBER;
    kinds[11] = PK_LANGUAGE;
    for (int i = 21; i <= 24; ++i)
        kinds[i] = PK_MOUSE_COMMAND;
    kinds[50] = PK_SEPARATOR;
    kinds[51] = PK_ENCODING;
    return kinds;
}();

// Where a yes/no parameter's bit lives.
enum class BitWord { None, Tray, Panels, Confirm, History };
struct BitParam
{
    int index;
    BitWord word;
    uint32_t bit;
};
constexpr BitParam kBitParams[] = {
    {18, BitWord::Tray, TRAY_SHOW_MINIMIZED},
    {19, BitWord::Tray, TRAY_SHOW_ALWAYS},
    {20, BitWord::Tray, TRAY_BALLOON_HINT},
    {25, BitWord::Panels, PANEL_TOOLBAR},
    {26, BitWord::Panels, PANEL_PAGELIST},
    {27, BitWord::Panels, PANEL_STATUSBAR},
    {28, BitWord::Panels, PANEL_HEADER},
    {29, BitWord::Confirm, CONFIRM_EXIT},
    {30, BitWord::Confirm, CONFIRM_SAVE_CONFIG},
    {31, BitWord::Confirm, CONFIRM_PRESET_TO_FORMAT},
    {32, BitWord::Confirm, CONFIRM_DELETE},
    {33, BitWord::Confirm, CONFIRM_REPLACE},
    {34, BitWord::Confirm, CONFIRM_TEMIC},
    {35, BitWord::Confirm, CONFIRM_WRITE_KEYS},
    {36, BitWord::History, HIST_PAGE},
    {37, BitWord::History, HIST_PARAM_FROM},
    {38, BitWord::History, HIST_PARAM_TO},
    {39, BitWord::History, HIST_KEYLIST},
    {40, BitWord::History, HIST_MIFARE_KEYS},
    {41, BitWord::History, HIST_TRANSFER_ON},
    {42, BitWord::History, HIST_LAST_TRANSFER},
    {43, BitWord::History, HIST_PAGELIST},
    {44, BitWord::History, HIST_EVENT_RECORDS},
    {45, BitWord::History, HIST_POSITIONS},
    {46, BitWord::History, HIST_SIZES},
    {47, BitWord::History, HIST_SHOW_STATES},
    {48, BitWord::History, HIST_ADVANCED},
    {49, BitWord::History, HIST_KEYFILTERS_SORT},
};

const BitParam* FindBitParam(int index)
{
    for (const BitParam& p : kBitParams)
        if (p.index == index)
            return &p;
    return nullptr;
}

uint32_t ReadWord(const CAppSettings& s, BitWord word)
{
    switch (word) {
    case BitWord::Tray: return s.GetTrayIconFlags();
    case BitWord::Panels: return s.GetPanels();
    case BitWord::Confirm: return s.GetConfirmFlags();
    case BitWord::History: return s.GetHistoryFlags();
    default: return 0;
    }
}

void WriteWord(CAppSettings& s, BitWord word, uint32_t value)
{
    switch (word) {
    case BitWord::Tray: s.SetTrayIconFlags(value); break;
    case BitWord::Panels: s.SetPanels(value); break;
    case BitWord::Confirm: s.SetConfirmFlags(value); break;
    case BitWord::History: s.SetHistoryFlags(value); break;
    default: break;
    }
}

// The defaults of the words whose bits the catalogue shows (the settings' own start values).
constexpr uint32_t kDefaultPanels = 9;
constexpr uint32_t kDefaultTray = 0;

void LoadGroup(const JsonValue& value, std::vector<ParamNode>& into)
{
    int64_t id = 0;
    ParamNode group;
    if (!value.GetInt64(L"id", id) || !value.GetString(L"name", group.name))
        return;
    group.id = static_cast<uint16_t>(id);
    group.kind = PK_GROUP;
    value.GetString(L"hint", group.hint);
    if (const JsonValue* groups = value.FindMember(L"groups", JSON_ARRAY))
        for (const JsonValue& g : *groups->ArrayPtr())
            LoadGroup(g, group.children);
    if (const JsonValue* params = value.FindMember(L"parameters", JSON_ARRAY)) {
        for (const JsonValue& p : *params->ArrayPtr()) {
            int64_t pid = 0;
            ParamNode param;
            if (!p.GetInt64(L"id", pid) || pid < kFirstParamId || pid >= kFirstParamId + kParamCount ||
                !p.GetString(L"name", param.name))
                continue;
            param.id = static_cast<uint16_t>(pid - 100);
            param.kind = kKinds[param.id];
            p.GetString(L"hint", param.hint);
            group.children.push_back(std::move(param));
        }
    }
    into.push_back(std::move(group));
}

std::vector<ParamNode> FromDocument(const CMemJson& json, bool parsed)
{
    std::vector<ParamNode> nodes;
    if (!parsed)
        return nodes;
    if (const JsonValue* groups = json.Root.FindMember(L"groups", JSON_ARRAY))
        for (const JsonValue& g : *groups->ArrayPtr())
            LoadGroup(g, nodes);
    return nodes;
}

std::wstring LoadText(UINT id)
{
    std::wstring text;
    LoadResString(id, text);
    return text;
}

std::wstring ActionName(IPageHost& host, int command)
{
    if (const std::shared_ptr<CActionHdBk> catalogue = host.GetActionCatalogue())
        for (const ActionEntry& action : catalogue->actions)
            if (action.command == command)
                return action.name;
    return {};
}

// The part of a path after its folder and before its extension.
std::wstring FileTitle(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\:");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    return name;
}

}  // namespace

int32_t ParamKindOf(int index)
{
    return index >= 1 && index <= kParamCount ? kKinds[index] : 0;
}

std::vector<ParamNode> ParseParamCatalogue(std::wstring_view text)
{
    CMemJson json;
    const bool parsed = json.LoadFromText(text);
    return FromDocument(json, parsed);
}

std::vector<ParamNode> LoadParamCatalogue()
{
    CMemJson json;
    bool parsed = false;
    try {
        parsed = json.LoadFromResource(IDR_ADVANCED_PARAMS);
    } catch (const std::exception&) {
        return {};
    }
    return FromDocument(json, parsed);
}

const ParamNode* FindParamGroup(const std::vector<ParamNode>& nodes, uint16_t id)
{
    for (const ParamNode& node : nodes) {
        if (!node.IsGroup())
            continue;
        if (node.id == id)
            return &node;
        if (const ParamNode* found = FindParamGroup(node.children, id))
            return found;
    }
    return nullptr;
}

void GetParamValue(IPageHost& host, int index, ParamValue& out)
{
    out = ParamValue{};
    const CAppSettings& s = host.GetSettings();
    if (const BitParam* bit = FindBitParam(index)) {
        out.flag = (ReadWord(s, bit->word) & bit->bit) != 0;
        return;
    }
    switch (index) {
    case 1: {
        bool present = false;
        out.flag = QueryAutorunValue(present) && present;
        break;
    }
    case 2: out.flag = s.singleInstance; break;
    case 3: out.text = s.GetDocumentsFolderSetting(); break;
    case 4: out.text = OpenConfigurationName(s); break;
    case 5: out.flag = s.autoStart; break;
    case 6: out.flag = s.transferLog; break;
    case 7: out.flag = s.debugLog.enabled; break;
    case 8: out.number = s.debugLog.logLevel; break;
    case 9: out.number = s.debugLog.maxSize; break;
    case 10: out.flag = s.debugLog.clearOnStartup; break;
    case 11:
        out.text = s.GetLanguage();
        out.number = out.text.empty() ? 0 : s.FindLanguage(out.text) + 1;
        break;
    case 12: out.flag = s.view.topMost; break;
    case 13: out.flag = s.view.snapToEdges; break;
    case 14: out.flag = s.view.versionTitle; break;
    case 15: out.flag = s.view.taskbarButton; break;
    case 16: out.flag = s.view.altListBkColor; break;
    case 17: out.flag = s.view.tableGrid; break;
    case 21: case 22: case 23: case 24:
        out.number = s.GetTrayClickCommands()[static_cast<size_t>(index - 21)];
        break;
    case 50: out.number = s.csv.delimiter; break;
    case 51: out.number = s.csv.encoding; break;
    default: break;
    }
}

void GetParamDefault(int index, ParamValue& out)
{
    out = ParamValue{};
    if (const BitParam* bit = FindBitParam(index)) {
        uint32_t word = 0;
        switch (bit->word) {
        case BitWord::Tray: word = kDefaultTray; break;
        case BitWord::Panels: word = kDefaultPanels; break;
        case BitWord::Confirm: word = kDefaultConfirm; break;
        case BitWord::History: word = kDefaultHistory; break;
        default: break;
        }
        out.flag = (word & bit->bit) != 0;
        return;
    }
    const AppViewOptions view;
    switch (index) {
    case 2: out.flag = 1; break;
    case 8: out.number = kDefaultDebugLog.logLevel; break;
    case 9: out.number = kDefaultDebugLog.maxSize; break;
    case 10: out.flag = kDefaultDebugLog.clearOnStartup; break;
    case 13: out.flag = view.snapToEdges; break;
    case 15: out.flag = view.taskbarButton; break;
    case 16: out.flag = view.altListBkColor; break;
    case 17: out.flag = view.tableGrid; break;
    case 21: out.number = ID_SHOW_MINIMIZE; break;
    case 50: out.number = L';'; break;
    case 51: out.number = 1; break;
    default: break;  // no, empty or 0
    }
}

bool ParamDiffersFromDefault(int index, const ParamValue& value)
{
    ParamValue def;
    GetParamDefault(index, def);
    switch (ParamKindOf(index)) {
    case PK_YESNO: return value.flag != def.flag;
    case PK_LANGUAGE:
    case PK_FOLDER:
    case PK_CONFIGURATION: return value.text != def.text;
    default: return value.number != def.number;
    }
}

void ApplyParamValue(IPageHost& host, const void* sender, int index, const ParamValue& value)
{
    CAppSettings& s = host.GetSettings();
    CDocUpdateScope scope(s, sender);
    const bool on = value.flag != 0;
    if (const BitParam* bit = FindBitParam(index)) {
        const uint32_t word = ReadWord(s, bit->word);
        WriteWord(s, bit->word, on ? word | bit->bit : word & ~bit->bit);
        return;
    }
    auto view = [&s](auto change) {
        AppViewOptions options = s.view;
        change(options);
        s.SetViewOptions(options);
    };
    switch (index) {
    case 1: s.SetAutorun(on); break;
    case 2: s.SetSingleInstance(on); break;
    case 3: s.SetDocumentsFolder(value.text); break;
    case 4: host.OpenConfiguration(value.text.empty() ? std::wstring() : value.text + L".nv2", true); break;
    case 5: s.SetAutoStart(on); break;
    case 6: s.SetTransferLog(on); break;
    case 7: if (s.debugLog.enabled != on) s.EditDebugLog()->enabled = on; break;
    case 8: if (s.debugLog.logLevel != value.number) s.EditDebugLog()->logLevel = value.number; break;
    case 9: if (s.debugLog.maxSize != value.number) s.EditDebugLog()->maxSize = value.number; break;
    case 10: if (s.debugLog.clearOnStartup != on) s.EditDebugLog()->clearOnStartup = on; break;
    case 11: s.SetLanguage(value.text); break;
    case 12: view([on](AppViewOptions& o) { o.topMost = on; }); break;
    case 13: view([on](AppViewOptions& o) { o.snapToEdges = on; }); break;
    case 14: view([on](AppViewOptions& o) { o.versionTitle = on; }); break;
    case 15: view([on](AppViewOptions& o) { o.taskbarButton = on; }); break;
    case 16: view([on](AppViewOptions& o) { o.altListBkColor = on; }); break;
    case 17: view([on](AppViewOptions& o) { o.tableGrid = on; }); break;
    case 21: case 22: case 23: case 24: {
        std::array<uint16_t, 4> commands = s.GetTrayClickCommands();
        commands[static_cast<size_t>(index - 21)] = static_cast<uint16_t>(value.number);
        s.SetTrayClickCommands(commands);
        break;
    }
    case 50:
        if (s.csv.delimiter != static_cast<wchar_t>(value.number))
            s.EditCsv()->delimiter = static_cast<wchar_t>(value.number);
        break;
    case 51:
        if (s.csv.encoding != value.number)
            s.EditCsv()->encoding = value.number;
        break;
    default: break;
    }
}

std::wstring LanguageDisplayName(const CAppSettings& settings, int position)
{
    const std::vector<LanguageInfo>& languages = settings.languages;
    if (position == 0) {
        std::wstring system;
        const LANGID id = LANGIDFROMLCID(GetSystemDefaultLCID());
        for (const LanguageInfo& l : languages)
            if (l.value == id) {
                system = l.text;
                break;
            }
        if (system.empty() && !languages.empty())
            system = languages.front().text;
        return LoadText(IDS_LANGUAGE_AUTO) + L" [" + system + L"]";
    }
    if (position == 1)
        return LoadText(IDS_LANGUAGE_INTERNAL);
    return position - 1 < static_cast<int>(languages.size()) ? languages[static_cast<size_t>(position - 1)].text
                                                              : std::wstring();
}

std::wstring ConfigurationDisplayName(const std::wstring& path)
{
    return path.empty() ? LoadText(IDS_DEFAULT_CONFIG_NAME) : FileTitle(path);
}

std::wstring OpenConfigurationName(const CAppSettings& settings)
{
    std::wstring path;
    settings.GetConfigDisplayPath(path);
    const size_t slash = path.find_last_of(L"\\:");
    const size_t dot = path.find_last_of(L'.');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        path.erase(dot);
    return path;
}

std::wstring LogLevelName(int level)
{
    const std::wstring names = LoadText(IDS_LOG_LEVEL_NAMES);
    size_t start = 0;
    for (int n = 1; start <= names.size(); ++n) {
        const size_t end = std::min(names.find(L';', start), names.size());
        if (n == level)
            return names.substr(start, end - start);
        start = end + 1;
    }
    return {};
}

ParamDisplay FormatParamValue(IPageHost& host, int index, const ParamValue& value)
{
    ParamDisplay d;
    d.bold = ParamDiffersFromDefault(index, value);
    const CAppSettings& s = host.GetSettings();
    switch (ParamKindOf(index)) {
    case PK_YESNO:
        d.text = LoadText(value.flag ? IDS_PARAM_YES : IDS_PARAM_NO);
        d.image = value.flag ? 0 : 1;
        break;
    case PK_LANGUAGE:
        if (value.text.empty()) {
            d.text = LanguageDisplayName(s, 0);
            d.image = LangIdToLanguageIndex(LANGIDFROMLCID(GetSystemDefaultLCID()));
        } else if (value.number == 0) {
            d.text = value.text;  // a name the list does not know shows as stored
        } else {
            d.text = LanguageDisplayName(s, value.number);
            if (value.number - 1 < static_cast<int>(s.languages.size()))
                d.image = LangIdToLanguageIndex(s.languages[static_cast<size_t>(value.number - 1)].value);
        }
        break;
    case PK_FOLDER:
        d.text = value.text;
        break;
    case PK_CONFIGURATION:
        d.text = ConfigurationDisplayName(value.text);
        break;
    case PK_MOUSE_COMMAND:
        d.text = value.number == 0 ? LoadText(IDS_COMMAND_DISABLED) : ActionName(host, value.number);
        break;
    case PK_SEPARATOR: {
        const wchar_t c = static_cast<wchar_t>(value.number);
        EscapeControlChars(d.text, &c, 1);
        break;
    }
    case PK_ENCODING:
        d.text = value.number == 1 ? LoadText(IDS_ENCODING_ANSI) : value.number == 2 ? LoadText(IDS_ENCODING_UTF8) : L"";
        break;
    case PK_NUMBER:
        d.text = std::to_wstring(value.number);
        break;
    case PK_LOG_LEVEL:
        d.text = LogLevelName(value.number);
        break;
    default:
        break;
    }
    return d;
}
