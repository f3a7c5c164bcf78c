#pragma once
// One column of a table: the settings store a list of these per page, the table control
// builds its list-view columns from them.
#include <cstdint>

// Bits of ColumnDesc::flags.
constexpr int COLF_VISIBLE = 0x1;
constexpr int COLF_AUTOSIZE = 0x2;
constexpr int COLF_CHOOSER_MARK = 0x4000;  // transient mark of the column chooser

// Values of ColumnDesc::format.
constexpr int COLFMT_LEFT = 0;
constexpr int COLFMT_RIGHT = 1;
constexpr int COLFMT_CENTER = 2;

struct ColumnDesc
{
    int titleId = 0;   // string id of the title, 0 for none
    int width = 0;     // pixels
    int format = COLFMT_LEFT;
    int order = 0;     // display position key
    int flags = COLF_VISIBLE;

    bool IsVisible() const { return (flags & COLF_VISIBLE) != 0; }
    bool operator==(const ColumnDesc&) const = default;
};
