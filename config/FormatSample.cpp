#include "config/Format.h"
#include "config/FormatRender.h"
#include "config/KeyNumber.h"

void RenderDisplayText(std::wstring& out, const std::wstring& templ, const std::wstring& params,
                       const _KEY_NUMBER& key)
{
    out.clear();
    try {
        std::wstring text;
        RenderFormat(text, nullptr, templ, params, key.bytes, key.length);
        EscapeControlChars(out, text.c_str(), static_cast<int>(text.size()));
    } catch (...) {
        // Broken templates and params are the user's data, not a program error: the format
        // dialog's check names the fault, and the text shown here simply stays empty.
        out.clear();
    }
}

void _KV_FORMAT::UpdateSample(const _KEY_NUMBER& key)
{
    if ((flags & KVF_SAMPLE_CURRENT) != 0)
        return;
    sampleText.clear();
    RenderDisplayText(sampleText, templ, params, key);
    flags |= KVF_SAMPLE_CURRENT;
}
