// The built-in preset formats as a new configuration gets them: each one checks, and renders the
// sample key of every key filter it is listed under to the text an access-control system expects.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "config/FormatEngine.h"
#include "config/KeyNumber.h"
#include "config/KvParser.h"
#include "config/TransferDoc.h"

namespace {

// One key a reader delivers for each preset key filter, and a Dallas key, which no preset filter
// takes: it is rendered under "Default" (mask bit 0).
struct SampleKey
{
    const char* what;
    int32_t keyType;
    std::vector<BYTE> bytes;
};
const SampleKey kSamples[] = {
    {"Em-Marine", 1, {0x39, 0x30, 0x7B, 0x2A, 0x1F}},
    {"HID", 2, {0xB1, 0x68, 0x2D, 0x02, 0x00, 0x00}},
    {"Mifare UID4", 10, {0x0A, 0x7C, 0x91, 0x0E}},
    {"Mifare UID7", 10, {0x04, 0x5A, 0x8B, 0x2C, 0x71, 0x3E, 0x80}},
    {"Temic", 8, {0xE0, 0x15, 0x10, 0xA3, 0x5C, 0x21, 0x7F, 0x0B}},
    {"Dallas", 7, {0x5F, 0x3C, 0x1A, 0x0D, 0x00, 0x00}},
};

// The texts of the samples in the order above; a text stands exactly where the mask lists the
// preset under the sample's key filter. "{0D}" and "{09}" are the Enter and Tab typed after it.
struct PresetRow
{
    uint32_t id;
    const wchar_t* name;
    int32_t mask;
    const wchar_t* texts[std::size(kSamples)];
};
#define N nullptr
const PresetRow kPresets[] = {
    {1, L"Hex (UID4)", 0x02, {N, N, L"0A7C910E", N, N, N}},
    {2, L"DALLAS", 0x05, {N, N, N, L"803E712C8B5A0478", N, L"0000000D1A3C5FA1"}},
    {3, L"Hex reversed (UID4)", 0x02, {N, N, L"0E917C0A", N, N, N}},
    {4, L"Hex (UID7)", 0x04, {N, N, N, L"045A8B2C713E80", N, N}},
    {5, L"Hex reversed (UID7)", 0x04, {N, N, N, L"803E712C8B5A04", N, N}},
    {6, L"Hex (UID8)", 0x40, {N, N, N, N, L"E01510A35C217F0B", N}},
    {7, L"Hex reversed (UID8)", 0x21, {N, N, N, N, N, L"000000000D1A3C5F"}},
    {8, L"Hex no zeros (max UID8)", 0x3F, {L"1F2A7B3039", L"22D68B1", L"E917C0A", L"803E712C8B5A04", N, L"D1A3C5F"}},
    {9, L"Hex no zeros (UID4)", 0x02, {N, N, L"A7C910E", N, N, N}},
    {10, L"Hex no zeros (UID7)", 0x04, {N, N, N, L"45A8B2C713E80", N, N}},
    {11, L"Hex with blanks (UID4)", 0x02, {N, N, L"0A 7C 91 0E", N, N, N}},
    {12, L"Hex with blanks (UID7)", 0x04, {N, N, N, L"04 5A 8B 2C 71 3E 80", N, N}},
    {13, L"Hex with colons (UID4)", 0x02, {N, N, L"0A:7C:91:0E", N, N, N}},
    {14, L"Hex 6 digits (3 bytes)", 0x39, {L"7B3039", L"2D68B1", N, N, N, L"1A3C5F"}},
    {15, L"Hex 10 digits (5 bytes)", 0x08, {L"1F2A7B3039", N, N, N, N, N}},
    {16, L"Two hex blocks (UID8)", 0x40, {N, N, N, N, L"E01510A3 5C217F0B", N}},
    {17, L"CRC serial 01 (16 hex)", 0x09, {L"F4001F2A7B303901", N, N, N, N, L"A100000D1A3C5F01"}},
    {18, L"01 serial CRC (16 hex)", 0x09, {L"0139307B2A1F00F4", N, N, N, N, L"015F3C1A0D0000A1"}},
    {19, L"CRC 3 bytes 01 (16 hex)", 0x18, {L"FE0000007B303901", L"CF0000002D68B101", N, N, N, N}},
    {20, L"Serial (12 hex)", 0x01, {N, N, N, N, N, L"00000D1A3C5F"}},
    {21, L"Decimal 8 digits (3 bytes)", 0x3F, {L"08073273", L"02975921", L"09534474", L"09132548", N, L"01719391"}},
    {22, L"Decimal 10 digits (4 bytes)", 0x0E, {L"0712716345", N, L"0244415498", L"0747330052", N, N}},
    {23, L"Decimal 13 digits (5 bytes)", 0x08, {L"0133856702521", N, N, N, N, N}},
    {24, L"Decimal 17 digits (7 bytes)", 0x04, {N, N, N, L"36097452818520580", N, N}},
    {25, L"Decimal 20 digits (8 bytes)", 0x21, {N, N, N, N, N, L"00000000000219823199"}},
    {26, L"Decimal of Hex (UID4)", 0x02, {N, N, L"175935758", N, N, N}},
    {27, L"Decimal 10 digits of Hex (UID4)", 0x02, {N, N, L"0175935758", N, N, N}},
    {28, L"Decimal (max UID8)", 0x3F,
     {L"133856702521", L"36530353", L"244415498", L"36097452818520580", N, L"219823199"}},
    {29, L"Decimal of Hex (UID7)", 0x04, {N, N, N, L"1225453699415680", N, N}},
    {30, L"Decimal of Hex (UID8)", 0x40, {N, N, N, N, L"16146830332818194187", N}},
    {31, L"Two decimal blocks (UID8)", 0x40, {N, N, N, N, L"3759476899 1545699083", N}},
    {32, L"Decimal bytes 4-7 (UID8)", 0x40, {N, N, N, N, L"1545699083", N}},
    {33, L"Card number 00000", 0x39, {L"12345", L"26801", N, N, N, L"15455"}},
    {34, L"Facility,card 000,00000", 0x3F, {L"123,12345", L"045,26801", L"145,31754", L"139,23044", N, L"026,15455"}},
    {35, L"Facility,card no zeros", 0x39, {L"123,12345", L"45,26801", N, N, N, L"26,15455"}},
    {36, L"Facility card 00000000", 0x3F, {L"12312345", L"04526801", L"14531754", L"13923044", N, L"02615455"}},
    {37, L"Facility card 0000000000", 0x39, {L"0012312345", L"0004526801", N, N, N, L"0002615455"}},
    {38, L"[Code] 000,00000", 0x08, {L"[1F2A] 123,12345", N, N, N, N, N}},
    {39, L"[Code] 00000", 0x10, {N, L"[0000022D] 26801", N, N, N, N}},
    {40, L"0000000000 000,00000", 0x08, {L"0712716345 123,12345", N, N, N, N, N}},
    {41, L"Wiegand 26 000,00000 (UID4)", 0x02, {N, N, L"124,37134", N, N, N}},
    {42, L"Wiegand 26 00000000 (UID4)", 0x02, {N, N, L"08163598", N, N, N}},
    {43, L"Wiegand 26 000,00000 (UID7)", 0x04, {N, N, N, L"113,16000", N, N}},
    {44, L"Wiegand 26 00000000 (UID7)", 0x04, {N, N, N, L"07421568", N, N}},
    {45, L"Wiegand 34 00000,00000 (UID4)", 0x02, {N, N, L"02684,37134", N, N, N}},
    {46, L"Wiegand 34 00000,00000 (4 bytes)", 0x0E, {L"10875,12345", N, L"03729,31754", L"11403,23044", N, N}},
    {47, L"Wiegand 34 00000,00000 (UID7)", 0x04, {N, N, N, L"11377,16000", N, N}},
    {48, L"Wiegand 34 0000000000 (UID7)", 0x04, {N, N, N, L"0745619072", N, N}},
    {49, L"Wiegand 26 hex frame (3 bytes)", 0x39, {L"0F66073", L"05AD162", N, N, N, L"23478BF"}},
    {50, L"Wiegand 34 hex frame (4 bytes)", 0x0E, {L"254F66073", N, L"01D22F814", L"25916B408", N, N}},
    {51, L"Facility,card + Enter", 0x3F,
     {L"123,12345{0D}", L"045,26801{0D}", L"145,31754{0D}", L"139,23044{0D}", N, L"026,15455{0D}"}},
    {52, L"Facility + Tab + card + Enter", 0x39,
     {L"123{09}12345{0D}", L"045{09}26801{0D}", N, N, N, L"026{09}15455{0D}"}},
    {53, L"Decimal 10 digits + Enter", 0x0E, {L"0712716345{0D}", N, L"0244415498{0D}", L"0747330052{0D}", N, N}},
    {54, L"Decimal (max UID8) + Enter", 0x3F,
     {L"133856702521{0D}", L"36530353{0D}", L"244415498{0D}", L"36097452818520580{0D}", N, L"219823199{0D}"}},
    {55, L"Hex (UID4) + Enter", 0x02, {N, N, L"0A7C910E{0D}", N, N, N}},
    {56, L"Hex (UID7) + Enter", 0x04, {N, N, N, L"045A8B2C713E80{0D}", N, N}},
    {57, L"Hex (UID8) + Tab", 0x40, {N, N, N, N, L"E01510A35C217F0B{09}", N}},
};
#undef N

// Rendered as the keyboard destination gets it, each key code written out in braces.
std::wstring TypedText(const _KV_FORMAT& format, const SampleKey& sample)
{
    _KEY_NUMBER key;
    key.length = static_cast<uint8_t>(sample.bytes.size());
    std::copy(sample.bytes.begin(), sample.bytes.end(), key.bytes);
    std::wstring text;
    KeyVector codes;
    RenderFormat(text, &codes, format.templ, format.params, key);
    std::wstring typed;
    size_t next = 0;
    for (wchar_t c : text) {
        if (c != KEYVEC_CHAR) {
            typed += c;
            continue;
        }
        if (next >= codes.size()) {
            typed += L"{?}";
            continue;
        }
        std::wstring digits;
        for (uint32_t code = codes[next++]; code || digits.size() < 2; code >>= 4)
            digits.insert(digits.begin(), L"0123456789ABCDEF"[code & 0xF]);
        typed += L"{" + digits + L"}";
    }
    return typed;
}

}  // namespace

