#pragma once
// The catalogue of the application parameters the full parameter list shows: nested groups of
// parameters 101-151 from a built-in JSON resource, the editor kind of each, and the reading,
// defaulting, storing and display of one parameter's value. Values live only in the settings.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CAppSettings;
class IPageHost;

// Editor kinds; a group node has PK_GROUP.
enum ParamKind : int32_t
{
    PK_GROUP = 1,
    PK_YESNO = 2,
    PK_LANGUAGE = 3,
    PK_FOLDER = 4,
    PK_CONFIGURATION = 5,
    PK_MOUSE_COMMAND = 6,
    PK_SEPARATOR = 7,
    PK_ENCODING = 8,
    PK_NUMBER = 9,
    PK_LOG_LEVEL = 10,
};

constexpr int kParamCount = 51;      // parameter indexes 1..51 (catalogue ids 101..151)
constexpr int kFirstParamId = 101;

struct ParamNode
{
    uint16_t id = 0;     // a group's id, or a parameter's index (its id less 100)
    int32_t kind = PK_GROUP;
    std::wstring name;
    std::wstring hint;
    std::vector<ParamNode> children;  // groups only: subgroups first, then parameters

    bool IsGroup() const { return kind == PK_GROUP; }
};

struct ParamValue
{
    uint8_t flag = 0;      // yes/no
    int32_t number = 0;    // kinds 6-10; the language's position (0 automatic)
    std::wstring text;     // folder, configuration, language name

    bool operator==(const ParamValue&) const = default;
};

// The editor kind of a parameter index; 0 outside 1..51.
int32_t ParamKindOf(int index);

// The built-in catalogue (RCDATA 847); empty when it cannot be read.
std::vector<ParamNode> LoadParamCatalogue();
// A catalogue text; entries without a valid id or name are left out, text that does not parse
// gives an empty list.
std::vector<ParamNode> ParseParamCatalogue(std::wstring_view text);

// Depth first: the group node with the id, or null.
const ParamNode* FindParamGroup(const std::vector<ParamNode>& nodes, uint16_t id);

void GetParamValue(IPageHost& host, int index, ParamValue& out);
void GetParamDefault(int index, ParamValue& out);
// Stores a value in one change scope whose sender is `sender` (the page, so that its own
// observer is not told). An unchanged value changes nothing, except autorun, written each time.
void ApplyParamValue(IPageHost& host, const void* sender, int index, const ParamValue& value);
// Whether the value differs from the default (drawn bold).
bool ParamDiffersFromDefault(int index, const ParamValue& value);

struct ParamDisplay
{
    std::wstring text;
    int image = -1;        // yes/no: 0 yes, 1 no; language: its flag; -1 none
    bool bold = false;     // differs from the default
};
ParamDisplay FormatParamValue(IPageHost& host, int index, const ParamValue& value);

// The language combo's text of a position: 0 "Auto [system's]", 1 "Internal [English]", n the
// display name of language n - 1.
std::wstring LanguageDisplayName(const CAppSettings& settings, int position);
// The configuration's display name: the file name without folder and extension, or
// "<Norvane>" for the default configuration.
std::wstring ConfigurationDisplayName(const std::wstring& path);
// The open configuration as the configuration list names it: its display path less the
// extension; empty for the default configuration.
std::wstring OpenConfigurationName(const CAppSettings& settings);
// The name of log level n (1-6), empty outside.
std::wstring LogLevelName(int level);
