#include <gtest/gtest.h>
#include <vector>
#include "config/TransferConfig.h"
#include "tests/config/TransferTestUtil.h"

using namespace transfer_test;

namespace {

using Probe = std::wstring (*)(const CTransferDoc&);

// One stored configuration part and what the document holds after reading it.
struct Case
{
    const wchar_t* version;
    const wchar_t* members;
    Probe probe;
    const wchar_t* expected;
};

void RunCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << Utf8(c.version) << " " << Utf8(c.members));
        CTransferDoc doc;
        LoadMembers(doc, c.version, c.members);
        EXPECT_EQ(c.expected, c.probe(doc));
    }
}

std::wstring N(int64_t value)
{
    return std::to_wstring(value);
}

std::wstring X(uint32_t value)
{
    wchar_t buffer[16];
    swprintf(buffer, 16, L"%X", value);
    return buffer;
}

std::wstring Hex(const _KEY_NUMBER& key)
{
    std::wstring text;
    KeyToHex(text, key);
    return text;
}

std::wstring Keys(const CTransferDoc& d)
{
    std::wstring text;
    for (const KvKeyPtr& key : d.GetKeys())
        text += (text.empty() ? L"" : L" ") + N(key->keyType) + L":" + Hex(key->keyNumber);
    return text;
}

std::wstring Formats(const CTransferDoc& d)
{
    std::wstring text;
    for (const KvFormatPtr& f : d.GetFormats())
        text += (text.empty() ? L"" : L" ") + N(f->id) + L":" + f->name + L":" + N(f->keyFilterMask);
    return text;
}

std::wstring Filters(const CTransferDoc& d)
{
    std::wstring text;
    for (const KeyFilter& f : d.GetKeyFilters())
        text += (text.empty() ? L"" : L" ") + N(f.id) + L":" + f.name;
    return text;
}

std::wstring KeyList(const std::vector<_KEY_NUMBER>& keys)
{
    std::wstring text;
    for (const _KEY_NUMBER& key : keys)
        text += (text.empty() ? L"" : L" ") + Hex(key);
    return text;
}

std::wstring Params(const CTransferDoc& d)
{
    std::wstring text;
    for (uint32_t word : d.readKeys.temic.params)
        text += (text.empty() ? L"" : L" ") + X(word);
    return text;
}

}  // namespace

TEST(TransferConfig, SourceAndDestinationTexts)
{
    auto source = [](const CTransferDoc& d) { return N(d.GetSourceKind()) + L"|" + d.GetSourceValue(); };
    auto dest = [](const CTransferDoc& d) { return N(d.GetDestinationType()) + L"|" + d.GetDestinationText(); };
    RunCases({
        {L"1.6", L"", source, L"0|"},
        {L"1.6", L"", dest, L"1|"},
        {L"1.6", L"\"transfer\": {\"source\": \"reader:COM3\"}", source, L"1|COM3"},
        {L"1.6", L"\"transfer\": {\"source\": \"Reader:COM3\"}", source, L"0|COM3"},
        {L"1.6", L"\"transfer\": {\"source\": \"COM3\"}", source, L"0|"},
        {L"1.6", L"\"transfer\": {\"source\": \"keylist:\"}", source, L"2|"},
        {L"1.6", L"\"transfer\": {\"source\": \"reader:10.0.0.1:4001\"}", source, L"1|10.0.0.1:4001"},
        {L"1.6", L"\"transfer\": {\"destination\": \"http:http://x:1/a\"}", dest, L"5|http://x:1/a"},
        {L"1.6", L"\"transfer\": {\"destination\": \"clipboard:\"}", dest, L"2|"},
        {L"1.6", L"\"transfer\": {\"destination\": \"fax:123\"}", dest, L"0|123"},
        {L"1.6", L"\"transfer\": {\"destination\": 3}", dest, L"1|"},
        {L"1.6", L"\"transfer\": \"keyboard:\"", dest, L"1|"},
    });

    // Kind 0 is written as an empty text; a value goes after the kind's colon.
    CTransferDoc doc;
    LoadMembers(doc, L"1.6",
                L"\"transfer\": {\"source\": \"Reader:COM3\", \"destination\": \"cmdline:notepad\"}");
    std::wstring text = SaveText(doc);
    EXPECT_NE(std::wstring::npos, text.find(L"\"source\": \"\",\r\n\t\t\"destination\": \"cmdline:notepad\""));
}

