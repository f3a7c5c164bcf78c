#include "config/ActionCatalogue.h"

#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "core/AppLog.h"
#include "core/Json.h"
#include "resources/resource.h"

namespace
{

// An integral JSON number that fits 32 bits (doubles such as 12.0 included).
bool GetInt32(const JsonValue& object, const wchar_t* key, int32_t& out)
{
    const JsonValue* value = object.FindMember(key);
    if (!value)
        return false;
    double number;
    if (value->GetType() == JSON_INT64)
        number = static_cast<double>(value->Int64Value());
    else if (value->GetType() == JSON_DOUBLE)
        number = value->DoubleValue();
    else
        return false;
    if (number != std::floor(number) || number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int32_t>(number);
    return true;
}

}  // namespace

void CActionHdBk::LoadActionCatalogue()
{
    groups.clear();
    actions.clear();
    CMemJson doc;
    try
    {
        doc.LoadFromResource(IDR_ACTIONS);
    }
    catch (const std::exception& e)
    {
        CAppContext* app = GetAppContext();
        if (app && app->IsLogged(LOG_THRESHOLD_ERROR))
            LogMessage(app, nullptr, LOG_ERROR, L"Action catalogue: %hs", e.what());
        return;
    }
    LoadFromJson(doc.Root);
}

void CActionHdBk::LoadFromJson(const JsonValue& root)
{
    groups.clear();
    actions.clear();
    const JsonValue* catalogue = root.FindMember(L"actions", JSON_OBJECT);
    if (!catalogue)
        return;

    // Group id -> 1-based position in groups; 0 for an id no group has.
    std::array<uint8_t, kMaxActionGroupId + 1> positions{};
    if (const JsonValue* list = catalogue->FindMember(L"groups", JSON_ARRAY))
    {
        for (const JsonValue& element : *list->ArrayPtr())
        {
            int32_t id = 0;
            std::wstring name;
            if (element.GetType() != JSON_OBJECT || !GetInt32(element, L"id", id) || id < 1 ||
                id > kMaxActionGroupId || !element.GetString(L"name", name))
                continue;
            groups.push_back(std::move(name));
            positions[id] = static_cast<uint8_t>(groups.size());
        }
    }

    const JsonValue* list = catalogue->FindMember(L"actions", JSON_ARRAY);
    if (!list)
        return;
    for (const JsonValue& element : *list->ArrayPtr())
    {
        ActionEntry action;
        if (element.GetType() != JSON_OBJECT || !GetInt32(element, L"command", action.command) ||
            !element.GetString(L"name", action.name))
            continue;
        int32_t groupId = 0;
        if (GetInt32(element, L"groupId", groupId) && groupId >= 1 && groupId <= kMaxActionGroupId)
            action.group = positions[groupId];
        actions.push_back(std::move(action));
    }
}
