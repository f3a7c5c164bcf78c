// The action catalogue: the built-in resource and the loader's tests of each element.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>

#include <string>
#include <vector>

#include "config/ActionCatalogue.h"
#include "core/Json.h"

namespace {

CActionHdBk FromText(const wchar_t* text)
{
    CMemJson doc;
    doc.LoadFromText(text);
    CActionHdBk catalogue;
    catalogue.groups = {L"stale"};
    catalogue.actions = {{1, L"stale", 1}};
    catalogue.LoadFromJson(doc.Root);
    return catalogue;
}

}  // namespace

TEST(ActionCatalogue, BuiltInGroupsAndActionsInResourceOrder)
{
    const std::vector<std::wstring> groups = {L"Transfer", L"View", L"Format", L"Configuration",
                                              L"Tools", L"Help", L"Other"};
    const std::vector<ActionEntry> actions = {
        {33028, L"Run as Administrator", 1},
        {32785, L"Start the transfer", 1},
        {32786, L"Stop the transfer", 1},
        {32787, L"Restart the transfer", 1},
        {32879, L"On/off transfer", 1},
        {32880, L"Repeat the last transfer", 1},
        {32946, L"On/off transfer log", 1},
        {32846, L"Open the transfer log", 1},
        {32850, L"Clear the transfer log", 1},
        {32945, L"On/off debug log", 1},
        {32854, L"Open the debug log", 1},
        {32856, L"Clear the debug log", 1},
        {32877, L"Reconnect to the reader", 1},
        {32878, L"Reconnect to Portavo", 1},
        {32829, L"On/off sound notifications", 1},
        {1143, L"Activate the window for transfer of specified on the \"Keyboard\"", 1},
        {32914, L"Pass the next key", 1},
        {32915, L"On/off timer key list", 1},
        {32932, L"Change the last key", 1},
        {32948, L"Reset counter", 1},
        {32953, L"Initialize Temic", 1},
        {32954, L"Write all Mifare keys in the reader", 1},
        {32820, L"Show/minimize the main window Norvane", 2},
        {33021, L"Show Norvane", 2},
        {33022, L"Minimize Norvane", 2},
        {32885, L"Show page \"Transfer\"", 2},
        {32886, L"Show page \"Log\"", 2},
        {32896, L"Show page \"Source\"", 2},
        {32887, L"Show page \"Reader\"", 2},
        {32888, L"Show page \"List of keys\"", 2},
        {32897, L"Show page \"Destination\"", 2},
        {32890, L"Show page \"Keyboard\"", 2},
        {32891, L"Show page \"Portavo\"", 2},
        {32889, L"Show page \"Formats\"", 2},
        {32895, L"Show page \"Reading keys\"", 2},
        {32892, L"Show page \"Advanced\"", 2},
        {32893, L"Show page \"Sounds\"", 2},
        {32894, L"Show page \"Hotkeys\"", 2},
        {32966, L"Back to previous page", 2},
        {32797, L"Always on top", 2},
        {32941, L"Show/hide toolbar", 2},
        {32923, L"Show/hide the panel \"Page list\"", 2},
        {32965, L"Show/hide the panel \"Page Title\"", 2},
        {32922, L"Show/hide the panel \"Status bar\"", 2},
        {32939, L"Show/hide version of the title", 2},
        {32876, L"Create a new format", 3},
        {32815, L"Create a new configuration", 4},
        {32881, L"Open an existing configuration", 4},
        {32812, L"Save changes to the current configuration", 4},
        {32882, L"Open custom configuration #1", 4},
        {32883, L"Open custom configuration #2", 4},
        {32884, L"Open custom configuration #3", 4},
        {32980, L"Show window \"Import and Export Settings\"", 5},
        {33038, L"Show window \"External Tools\"", 5},
        {33040, L"External tool 1", 5},
        {33041, L"External tool 2", 5},
        {33042, L"External tool 3", 5},
        {33043, L"External tool 4", 5},
        {33044, L"External tool 5", 5},
        {33045, L"External tool 6", 5},
        {33046, L"External tool 7", 5},
        {33047, L"External tool 8", 5},
        {32872, L"Show help contents", 6},
        {32778, L"Show window \"About\"", 6},
        {32779, L"Exit Norvane", 7},
        {33003, L"Exit Norvane without saving", 7},
        {32782, L"Refresh the list of ports of readers", 7},
    };
    CActionHdBk catalogue;
    catalogue.LoadActionCatalogue();
    EXPECT_EQ(catalogue.groups, groups);
    ASSERT_EQ(catalogue.actions.size(), 67u);
    for (size_t i = 0; i < actions.size(); ++i)
    {
        EXPECT_EQ(catalogue.actions[i].command, actions[i].command) << i;
        EXPECT_EQ(catalogue.actions[i].name, actions[i].name) << i;
        EXPECT_EQ(catalogue.actions[i].group, actions[i].group) << i;
    }
    // Every action has its command string: a short name, a line feed and the long text.
    for (const ActionEntry& action : catalogue.actions) {
        wchar_t text[512] = {};
        LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(action.command), text, 512);
        const wchar_t* feed = wcschr(text, L'\n');
        EXPECT_TRUE(feed && feed != text && feed[1]) << action.command << " \"" << text << "\"";
    }
    // Loading again replaces rather than appends.
    catalogue.LoadActionCatalogue();
    EXPECT_EQ(catalogue.actions.size(), 67u);
    EXPECT_EQ(catalogue.groups.size(), 7u);
}

