#include "config/Format.h"

#include "config/KeyNumber.h"
#include "config/FormatEngine.h"
#include "config/KvParser.h"

void _KV_FORMAT::UpdateSample(const _KEY_NUMBER& key)
{
    if (flags & KVF_SAMPLE_CURRENT)
        return;
    sampleText.clear();
    try
    {
        std::wstring text;
        RenderFormat(text, nullptr, templ, params, key);
        EscapeControlChars(sampleText, text.c_str(), static_cast<int>(text.size()));
    }
    catch (...)
    {
        // A preview only, shown while lists repaint: whatever rendering throws leaves the sample
        // empty, and the format check names the fault.
        sampleText.clear();
    }
    flags |= KVF_SAMPLE_CURRENT;
}
