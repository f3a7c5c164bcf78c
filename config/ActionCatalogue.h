#pragma once
// The action catalogue: the commands a user can bind to hotkeys, grouped, each with its
// display name, as the built-in resource lists them. Read by the hotkeys page and the full
// parameter list; built once and shared.
#include <cstdint>
#include <string>
#include <vector>

class JsonValue;

struct ActionEntry
{
    int32_t command = 0;
    std::wstring name;
    uint8_t group = 0;  // 1-based position in the groups; 0 no group

    bool operator==(const ActionEntry&) const = default;
};

constexpr int kMaxActionGroupId = 32;

class CActionHdBk
{
public:
    std::vector<std::wstring> groups;
    std::vector<ActionEntry> actions;

    // Replaces both lists with the built-in catalogue; a resource that cannot be read leaves
    // them empty.
    void LoadActionCatalogue();
    // Replaces both lists from a document {"actions": {"groups": [...], "actions": [...]}};
    // elements that do not have the expected members are skipped.
    void LoadFromJson(const JsonValue& root);
};