TEST(TransferConfig, ReaderMembers)
{
    auto model = [](const CTransferDoc& d) { return N(d.reader.model); };
    auto flags = [](const CTransferDoc& d) { return X(d.reader.flags); };
    auto search = [](const CTransferDoc& d) {
        return X(d.reader.searchFlags) + L"," + N(d.reader.searchReceiveTimeout) + L"," + N(d.reader.searchMaxTries);
    };
    auto numbers = [](const CTransferDoc& d) {
        const ReaderSettings& r = d.reader;
        return N(r.speed) + L"," + N(r.stopBits) + L"," + N(r.connectTimeout) + L"," + N(r.checkInPeriod) + L"," +
               N(r.receiveTimeout) + L"," + N(r.maxTries) + L"," + N(r.connectPeriod);
    };
    RunCases({
        {L"1.6", L"\"reader\": {\"model\": 13}", model, L"0"},
        {L"1.6", L"\"reader\": {\"model\": -1}", model, L"0"},
        {L"1.6", L"\"reader\": {\"model\": 12}", model, L"12"},
        {L"1.6", L"\"reader\": {\"model\": 4294967301}", model, L"0"},
        {L"1.6", L"\"reader\": {\"model\": 5.0}", model, L"0"},
        {L"1.6", L"\"reader\": {\"model\": \"5\"}", model, L"0"},
        {L"1.6", L"\"reader\": {\"model\": 0x5}", model, L"5"},
        {L"1.6", L"", numbers, L"0,0,10000,-1,3000,2,3000"},
        {L"1.6",
         L"\"reader\": {\"speed\": 9600, \"stopBits\": 258, \"connectTimeout\": 4294967303, \"checkInPeriod\": 5,"
         L"\"receiveTimeout\": 6, \"maxTries\": -7, \"connectPeriod\": 8.5}",
         numbers, L"9600,2,7,5,6,-7,3000"},
        {L"1.6", L"\"reader\": {\"speed\": -1}", numbers, L"4294967295,0,10000,-1,3000,2,3000"},
        {L"1.6", L"", flags, L"2"},
        {L"1.6", L"\"reader\": {\"wiegand\": true, \"binary\": false, \"nvt\": true, \"protVell4\": 1}", flags, L"11"},
        {L"1.6", L"\"reader\": {\"differentQM100\": true, \"toKeylist\": true}", flags, L"E"},
        {L"1.6", L"\"reader\": {\"correctQM100\": false}", flags, L"2"},
        {L"1.1", L"\"reader\": {\"correctQM100\": false}", flags, L"6"},
        {L"1.1", L"\"reader\": {\"correctQM100\": true, \"differentQM100\": true}", flags, L"2"},
        {L"1.6", L"", search, L"2E,3000,1"},
        {L"1.6",
         L"\"reader\": {\"search\": {\"stdCom\": true, \"vCom\": false, \"ccid\": false, \"ip\": true,"
         L"\"findVCom\": {\"filterVidPid\": false}, \"findIP\": {\"receiveTimeout\": 700, \"maxTries\": 4}}}",
         search, L"19,700,4"},
        {L"1.6", L"\"reader\": {\"searchFlags\": 1, \"findIP\": {\"receiveTimeout\": 700}}", search, L"2E,3000,1"},
        {L"1.1", L"\"reader\": {\"searchFlags\": 1, \"findIP\": {\"receiveTimeout\": 700, \"maxTries\": 9}}", search,
         L"1,700,9"},
        {L"1.1", L"\"reader\": {\"search\": {\"stdCom\": true, \"findIP\": {\"maxTries\": 9}}}", search, L"2E,3000,1"},
        {L"1.2", L"\"reader\": {\"searchFlags\": 1}", search, L"2E,3000,1"},
    });
}

