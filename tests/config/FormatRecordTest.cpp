#include <gtest/gtest.h>

#include "config/Format.h"
#include "config/KeyNumber.h"

TEST(FormatRecord, NewRecordIsListedUnderDefaultOnly)
{
    const _KV_FORMAT f;
    EXPECT_EQ(0u, f.id);
    EXPECT_EQ(0u, f.flags);
    EXPECT_EQ(1, f.keyFilterMask);
    EXPECT_TRUE(f.name.empty() && f.templ.empty() && f.params.empty() && f.comment.empty() && f.sampleText.empty());
    EXPECT_FALSE(f.IsPreset());
}

TEST(FormatRecord, SampleIsRenderedOnceInOneLineForm)
{
    _KEY_NUMBER key;
    key.length = 3;
    key.bytes[0] = 0x2A;
    key.bytes[2] = 0x05;

    _KV_FORMAT f;
    f.templ = L"%03u,%05u\\r\\n";
    f.params = L"b2, w01";
    f.UpdateSample(key);
    EXPECT_EQ(L"005,00042\\r\\n", f.sampleText);
    EXPECT_EQ(KVF_SAMPLE_CURRENT, f.flags);

    // Current: a new key changes nothing until the flag is cleared.
    key.bytes[0] = 0x2B;
    f.UpdateSample(key);
    EXPECT_EQ(L"005,00042\\r\\n", f.sampleText);
    f.flags &= ~KVF_SAMPLE_CURRENT;
    f.UpdateSample(key);
    EXPECT_EQ(L"005,00043\\r\\n", f.sampleText);

    // A broken params text leaves an empty sample, marked current so it is not retried.
    f.params = L"b2,,";
    f.flags = KVF_PRESET;
    f.UpdateSample(key);
    EXPECT_EQ(L"", f.sampleText);
    EXPECT_EQ(KVF_PRESET | KVF_SAMPLE_CURRENT, f.flags);
}
