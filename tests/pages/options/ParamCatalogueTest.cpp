// The parameter catalogue: the built-in tree, bad catalogue text, defaults that are the
// settings' own, every parameter stored and read back through the settings file, and the value
// texts of the full list.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "config/AppSettings.h"
#include "pages/options/ParamCatalogue.h"
#include "resources/resource.h"
#include "tests/support/FakePageHost.h"
#include "tests/support/TempFolder.h"

namespace {

void Collect(const std::vector<ParamNode>& nodes, std::vector<const ParamNode*>& groups,
             std::vector<const ParamNode*>& params)
{
    for (const ParamNode& n : nodes) {
        (n.IsGroup() ? groups : params).push_back(&n);
        Collect(n.children, groups, params);
    }
}

// A value other than the default, of the parameter's kind.
ParamValue OtherValue(int index)
{
    ParamValue v;
    GetParamDefault(index, v);
    switch (ParamKindOf(index)) {
    case PK_YESNO: v.flag = !v.flag; break;
    case PK_FOLDER: v.text = L"Documents"; break;
    case PK_LANGUAGE: v.text = L"Klingon"; break;
    case PK_MOUSE_COMMAND: v.number = ID_APP_EXIT; break;
    case PK_SEPARATOR: v.number = L','; break;
    case PK_ENCODING: v.number = 2; break;
    case PK_NUMBER: v.number = 7; break;
    case PK_LOG_LEVEL: v.number = 2; break;
    default: break;
    }
    return v;
}

}  // namespace

TEST(ParamCatalogue, TheBuiltInTreeHoldsFiftyOneParametersInTwelveGroups)
{
    const std::vector<ParamNode> tree = LoadParamCatalogue();
    std::vector<const ParamNode*> groups, params;
    Collect(tree, groups, params);
    EXPECT_EQ(groups.size(), 12u);
    ASSERT_EQ(params.size(), 51u);
    std::vector<bool> seen(kParamCount + 1);
    for (const ParamNode* p : params) {
        ASSERT_GE(p->id, 1);
        ASSERT_LE(p->id, kParamCount);
        EXPECT_FALSE(seen[p->id]) << p->id;
        seen[p->id] = true;
        EXPECT_EQ(p->kind, ParamKindOf(p->id));
    }
    // Subgroups first, then the group's own parameters; hints where the catalogue has them.
    const ParamNode* ui = FindParamGroup(tree, 5);
    ASSERT_TRUE(ui);
    EXPECT_EQ(ui->name, L"UI");
    EXPECT_EQ(ui->children[0].id, 6);
    EXPECT_EQ(ui->children[3].name, L"Language");
    EXPECT_EQ(FindParamGroup(tree, 11)->name, L"Tables");
    EXPECT_EQ(FindParamGroup(tree, 13), nullptr);
    EXPECT_EQ(FindParamGroup(tree, 6)->children[0].hint, L"Minimize to tray");
    EXPECT_EQ(ParamKindOf(11), PK_LANGUAGE);
    EXPECT_EQ(ParamKindOf(50), PK_SEPARATOR);
    EXPECT_EQ(ParamKindOf(52), 0);
}

TEST(ParamCatalogue, EntriesWithoutAValidIdOrNameAreLeftOut)
{
    const std::vector<ParamNode> tree = ParseParamCatalogue(LR"({"groups": [
        {"id": 1, "name": "A", "parameters": [
            {"id": 101, "name": "kept"}, {"id": 152, "name": "too high"}, {"id": 100, "name": "too low"},
            {"id": 102}, {"id": "103", "name": "id as text"}, {"id": 104, "name": 5}, {"id": 105, "name": "kept too"}],
         "groups": [{"name": "no id", "parameters": [{"id": 106, "name": "lost with its group"}]}]},
        {"id": 2, "parameters": [{"id": 107, "name": "group without a name"}]},
        {"id": 3, "name": "B"}]})");
    ASSERT_EQ(tree.size(), 2u);
    ASSERT_EQ(tree[0].children.size(), 2u);
    EXPECT_EQ(tree[0].children[0].id, 1);
    EXPECT_EQ(tree[0].children[1].id, 5);
    EXPECT_TRUE(tree[1].children.empty());
    EXPECT_TRUE(ParseParamCatalogue(L"{\"groups\": [{\"id\": 1, \"name\": ").empty());
    EXPECT_TRUE(ParseParamCatalogue(L"").empty());
}