TEST(TransferConfig, KeyListMembers)
{
    auto timer = [](const CTransferDoc& d) {
        return N(d.keyListTimerEnabled) + L"," + N(d.keyListTimerInterval) + L"," + N(d.keyListNoDuplicates);
    };
    RunCases({
        {L"1.6", L"\"keyList\": {\"keys\": [{\"keyType\": 30, \"keyNumber\": \"0102\"}]}", Keys, L"0:0102"},
        {L"1.6",
         L"\"keyList\": {\"keys\": [{\"keyType\": 1, \"keyNumber\": \"AA\"}, {\"keyType\": 2, \"keyNumber\": \"\"},"
         L"{\"keyType\": 3}, 7, {\"keyType\": 4, \"keyNumber\": 5}, {\"keyType\": 21, \"keyNumber\": \"bb\"}]}",
         Keys, L"1:AA 21:BB"},
        {L"1.6", L"\"keyList\": {\"keys\": [{\"keyType\": -1, \"keyNumber\": \"ABC\"}]}", Keys, L"0:0ABC"},
        {L"1.6", L"\"keyList\": {\"keys\": [{\"keyType\": \"3\", \"keyNumber\": \"1\"}]}", Keys, L"0:01"},
        {L"1.6",
         L"\"keyList\": {\"keys\": [{\"keyType\": 9, \"keyNumber\": \"FF0123456789ABCDEF0123456789ABCDEF012345\"}]}",
         Keys, L"9:0123456789ABCDEF0123456789ABCDEF012345"},
        {L"1.6", L"\"keyList\": {\"keys\": {\"keyType\": 1, \"keyNumber\": \"AA\"}}", Keys, L""},
        {L"1.6", L"\"keyList\": {\"timer\": {\"interval\": 5}}", timer, L"0,1000,0"},
        {L"1.6", L"\"keyList\": {\"timer\": {\"enabled\": false, \"interval\": 5}}", timer, L"0,5,0"},
        {L"1.6", L"\"keyList\": {\"timer\": {\"enabled\": true, \"interval\": \"5\"}}", timer, L"1,1000,0"},
        {L"1.6", L"\"keyList\": {\"noDuplicates\": true}", timer, L"0,1000,1"},
        {L"1.6", L"\"keyList\": {\"sort\": -2}", [](const CTransferDoc& d) { return N(d.keyListSort); }, L"-2"},
    });
    // The two bytes of "0102" are 02 01: the last digits are the first byte.
    CTransferDoc doc;
    LoadMembers(doc, L"1.6", L"\"keyList\": {\"keys\": [{\"keyType\": 3, \"keyNumber\": \"0102\"}]}");
    ASSERT_EQ(1u, doc.GetKeys().size());
    EXPECT_EQ(2, doc.GetKeys()[0]->keyNumber.length);
    EXPECT_EQ(0x02, doc.GetKeys()[0]->keyNumber.bytes[0]);
    EXPECT_EQ(0x01, doc.GetKeys()[0]->keyNumber.bytes[1]);
    EXPECT_EQ(0u, doc.GetKeys()[0]->flags);
}

TEST(TransferConfig, DestinationMembers)
{
    auto delays = [](const CTransferDoc& d) {
        const _TRANS_DST_KEYBOARD& k = d.Keyboard();
        return N(k.method) + L"," + N(k.afterActivateDelay) + L"," + N(k.afterPressDelay) + L"," +
               N(k.afterReleaseDelay) + L"," + N(k.startAdmin);
    };
    auto window = [](const CTransferDoc& d) {
        const _TRANS_DST_KEYBOARD& k = d.Keyboard();
        return N(k.filterEnabled) + L"," + k.filterClass + L"," + k.filterTitle + L"," + k.filterFile;
    };
    auto portavo = [](const CTransferDoc& d) {
        const _TRANS_DST_PORTAVO& p = d.Portavo();
        return N(p.mode) + L"," + N(p.nvt) + L"," + p.address + L"," + N(p.connectPeriod) + L"," + N(p.port) + L"," +
               N(p.maxConnections);
    };
    auto cmdline = [](const CTransferDoc& d) {
        return d.CmdLine().program + L"|" + d.CmdLine().arguments + L"|" + d.CmdLine().initialDir + L"|" +
               d.HttpRequest().address;
    };
    RunCases({
        {L"1.6", L"", delays, L"1,400,5,5,0"},
        {L"1.6", L"\"keyboard\": {\"afterPressDelay\": 50, \"afterReleaseDelay\": 60}", delays, L"1,400,5,5,0"},
        {L"1.6", L"\"keyboard\": {\"afterActivateDelay\": 100, \"afterReleaseDelay\": 9}", delays, L"1,100,5,5,0"},
        {L"1.6", L"\"keyboard\": {\"afterActivateDelay\": 100, \"afterPressDelay\": 6, \"afterReleaseDelay\": 9}",
         delays, L"1,100,6,9,0"},
        {L"1.6", L"\"keyboard\": {\"afterActivateDelay\": -1, \"startAdmin\": true}", delays, L"1,4294967295,5,5,1"},
        {L"1.6", L"\"keyboard\": {\"method\": 0}", delays, L"1,400,5,5,0"},
        {L"1.6", L"\"keyboard\": {\"method\": 4}", delays, L"1,400,5,5,0"},
        {L"1.6", L"\"keyboard\": {\"method\": 3}", delays, L"3,400,5,5,0"},
        {L"1.6", L"\"keyboard\": {\"class\": \"C\", \"title\": \"T\", \"file\": \"F\"}", window, L"0,*,*,*"},
        {L"1.6", L"\"keyboard\": {\"enabled\": true, \"class\": \"C\", \"file\": \"F\"}", window, L"1,C,*,*"},
        {L"1.6", L"\"keyboard\": {\"enabled\": false, \"class\": \"C\", \"title\": \"T\", \"file\": \"F\"}", window,
         L"0,C,T,F"},
        {L"1.6", L"", portavo, L"1,1,127.0.0.1:25000,1000,1000,4"},
        {L"1.6", L"\"portavo\": {\"port\": 0}", portavo, L"1,1,127.0.0.1:25000,1000,1000,4"},
        {L"1.6", L"\"portavo\": {\"port\": 65535}", portavo, L"1,1,127.0.0.1:25000,1000,1000,4"},
        {L"1.6", L"\"portavo\": {\"port\": 25000}", portavo, L"1,1,127.0.0.1:25000,1000,25000,4"},
        {L"1.6", L"\"portavo\": {\"port\": 65534, \"maxConnections\": 8}", portavo,
         L"1,1,127.0.0.1:25000,1000,65534,8"},
        {L"1.6", L"\"portavo\": {\"type\": 3, \"nvt\": false}", portavo, L"1,0,127.0.0.1:25000,1000,1000,4"},
        {L"1.6", L"\"portavo\": {\"type\": 0, \"connectPeriod\": 5}", portavo, L"0,1,127.0.0.1:25000,1000,1000,4"},
        {L"1.6", L"\"portavo\": {\"address\": \"h:1\", \"connectPeriod\": 5}", portavo, L"1,1,h:1,5,1000,4"},
        // A bridge server needs room for one connection; -1 means no limit.
        {L"1.6", L"\"portavo\": {\"maxConnections\": 0}", portavo, L"1,1,127.0.0.1:25000,1000,1000,1"},
        {L"1.6", L"\"portavo\": {\"maxConnections\": -5}", portavo, L"1,1,127.0.0.1:25000,1000,1000,1"},
        {L"1.6", L"\"portavo\": {\"maxConnections\": -1}", portavo, L"1,1,127.0.0.1:25000,1000,1000,-1"},
        {L"1.6", L"\"portavo\": {\"maxConnections\": 4294967295}", portavo, L"1,1,127.0.0.1:25000,1000,1000,-1"},
        {L"1.6", L"\"cmdline\": {\"program\": \"p\", \"arguments\": \"%KeyNum%\", \"initialDir\": \"d\"}", cmdline,
         L"p|%KeyNum%|d|"},
        {L"1.6", L"\"cmdline\": {\"arguments\": 1}, \"httpRequest\": {\"address\": \"http://h/%KeyNum%\"}", cmdline,
         L"|||http://h/%KeyNum%"},
    });
}