TEST(ActionCatalogue, GroupsWithoutValidIdOrNameAreSkipped)
{
    const CActionHdBk c = FromText(LR"({"actions": {"groups": [
        {"id": 5, "name": "Five"},
        {"id": 33, "name": "Above"},
        {"id": 0, "name": "Zero"},
        {"id": -1, "name": "Negative"},
        {"id": "2", "name": "Text id"},
        {"id": 2.5, "name": "Fraction"},
        {"name": "No id"},
        {"id": 3},
        {"id": 4, "name": 4},
        "Bare",
        [1, "x"],
        {"id": 32, "name": "Last"},
        {"id": 1.0, "name": "One"}
    ], "actions": [
        {"command": 100, "name": "a", "groupId": 5},
        {"command": 101, "name": "b", "groupId": 32},
        {"command": 102, "name": "c", "groupId": 1},
        {"command": 103, "name": "d", "groupId": 33},
        {"command": 104, "name": "e", "groupId": 2}
    ]}})");
    EXPECT_EQ(c.groups, (std::vector<std::wstring>{L"Five", L"Last", L"One"}));
    const std::vector<ActionEntry> expected = {
        {100, L"a", 1}, {101, L"b", 2}, {102, L"c", 3}, {103, L"d", 0}, {104, L"e", 0}};
    EXPECT_EQ(c.actions, expected);
}

TEST(ActionCatalogue, ActionsNeedACommandAndAName)
{
    const CActionHdBk c = FromText(LR"({"actions": {"groups": [{"id": 7, "name": "Seven"}], "actions": [
        {"command": 1, "name": "kept", "groupId": 7},
        {"command": 2, "groupId": 7},
        {"command": 3, "name": null},
        {"name": "no command"},
        {"command": "4", "name": "text command"},
        {"command": 5.5, "name": "fraction"},
        {"command": 4294967296, "name": "beyond 32 bits"},
        {"command": 6, "name": "", "groupId": 0},
        {"command": 7, "name": "eight", "groupId": 8},
        {"command": 8, "name": "thirty-three", "groupId": 33},
        {"command": 9, "name": "text group", "groupId": "7"},
        {"command": 10, "name": "no group"},
        {"command": 11.0, "name": "whole double", "groupId": 7.0},
        42,
        {"command": -12, "name": "negative"}
    ]}})");
    const std::vector<ActionEntry> expected = {
        {1, L"kept", 1},         {6, L"", 0},         {7, L"eight", 0},       {8, L"thirty-three", 0},
        {9, L"text group", 0},   {10, L"no group", 0}, {11, L"whole double", 1}, {-12, L"negative", 0}};
    EXPECT_EQ(c.actions, expected);
    EXPECT_EQ(c.groups, (std::vector<std::wstring>{L"Seven"}));
}

TEST(ActionCatalogue, DocumentsWithoutTheCatalogueObjectGiveAnEmptyCatalogue)
{
    const wchar_t* documents[] = {
        LR"({"actions": [{"command": 1, "name": "a"}]})",
        LR"({"actions": "none"})",
        LR"({"info": {"name": "Norvane.Actions", "version": "1.0"}})",
        LR"([{"actions": {"actions": [{"command": 1, "name": "a"}]}}])",
        LR"({"actions": {"groups": [{"id": 1, "name": "G"}], "actions": {"command": 1, "name": "a"}}})",
        L"",
        L"{\"actions\": {\"groups\": [{\"id\": 1, \"name\": \"G\"}",
    };
    for (const wchar_t* text : documents)
    {
        SCOPED_TRACE(text);
        const CActionHdBk c = FromText(text);
        EXPECT_TRUE(c.actions.empty());
    }
    // Groups without an action list still load; actions without groups get none.
    EXPECT_EQ(FromText(LR"({"actions": {"groups": [{"id": 1, "name": "G"}]}})").groups,
              std::vector<std::wstring>{L"G"});
    EXPECT_EQ(FromText(LR"({"actions": {"actions": [{"command": 3, "name": "a", "groupId": 1}]}})").actions,
              (std::vector<ActionEntry>{{3, L"a", 0}}));
}

TEST(ActionCatalogue, LaterGroupWithTheSameIdTakesIt)
{
    const CActionHdBk c = FromText(LR"({"actions": {"groups": [{"id": 3, "name": "First"}, {"id": 3, "name": "Second"}],
        "actions": [{"command": 1, "name": "a", "groupId": 3}]}})");
    EXPECT_EQ(c.groups, (std::vector<std::wstring>{L"First", L"Second"}));
    EXPECT_EQ(c.actions, (std::vector<ActionEntry>{{1, L"a", 2}}));
}