TEST(ParamCatalogue, DefaultsAreTheSettingsOwn)
{
    CFakePageHost host;
    for (int index = 2; index <= kParamCount; ++index) {
        if (index == 4)
            continue;  // the open configuration, not a setting
        ParamValue current, def;
        GetParamValue(host, index, current);
        GetParamDefault(index, def);
        EXPECT_FALSE(ParamDiffersFromDefault(index, current)) << "parameter " << index;
    }
    ParamValue v;
    GetParamDefault(8, v);
    EXPECT_EQ(v.number, 5);
    GetParamDefault(9, v);
    EXPECT_EQ(v.number, -1);
    GetParamDefault(21, v);
    EXPECT_EQ(v.number, 32820);
    GetParamDefault(50, v);
    EXPECT_EQ(v.number, L';');
    // The defaults of the bits, stored into empty words, give the words' defaults.
    CFakePageHost empty;
    empty.settings.SetConfirmFlags(0);
    empty.settings.SetHistoryFlags(0);
    empty.settings.SetPanels(0);
    for (int index = 25; index <= 49; ++index) {
        GetParamDefault(index, v);
        ApplyParamValue(empty, nullptr, index, v);
    }
    EXPECT_EQ(empty.settings.GetConfirmFlags(), 0x1011Cu);
    EXPECT_EQ(empty.settings.GetHistoryFlags(), 0x1C7Bu);
    EXPECT_EQ(empty.settings.GetPanels(), 9u);
}

TEST(ParamCatalogue, EachParameterIsStoredReadBackAndSaved)
{
    CTempFolder folder;
    CFakePageHost host;
    host.settings.SetDataFolder(folder.Path(), true);
    host.settings.SetSettingsPath(folder.File(L"Norvane.json"));
    int changes = 0;
    const void* pageKey = &changes;
    auto other = host.settings.Observe(&changes, [](void* key, CDocument*, const uint32_t*) { ++*static_cast<int*>(key); });
    for (int index = 2; index <= kParamCount; ++index) {
        if (index == 4)
            continue;
        const ParamValue value = OtherValue(index);
        ApplyParamValue(host, pageKey, index, value);
        ParamValue back;
        GetParamValue(host, index, back);
        EXPECT_TRUE(ParamDiffersFromDefault(index, back)) << "parameter " << index;
        EXPECT_TRUE(FormatParamValue(host, index, back).bold) << "parameter " << index;
    }
    EXPECT_EQ(changes, 0) << "the page that stores is not told of its own changes";
    EXPECT_TRUE(host.settings.IsUnsaved());
    host.settings.Save(true, false);

    CFakePageHost reloaded;
    reloaded.settings.SetDataFolder(folder.Path(), true);
    reloaded.settings.SetSettingsPath(folder.File(L"Norvane.json"));
    ASSERT_TRUE(reloaded.settings.Load(true, false));
    for (int index = 2; index <= kParamCount; ++index) {
        if (index == 4)
            continue;
        ParamValue saved, loaded;
        GetParamValue(host, index, saved);
        GetParamValue(reloaded, index, loaded);
        EXPECT_EQ(saved, loaded) << "parameter " << index;
    }
}

TEST(ParamCatalogue, TheConfigurationIsOpenedThroughTheHost)
{
    CFakePageHost host;
    ParamValue v;
    v.text = L"Gate";
    ApplyParamValue(host, nullptr, 4, v);
    ApplyParamValue(host, nullptr, 4, ParamValue{});
    EXPECT_EQ(host.calls, (std::vector<std::wstring>{L"OpenConfiguration|Gate.nv2|1", L"OpenConfiguration||1"}));
}

TEST(ParamCatalogue, ValueTextsOfTheFullList)
{
    CFakePageHost host;
    struct Row { int index; ParamValue value; const wchar_t* text; int image; bool bold; };
    auto num = [](int n) { ParamValue v; v.number = n; return v; };
    auto flag = [](int f) { ParamValue v; v.flag = static_cast<uint8_t>(f); return v; };
    auto text = [](const wchar_t* t, int n = 0) { ParamValue v; v.text = t; v.number = n; return v; };
    const Row rows[] = {
        {2, flag(1), L"Yes", 0, false},
        {2, flag(0), L"No", 1, true},
        {8, num(5), L"Debug", -1, false},
        {8, num(1), L"Assert", -1, true},
        {8, num(6), L"Verbose", -1, true},
        {8, num(7), L"", -1, true},
        {8, num(0), L"", -1, true},
        {9, num(-1), L"-1", -1, false},
        {9, num(2147483647), L"2147483647", -1, true},
        {50, num(L'\t'), L"\\t", -1, true},
        {50, num(L';'), L";", -1, false},
        {50, num(L','), L",", -1, true},
        {51, num(1), L"ANSI", -1, false},
        {51, num(2), L"UTF-8", -1, true},
        {21, num(0), L"(disabled)", -1, true},
        {21, num(32820), L"Show/minimize the main window Norvane", -1, false},
        {22, num(1), L"", -1, true},  // no such action
        {4, text(L""), L"<Norvane>", -1, false},
        {4, text(L"Sites\\Gate"), L"Gate", -1, true},
        {3, text(L"D:\\Docs"), L"D:\\Docs", -1, true},
        {11, text(L"Klingon", 0), L"Klingon", -1, true},  // not in the list: as stored, no flag
    };
    for (const Row& r : rows) {
        const ParamDisplay d = FormatParamValue(host, r.index, r.value);
        EXPECT_EQ(d.text, r.text) << "parameter " << r.index;
        EXPECT_EQ(d.image, r.image) << "parameter " << r.index;
        EXPECT_EQ(d.bold, r.bold) << "parameter " << r.index;
    }
    EXPECT_EQ(LogLevelName(5), L"Debug");
}