TEST(TransferConfig, FormatMembers)
{
    auto header = [](const CTransferDoc& d) {
        return N(d.presetsVersion) + L"," + N(d.presetsLanguage) + L"," + N(d.newId) + L"," + N(d.defaultId) + L"," +
               N(d.formatsSort);
    };
    RunCases({
        {L"1.6", L"", header, L"0,0,1001,0,0"},
        {L"1.6",
         L"\"formats\": {\"presets\": {\"version\": 26, \"language\": 66569}, \"newId\": 2000, \"defaultId\": 7,"
         L"\"sort\": -1}",
         header, L"26,1033,2000,7,-1"},
        {L"1.6",
         L"\"formats\": {\"formats\": [{\"id\": 0, \"name\": \"zero\"}, {\"id\": 1001, \"name\": \"\"},"
         L"{\"id\": 1002}, {\"id\": 1003, \"name\": \"kept\"}]}",
         Formats, L"1003:kept:1"},
        {L"1.6", L"\"formats\": {\"formats\": [{\"id\": 7, \"preset\": true, \"name\": \"X\", \"keyFilters\": -1}]}",
         Formats, L"7:\nX:-1"},
        {L"1.6", L"\"formats\": {\"formats\": [{\"id\": 7, \"preset\": true, \"name\": \"\"}]}", Formats, L""},
        {L"1.6", L"\"formats\": {\"formats\": [{\"id\": -1, \"preset\": false, \"name\": \"big\"}]}", Formats,
         L"4294967295:big:1"},
        // Key filters and the default format name formats by id: the first format keeps it.
        // A repeated name is numbered, so both formats stay apart in the name map.
        {L"1.6",
         L"\"formats\": {\"formats\": [{\"id\": 5, \"name\": \"A\"}, {\"id\": 5, \"name\": \"B\"},"
         L"{\"id\": 6, \"name\": \"A\"}, {\"id\": 9, \"name\": \"A\"}]}",
         Formats, L"5:A:1 6:A (2):1 9:A (3):1"},
        {L"1.6", L"\"formats\": {\"formats\": [1, \"x\", {\"id\": 8, \"name\": \"y\"}]}", Formats, L"8:y:1"},
    });

    CTransferDoc doc;
    LoadMembers(doc, L"1.6",
                L"\"formats\": {\"sort\": 3, \"formats\": [{\"id\": 7, \"preset\": true, \"name\": \"X\","
                L"\"template\": \"%u\", \"params\": \"m01\", \"comment\": \"c\"}, {\"id\": 5, \"name\": \"A\"},"
                L"{\"id\": 5, \"name\": \"B\"}]}");
    // The sort survives the load; both maps hold the formats that were kept.
    EXPECT_EQ(3, doc.formatsSort);
    EXPECT_EQ(2u, doc.GetFormatsById().size());
    EXPECT_EQ(2u, doc.GetFormatsByName().size());
    EXPECT_EQ(L"A", doc.FindFormatById(5)->name);
    const KvFormatPtr preset = doc.FindFormatById(7);
    EXPECT_EQ(KVF_PRESET, preset->flags);
    EXPECT_EQ(L"%u", preset->templ);
    EXPECT_EQ(L"m01", preset->params);
    EXPECT_EQ(L"c", preset->comment);
    std::wstring text = SaveText(doc);
    EXPECT_NE(std::wstring::npos,
              text.find(L"\"id\": 7,\r\n\t\t\t\t\"preset\": true,\r\n\t\t\t\t\"name\": \"X\",\r\n\t\t\t\t\"template\": \"%u\""));
    EXPECT_NE(std::wstring::npos, text.find(L"\"preset\": false,\r\n\t\t\t\t\"name\": \"A\""));
    EXPECT_EQ(std::wstring::npos, text.find(L"\"B\""));
}

