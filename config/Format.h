#pragma once
// One format of a configuration: the record a key is rendered through, listed by the
// formats page and edited by the format dialog. Held by shared pointer in the transfer
// document, so it lives as long as any holder.

#include <cstdint>
#include <string>

struct _KEY_NUMBER;

// Bits of _KV_FORMAT::flags. Only KVF_PRESET is stored; the others are working marks of
// the pages and dialogs.
constexpr uint32_t KVF_PRESET         = 0x00002;
constexpr uint32_t KVF_MARK_DIALOG    = 0x01000;  // scratch mark of the format dialog
constexpr uint32_t KVF_MARK_PAGE      = 0x02000;  // scratch mark of the formats page
constexpr uint32_t KVF_SELECTED       = 0x04000;  // selected on the formats page
constexpr uint32_t KVF_DELETE         = 0x08000;  // delete mark
constexpr uint32_t KVF_SAMPLE_CURRENT = 0x10000;  // sampleText is valid

// Bit i of the key-filter mask belongs to the key filter with id i; bit 0 is "Default"
// (no key filter). -1 lists the format under every key filter.
constexpr int32_t KVF_MASK_DEFAULT = 1;

struct _KV_FORMAT
{
    uint32_t id = 0;            // unique in the configuration; 0 asks for a new id on adding
    uint32_t flags = 0;         // KVF_*
    std::wstring name;          // a preset's name begins with a line feed
    std::wstring templ;         // printf-like template with backslash escapes
    std::wstring params;        // parameter expressions over the key bytes
    std::wstring comment;
    int32_t keyFilterMask = KVF_MASK_DEFAULT;  // key-filter views that list the format
    std::wstring sampleText;    // last key rendered, valid while KVF_SAMPLE_CURRENT is set

    bool IsPreset() const { return (flags & KVF_PRESET) != 0; }

    // Renders the given key (the last key read) into sampleText in its one-line form and
    // marks it current, unless it is current already. A template or params that cannot be
    // rendered leave the sample empty (the format check reports the fault); the flag is set
    // either way, so a broken format is not rendered again for every repaint.
    void UpdateSample(const _KEY_NUMBER& key);
};
