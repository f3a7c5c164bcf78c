// The static command ids of the main window: every id its menus, toolbars and accelerators
// can send. Dynamic menu ids (10000 and above) are not among them.
#include <algorithm>
#include <iterator>

#include "app/MainFrame.h"

namespace {

struct CommandRange
{
    int first, last;
};

// Sorted, not overlapping.
constexpr CommandRange kStaticCommands[] = {
    {1143, 1143},   {32778, 32779}, {32782, 32782}, {32785, 32787}, {32797, 32797}, {32801, 32801},
    {32812, 32812}, {32815, 32815}, {32820, 32820}, {32829, 32829}, {32846, 32846}, {32848, 32848},
    {32850, 32850}, {32854, 32856}, {32872, 32872}, {32876, 32897}, {32914, 32915}, {32922, 32923},
    {32932, 32932}, {32939, 32939}, {32941, 32941}, {32945, 32948}, {32953, 32954}, {32965, 32968},
    {32979, 32980}, {33003, 33003}, {33021, 33022}, {33028, 33028}, {33038, 33038}, {33040, 33047},
};

} // namespace

bool IsExternalCommandAllowed(int commandId)
{
    const auto it = std::lower_bound(std::begin(kStaticCommands), std::end(kStaticCommands), commandId,
                                     [](const CommandRange& r, int id) { return r.last < id; });
    return it != std::end(kStaticCommands) && it->first <= commandId;
}