TEST(TransferConfig, KeyFilterMembers)
{
    auto state = [](const CTransferDoc& d) {
        return Filters(d) + L"|" + N(d.keyFilterNewId) + L"," + N(d.keyFiltersSort);
    };
    RunCases({
        {L"1.6", L"", state, L"|1,0"},
        {L"1.6", L"\"keyFilters\": {\"newId\": 3, \"keyFilters\": [{\"name\": \"a\"}, {\"name\": \"b\"}], \"sort\": 2}",
         state, L"3:a 4:b|5,2"},
        {L"1.6",
         L"\"keyFilters\": {\"newId\": 3, \"keyFilters\": [{\"id\": 3, \"name\": \"a\"}, {\"name\": \"b\"},"
         L"{\"id\": 0, \"name\": \"c\"}]}",
         state, L"3:a 4:b 5:c|6,0"},
        {L"1.6", L"\"keyFilters\": {\"keyFilters\": [{\"id\": 2, \"name\": \"a\"}, {\"name\": \"b\"}, {\"name\": \"c\"}]}",
         state, L"2:a 1:b 3:c|4,0"},
        // A repeated id is numbered anew, so a format's key-filter bit names one filter.
        {L"1.6", L"\"keyFilters\": {\"newId\": 5, \"keyFilters\": [{\"name\": \"a\"}, {\"id\": 5, \"name\": \"b\"}]}",
         state, L"5:a 6:b|7,0"},
        {L"1.6", L"\"keyFilters\": {\"newId\": \"9\", \"keyFilters\": [7, {\"name\": \"a\"}]}", state, L"1:a|2,0"},
        {L"1.6", L"\"keyFilters\": {\"newId\": 4294967295, \"keyFilters\": [{\"name\": \"a\"}]}", state, L"1:a|2,0"},
        {L"1.4", L"\"keyFilters\": {\"keyFilters\": [{\"name\": \"a\"}]}", state, L"1:a|2,0"},
        {L"1.3", L"\"keyFilters\": {\"keyFilters\": [{\"name\": \"a\"}]}", state, L"|1,0"},
    });

    CTransferDoc doc;
    LoadMembers(doc, L"1.6",
                L"\"keyFilters\": {\"keyFilters\": [{\"id\": 4, \"visible\": false, \"name\": \"n\", \"keyTypes\": 6,"
                L"\"keySize\": 7, \"formatId\": 1001}, {\"keyTypes\": 1.5}]}");
    ASSERT_EQ(2u, doc.GetKeyFilters().size());
    const KeyFilter& f = doc.GetKeyFilters()[0];
    EXPECT_EQ(0u, f.flags);
    EXPECT_EQ(6u, f.keyTypes);
    EXPECT_EQ(7, f.keySize);
    EXPECT_EQ(1001u, f.formatId);
    // A new filter is visible, matches no type and gives the default format.
    const KeyFilter& g = doc.GetKeyFilters()[1];
    EXPECT_EQ(KEYFILTER_VISIBLE, g.flags);
    EXPECT_EQ(0u, g.keyTypes);
    EXPECT_EQ(0u, g.formatId);
    std::wstring text = SaveText(doc);
    EXPECT_NE(std::wstring::npos,
              text.find(L"{\r\n\t\t\t\t\"id\": 4,\r\n\t\t\t\t\"visible\": false,\r\n\t\t\t\t\"name\": \"n\",\r\n\t\t\t\t"
                        L"\"keyTypes\": 6,\r\n\t\t\t\t\"keySize\": 7,\r\n\t\t\t\t\"formatId\": 1001\r\n\t\t\t}"));
}