TEST(PresetFormats, EveryPresetChecksAndRendersTheKeysOfItsFilters)
{
    CTransferDoc doc;
    doc.LoadPresets(true);
    const std::vector<KeyFilter>& filters = doc.GetKeyFilters();
    ASSERT_EQ(6u, filters.size());
    ASSERT_EQ(std::size(kPresets), doc.GetFormats().size());

    // The sample keys land where the installer will see them: their filter's bit of the mask.
    std::vector<int32_t> sampleBits;
    for (const SampleKey& sample : kSamples) {
        const int index = FindKeyFilterForKey(filters, sample.keyType, static_cast<int>(sample.bytes.size()));
        sampleBits.push_back(index < 0 ? 1 : 1 << filters[static_cast<size_t>(index)].id);
    }
    EXPECT_EQ((std::vector<int32_t>{0x08, 0x10, 0x02, 0x04, 0x40, 0x01}), sampleBits);

    for (size_t i = 0; i < std::size(kPresets); ++i) {
        const PresetRow& row = kPresets[i];
        SCOPED_TRACE(row.id);
        const KvFormatPtr format = doc.GetFormats()[i];
        EXPECT_EQ(row.id, format->id);
        EXPECT_TRUE(format->IsPreset());
        EXPECT_EQ(L"\n" + std::wstring(row.name), format->name);
        EXPECT_EQ(row.mask, format->keyFilterMask);
        EXPECT_FALSE(format->comment.empty());
        int position = 0;
        std::wstring message;
        EXPECT_EQ(S_OK, ValidateFormat(format->params, format->templ, &position, &message)) << message;

        for (size_t k = 0; k < std::size(kSamples); ++k) {
            const bool listed = (row.mask & sampleBits[k]) != 0;
            ASSERT_EQ(listed, row.texts[k] != nullptr) << kSamples[k].what;
            if (!listed)
                continue;
            try {
                EXPECT_EQ(row.texts[k], TypedText(*format, kSamples[k])) << kSamples[k].what;
            } catch (const CKvParserException& e) {
                ADD_FAILURE() << kSamples[k].what << ": " << e.what();
            }
        }
    }

    // Every preset key filter offers a choice.
    for (const KeyFilter& filter : filters) {
        int listed = 0;
        for (const PresetRow& row : kPresets)
            listed += (row.mask >> filter.id) & 1;
        EXPECT_GE(listed, 3) << testing::PrintToString(filter.name);
    }
}