TEST(TransferConfig, FilesOlderThanOneFourKeepTheKeyFiltersHeldBefore)
{
    CTransferDoc doc;
    LoadMembers(doc, L"1.6", L"\"keyFilters\": {\"keyFilters\": [{\"name\": \"held\"}], \"sort\": 1}");
    EXPECT_FALSE(LoadMembers(doc, L"1.3", L"\"keyFilters\": {\"keyFilters\": [{\"name\": \"new\"}]}"));
    EXPECT_EQ(L"1:held", Filters(doc));
    EXPECT_EQ(1, doc.keyFiltersSort);
    EXPECT_TRUE(LoadMembers(doc, L"1.4", L"\"keyFilters\": {}"));
    EXPECT_EQ(L"", Filters(doc));
    EXPECT_FALSE(LoadMembers(doc, L"1.5", L""));
}

TEST(TransferConfig, CardReadingMembers)
{
    auto types = [](const CTransferDoc& d) { return X(d.readKeys.keyTypes) + L"," + N(d.readKeys.vell4Mode); };
    auto classic = [](const CTransferDoc& d) {
        const MifareReadSettings& m = d.readKeys.classic;
        return N(m.enabled) + L"," + N(m.flags) + L"," + X(m.mask) + L"," + Hex(m.key) + L"," + N(m.sector) + L"," +
               N(m.block);
    };
    auto plus = [](const CTransferDoc& d) {
        const MifareReadSettings& m = d.readKeys.plus;
        return N(m.enabled) + L"," + N(m.flags) + L"," + X(m.mask) + L"," + Hex(m.key) + L"," + N(m.sector) + L"," +
               N(m.block);
    };
    auto others = [](const CTransferDoc& d) {
        const ReadKeysSettings& s = d.readKeys;
        return N(s.ultralight.enabled) + L"," + N(s.ultralight.page) + L"," + N(s.ultralight.count) + L"|" +
               N(s.temic.enabled) + L"," + N(s.temic.flags) + L"," + N(s.temic.block) + L"," + N(s.temic.count) +
               L"," + N(s.temic.password);
    };
    RunCases({
        {L"1.6", L"", types, L"3FFFFF,0"},
        {L"1.6", L"\"readKeys\": {\"keyTypes\": 5, \"vell4Mode\": 3}", types, L"5,3"},
        {L"1.5", L"\"readKeys\": {\"keyTypes\": 5, \"vell4Mode\": 3}", types, L"3FFFFF,3"},
        {L"1.6", L"", classic, L"0,0,FFFFFFFF,3C917A5E08D4,0,1"},
        {L"1.6",
         L"\"readKeys\": {\"mifareClassic\": {\"enabled\": true, \"keyB\": true, \"byMask\": true, \"mask\": 3,"
         L"\"key\": 18838586676582, \"sector\": 4, \"block\": 2}}",
         classic, L"1,3,3,112233445566,4,2"},
        {L"1.6", L"\"readKeys\": {\"mifareClassic\": {\"key\": 9223109400464741734}}", classic,
         L"0,0,FFFFFFFF,112233445566,0,1"},
        {L"1.6", L"\"readKeys\": {\"mifareClassic\": {\"key\": \"112233445566\"}}", classic,
         L"0,0,FFFFFFFF,3C917A5E08D4,0,1"},
        {L"1.2", L"\"readKeys\": {\"mifareClassic\": {\"key\": \"112233445566\"}}", classic,
         L"0,0,FFFFFFFF,112233445566,0,1"},
        {L"1.2", L"\"readKeys\": {\"mifareClassic\": {\"key\": 1}}", classic, L"0,0,FFFFFFFF,3C917A5E08D4,0,1"},
        {L"1.1", L"\"readKeys\": {\"mifareClassic\": {\"key\": \"A1B2\"}}", classic, L"0,0,FFFFFFFF,A1B2,0,1"},
        {L"1.3", L"\"readKeys\": {\"mifareClassic\": {\"key\": 1}}", classic, L"0,0,FFFFFFFF,000000000001,0,1"},
        {L"1.6", L"\"readKeys\": {\"mifareClassic\": {\"mask\": -1, \"keyB\": 1}}", classic,
         L"0,0,FFFFFFFF,3C917A5E08D4,0,1"},
        {L"1.6", L"", plus, L"0,0,FFFFFFFF,6B21E0945F3AC708D27E41B90C65F31A,0,1"},
        {L"1.6", L"\"readKeys\": {\"mifarePlus\": {\"key\": \"0011\", \"sector\": 2, \"block\": 0}}", plus,
         L"0,0,FFFFFFFF,1100,2,0"},
        {L"1.6", L"\"readKeys\": {\"mifarePlus\": {\"key\": 5}}", plus,
         L"0,0,FFFFFFFF,6B21E0945F3AC708D27E41B90C65F31A,0,1"},
        {L"1.6", L"\"readKeys\": {\"mifarePlus\": {\"key\": \"\"}}", plus, L"0,0,FFFFFFFF,,0,1"},
        // Negative or too large sector and block numbers are brought into the card's range.
        {L"1.6", L"\"readKeys\": {\"mifareClassic\": {\"sector\": -3, \"block\": -1}}", classic,
         L"0,0,FFFFFFFF,3C917A5E08D4,0,0"},
        {L"1.6", L"\"readKeys\": {\"mifareClassic\": {\"sector\": 45, \"block\": 20}}", classic,
         L"0,0,FFFFFFFF,3C917A5E08D4,39,15"},
        {L"1.6", L"\"readKeys\": {\"mifarePlus\": {\"sector\": -2147483648, \"block\": 2147483647}}", plus,
         L"0,0,FFFFFFFF,6B21E0945F3AC708D27E41B90C65F31A,0,15"},
        {L"1.6", L"", others, L"0,4,1|0,0,1,1,0"},
        {L"1.6",
         L"\"readKeys\": {\"mifareUL\": {\"enabled\": true, \"page\": 9, \"count\": 3}, \"temic\": {\"enabled\": true,"
         L"\"mode\": 7, \"readAllBytes\": true, \"block\": 5, \"count\": 2, \"usePassword\": true, \"password\": -2}}",
         others, L"1,9,3|1,7,5,2,4294967294"},
        {L"1.6", L"\"readKeys\": {\"mifareUL\": {\"page\": -2, \"count\": 0}, \"temic\": {\"block\": 9, \"count\": -1}}",
         others, L"0,0,1|0,0,7,1,0"},
        {L"1.6", L"\"readKeys\": {\"temic\": {\"mode\": 0, \"readAllBytes\": false}}", others, L"0,4,1|0,0,1,1,0"},
        {L"1.6", L"", Params, L"2 101 102 1 3E800FF"},
        {L"1.6", L"\"readKeys\": {\"temic\": {\"params\": \"3,4;;x;5,6,7;\"}}", Params, L"403 70605"},
        {L"1.6", L"\"readKeys\": {\"temic\": {\"params\": \"\"}}", Params, L"2 101 102 1 3E800FF"},
        {L"1.6", L"\"readKeys\": {\"temic\": {\"params\": 5}}", Params, L"2 101 102 1 3E800FF"},
        // A text without entries reads as the empty text that an empty list is written as.
        {L"1.6", L"\"readKeys\": {\"temic\": {\"params\": \";\"}}", Params, L"2 101 102 1 3E800FF"},
        {L"1.6", L"\"readKeys\": {\"temic\": {\"params\": \"255,0,1000\"}}", Params, L"3E800FF"},
    });
}

TEST(TransferConfig, TemicParamsTextRule)
{
    struct
    {
        const wchar_t* text;
        std::vector<uint32_t> words;
    } cases[] = {
        {L"3,4;;x;5,6,7;", {0x0403, 0x070605}},
        {L"2,0,0;1,1,0;2,1,0;1,0,0;255,0,1000;", {0x2, 0x101, 0x102, 0x1, 0x3E800FF}},
        {L"1", {}},
        {L"1;2,3", {0x0302}},
        {L"256,257,1", {0x10100}},
        {L"-1,2", {0x2FF}},
        {L" 1, 2", {0x0201}},
        {L"1 ,2", {}},
        {L"1,2,x", {0x0201}},
        {L"1,2,3,4", {0x30201}},
        {L"1,2,65536", {0x0201}},
        {L"+1,-0,-1", {0xFFFF0001}},
        {L"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.text));
        EXPECT_EQ(c.words, ReadTemicParamsText(c.text));
    }
    // The page's own parser rejects a malformed group, while a file keeps the good ones.
    std::vector<uint32_t> parsed;
    EXPECT_FALSE(ParseTemicParams(L"3,4;;x;5,6,7;", parsed));
    EXPECT_EQ(std::vector<uint32_t>{0x0403}, parsed);

    EXPECT_EQ(L"2,0,0;1,1,0;2,1,0;1,0,0;255,0,1000;", FormatTemicParams(DefaultTemicParams()));
    EXPECT_EQ(L"255,255,65535;", FormatTemicParams({0xFFFFFFFF}));
    EXPECT_EQ(L"", FormatTemicParams({}));
}

TEST(TransferConfig, MifareKeyLists)
{
    auto lists = [](const CTransferDoc& d) {
        return KeyList(d.GetMifareClassicKeys()) + L"|" + KeyList(d.GetMifarePlusKeys());
    };
    std::wstring forty = L"\"mifarePKeys\": {\"keys\": [";
    for (int i = 0; i < 40; ++i)
        forty += (i ? L", \"" : L"\"") + std::wstring(i < 16 ? L"0" : L"") + X(i) + L"\"";
    forty += L"]}";
    std::wstring expected32 = L"|";
    for (int i = 0; i < 32; ++i)
        expected32 += (i ? L" " : L"") + std::wstring(i < 16 ? L"0" : L"") + X(i);
    RunCases({
        {L"1.6", L"", lists, L"|"},
        {L"1.6", L"\"mifareCKeys\": {\"keys\": [1, \"x\", 18838586676582]}", lists,
         L"000000000001 3C917A5E08D4 112233445566|"},
        {L"1.6", L"\"mifareCKeys\": {\"keys\": []}, \"mifarePKeys\": {\"keys\": [7, \"AB\"]}", lists,
         L"|6B21E0945F3AC708D27E41B90C65F31A AB"},
        {L"1.6", L"\"mifareCKeys\": {\"keys\": 1}, \"mifarePKeys\": [\"AB\"]", lists, L"|"},
        {L"1.6", forty.c_str(), lists, expected32.c_str()},
        {L"1.6", L"\"mifareKeys\": {\"keys\": [\"112233445566\"]}", lists, L"|"},
        {L"1.2", L"\"mifareKeys\": {\"keys\": [\"112233445566\", 5, \"ABCDEF\"]}", lists,
         L"112233445566 3C917A5E08D4 ABCDEF|"},
        {L"1.2", L"\"mifareCKeys\": {\"keys\": [1]}", lists, L"|"},
        {L"1.1", L"\"mifareKeys\": {\"keys\": [\"0A\"]}", lists, L"0A|"},
        {L"1", L"\"mifareKeys\": {\"keys\": [\"0A\"]}", lists, L"0A|"},
        {L"1.3", L"\"mifareCKeys\": {\"keys\": [1]}, \"mifareKeys\": {\"keys\": [\"AA\"]}", lists, L"000000000001|"},
    });

    // Written Classic keys read back with the same six bytes each.
    CTransferDoc doc;
    LoadMembers(doc, L"1.2", L"\"mifareKeys\": {\"keys\": [\"112233445566\", \"A1\"]}");
    CTransferDoc copy;
    LoadText(copy, SaveText(doc));
    ASSERT_EQ(2u, copy.GetMifareClassicKeys().size());
    EXPECT_EQ(6, copy.GetMifareClassicKeys()[0].length);
    EXPECT_EQ(6, copy.GetMifareClassicKeys()[1].length);
    EXPECT_EQ(L"112233445566", Hex(copy.GetMifareClassicKeys()[0]));
    EXPECT_EQ(L"0000000000A1", Hex(copy.GetMifareClassicKeys()[1]));
}

// Values marked unsigned are written as their 32-bit unsigned value.
TEST(TransferConfig, UnsignedMembersAreWrittenUnsigned)
{
    CTransferDoc doc;
    LoadMembers(doc, L"1.6",
                L"\"reader\": {\"speed\": -1, \"connectTimeout\": -1}, \"keyboard\": {\"afterActivateDelay\": -1},"
                L"\"formats\": {\"defaultId\": -1, \"formats\": [{\"id\": 9, \"name\": \"n\", \"keyFilters\": -1}]},"
                L"\"readKeys\": {\"keyTypes\": -1, \"temic\": {\"password\": -1}}");
    std::wstring text = SaveText(doc);
    for (const wchar_t* member : {L"\"speed\": 4294967295", L"\"connectTimeout\": -1,",
                                  L"\"afterActivateDelay\": 4294967295", L"\"defaultId\": 4294967295",
                                  L"\"keyFilters\": 4294967295", L"\"keyTypes\": 4294967295",
                                  L"\"password\": 4294967295", L"\"mask\": 4294967295", L"\"checkInPeriod\": -1"})
        EXPECT_NE(std::wstring::npos, text.find(member)) << Utf8(member);
}

// Members that are missing, or not objects, leave every value of their part at its default,
// also after the document held other values.
TEST(TransferConfig, EachPartStartsFromItsDefaults)
{
    CTransferDoc doc;
    doc.SetPathName(DataPath(L"full.nv2"));
    doc.Open();
    LoadMembers(doc, L"1.6",
                L"\"transfer\": 1, \"reader\": [], \"keyList\": \"x\", \"keyboard\": null, \"portavo\": 2.5,"
                L"\"cmdline\": false, \"httpRequest\": [], \"formats\": 0, \"keyFilters\": [], \"readKeys\": \"\","
                L"\"mifareCKeys\": [], \"mifarePKeys\": {}");
    CTransferDoc fresh;
    EXPECT_EQ(SaveText(fresh), SaveText(doc));
}
