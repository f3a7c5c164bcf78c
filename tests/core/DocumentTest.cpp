#include "core/Document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/AppLog.h"
#include "tests/support/TempFolder.h"

namespace {

struct Call {
    std::string who;
    uint32_t w1;
    uint32_t w2;
    bool operator==(const Call&) const = default;
};

void PrintTo(const Call& c, std::ostream* os)
{
    *os << c.who << ":" << std::hex << c.w1 << "/" << c.w2;
}

std::vector<Call> g_calls;

// An observer whose reaction to a delivery can be scripted per test.
struct Watcher {
    std::string name;
    int slot = -1;
    std::function<void(CDocument*, const uint32_t*)> react;

    static void Callback(void* key, CDocument* doc, const uint32_t* bits)
    {
        auto* self = static_cast<Watcher*>(key);
        g_calls.push_back({self->name, bits[0], bits[1]});
        if (self->react)
            self->react(doc, bits);
    }
    void Attach(CDocument& doc) { slot = doc.AddObserver(this, &Watcher::Callback); }
};

void Change(CDocument& doc, uint32_t w1, uint32_t w2 = 0, const void* sender = nullptr)
{
    CDocUpdateScope scope(doc, sender);
    doc.SetModified(w1, w2);
}

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override { g_calls.clear(); }
    CDocument doc;
    Watcher a{"a"}, b{"b"}, c{"c"};
};

TEST_F(DocumentTest, NestedScopesDeliverOnceWithAllBits)
{
    a.Attach(doc);
    b.Attach(doc);
    {
        CDocUpdateScope outer(doc, nullptr);
        doc.SetModified(0x1, 0);
        {
            CDocUpdateScope inner(doc, nullptr);
            doc.SetModified(0x4, 0x10);
            EXPECT_EQ(doc.GetNestingCount(), 2);
        }
        EXPECT_TRUE(g_calls.empty());
        doc.SetModified(0x100, 0x80000000u);
    }
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x105, 0x80000010u}, {"b", 0x105, 0x80000010u}}));
    EXPECT_EQ(doc.GetNestingCount(), 0);
    EXPECT_FALSE(doc.IsNotifyPending());
}

TEST_F(DocumentTest, ScopeWithoutChangeDeliversNothing)
{
    a.Attach(doc);
    { CDocUpdateScope scope(doc); }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(DocumentTest, SenderIsNotToldOfItsOwnChange)
{
    a.Attach(doc);
    b.Attach(doc);
    Change(doc, 0x2, 0, &a);
    EXPECT_EQ(g_calls, (std::vector<Call>{{"b", 0x2, 0}}));
    // The sender is restored when a nested scope of another sender closes.
    g_calls.clear();
    {
        CDocUpdateScope outer(doc, &a);
        Change(doc, 0x8, 0, &b);
        EXPECT_EQ(doc.GetCurrentSender(), &a);
        doc.SetModified(0x1, 0);
    }
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x8, 0}, {"b", 0x1, 0}}));
    EXPECT_EQ(doc.GetCurrentSender(), nullptr);
}

TEST_F(DocumentTest, ChangeInsideCallbackIsDeliveredInNextPassToEveryone)
{
    // Setters keep the current sender, which a pass clears, so the changer hears of it too.
    a.react = [&](CDocument* d, const uint32_t* bits) {
        if (bits[0] & 0x1)
            Change(*d, 0x20, 0, d->GetCurrentSender());
        if (bits[0] & 0x20)
            Change(*d, 0x400, 0, &a);  // an explicit sender still skips itself
    };
    a.Attach(doc);
    b.Attach(doc);
    Change(doc, 0x1);
    // b, later in the walk, takes 0x20 in the first pass already; a hears of it in the next.
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x1, 0}, {"b", 0x21, 0}, {"a", 0x20, 0}, {"b", 0x400, 0}}));
    EXPECT_EQ(doc.GetNestingCount(), 0);
}

TEST_F(DocumentTest, ObserverAddedDuringPassInLaterSlotIsCalledInThatPass)
{
    a.react = [&](CDocument* d, const uint32_t*) {
        if (c.slot < 0) {
            c.Attach(*d);
            d->SetModified(0x40, 0);   // c receives bits in this pass
        }
    };
    a.Attach(doc);
    Change(doc, 0x1);
    // c sits after a, so the walk reaches it in the same pass; a hears of 0x40 in the next.
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x1, 0}, {"c", 0x40, 0}, {"a", 0x40, 0}}));
}

TEST_F(DocumentTest, ManyObserversAddedDuringPassSurviveReallocation)
{
    std::vector<Watcher> late(64);
    for (size_t i = 0; i < late.size(); ++i)
        late[i].name = "late" + std::to_string(i);
    a.react = [&](CDocument* d, const uint32_t* bits) {
        if (bits[0] != 0x1)
            return;
        for (Watcher& w : late)
            w.Attach(*d);
        d->SetModified(0x2, 0);
    };
    a.Attach(doc);
    Change(doc, 0x1);
    ASSERT_EQ(g_calls.size(), 1u + late.size() + 1u);
    for (size_t i = 0; i < late.size(); ++i)
        EXPECT_EQ(g_calls[1 + i], (Call{late[i].name, 0x2, 0}));
    EXPECT_EQ(g_calls.back(), (Call{"a", 0x2, 0}));
}

TEST_F(DocumentTest, RemovalShrinksTableOrLeavesReusableSlot)
{
    a.Attach(doc);
    b.Attach(doc);
    c.Attach(doc);
    EXPECT_EQ((std::vector<int>{a.slot, b.slot, c.slot}), (std::vector<int>{0, 1, 2}));

    doc.RemoveObserver(b.slot);          // middle: leaves a free slot
    EXPECT_EQ(b.slot, -1);
    EXPECT_EQ(doc.GetObserverSlotCount(), 3);
    Change(doc, 0x1);
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x1, 0}, {"c", 0x1, 0}}));

    b.Attach(doc);                       // reuses the free slot
    EXPECT_EQ(b.slot, 1);
    EXPECT_EQ(doc.GetObserverSlotCount(), 3);

    doc.RemoveObserver(b.slot);
    doc.RemoveObserver(c.slot);          // last one: drops the free tail as well
    EXPECT_EQ(doc.GetObserverSlotCount(), 1);
    c.Attach(doc);
    EXPECT_EQ(c.slot, 1);

    int none = -1;
    doc.RemoveObserver(none);            // no-op
    EXPECT_EQ(none, -1);
    EXPECT_EQ(doc.GetObserverSlotCount(), 2);
    doc.RemoveObserver(a.slot);
    doc.RemoveObserver(c.slot);
    EXPECT_EQ(doc.GetObserverSlotCount(), 0);
}

TEST_F(DocumentTest, ReusedSlotStartsWithoutStaleBits)
{
    a.Attach(doc);
    b.Attach(doc);
    doc.SetModified(0x7, 0x7);           // pending for both, outside any scope
    doc.RemoveObserver(a.slot);
    c.Attach(doc);                       // takes slot 0 with clean words
    EXPECT_EQ(c.slot, 0);
    Change(doc, 0x10);
    EXPECT_EQ(g_calls, (std::vector<Call>{{"c", 0x10, 0}, {"b", 0x17, 0x7}}));
}

TEST_F(DocumentTest, ChangeOutsideScopeWaitsForNextOutermostScope)
{
    a.Attach(doc);
    doc.SetModified(0x4, 0x1);
    EXPECT_TRUE(doc.IsNotifyPending());
    EXPECT_TRUE(g_calls.empty());
    { CDocUpdateScope scope(doc); }
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x4, 0x1}}));
}

TEST_F(DocumentTest, ObserverRemovingItselfDuringPass)
{
    a.react = [&](CDocument* d, const uint32_t*) { d->RemoveObserver(a.slot); };
    a.Attach(doc);
    b.Attach(doc);
    Change(doc, 0x1);
    Change(doc, 0x2);
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x1, 0}, {"b", 0x1, 0}, {"b", 0x2, 0}}));
}

TEST_F(DocumentTest, ThrowingCallbackLeavesDocumentUsable)
{
    bool fail = true;
    a.react = [&](CDocument*, const uint32_t*) {
        if (fail)
            throw std::runtime_error("observer failed");
    };
    a.Attach(doc);
    b.Attach(doc);
    const int marker = 0;
    try {
        CDocUpdateScope outer(doc, &marker);
        doc.SetModified(0x1, 0);
        {
            CDocUpdateScope inner(doc);
        }
        EXPECT_TRUE(g_calls.empty());
        doc.SetModified(0x2, 0);
        // outer's destructor runs the pass, which throws through it
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "observer failed");
    }
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x3, 0}}));
    EXPECT_EQ(doc.GetNestingCount(), 0);
    EXPECT_EQ(doc.GetCurrentSender(), nullptr);

    // b's bits were kept and arrive with the next change; a is told again as usual.
    fail = false;
    g_calls.clear();
    Change(doc, 0x8);
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x8, 0}, {"b", 0xB, 0}}));
}

TEST_F(DocumentTest, ThrowingCallbackWhileUnwindingDoesNotEndTheProcess)
{
    a.react = [](CDocument*, const uint32_t*) { throw std::runtime_error("second"); };
    a.Attach(doc);
    try {
        CDocUpdateScope scope(doc);
        doc.SetModified(0x1, 0);
        throw std::logic_error("first");
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "first");
    }
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x1, 0}}));
    EXPECT_EQ(doc.GetNestingCount(), 0);
}

TEST_F(DocumentTest, AFailureWhileUnwindingIsWrittenToTheDebugLog)
{
    struct LogTo : CAppContext, ILogSettingsSource {
        CTempFolder folder;
        LogTo() { LogSettings = this; }
        std::wstring ResolveLogFolder() override { return folder.Path(); }
        DebugLogSettings GetDebugLogSettings() override { return {true, 2, -1, false}; }
    } app;
    a.react = [](CDocument*, const uint32_t*) { throw std::runtime_error("second"); };
    a.Attach(doc);
    try {
        CDocUpdateScope scope(doc);
        doc.SetModified(0x1, 0);
        throw std::logic_error("first");
    } catch (const std::logic_error&) {
    }
    std::ifstream in(std::filesystem::path(app.folder.File(L"Norvane.log")), std::ios::binary);
    std::ostringstream log;
    log << in.rdbuf();
    EXPECT_NE(log.str().find("[E] Document observer failed while unwinding: second\r\n"), std::string::npos)
        << log.str();
}

// A derived document that keeps its own detail word, as the settings document does.
class DetailDoc : public CDocument {
public:
    uint32_t detail = 0;
    uint32_t seen = 0;
    void SetModified(uint32_t w1, uint32_t w2) override
    {
        detail |= w2;
        CDocument::SetModified(w1, 0);
    }
    void NotifyObservers() override
    {
        seen = detail;
        detail = 0;
        CDocument::NotifyObservers();
    }
};

TEST_F(DocumentTest, DerivedOverridesRunThroughScopes)
{
    DetailDoc d;
    a.Attach(d);
    {
        CDocUpdateScope scope(d);
        d.SetModified(0x1, 0x30);
    }
    EXPECT_EQ(d.seen, 0x30u);
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x1, 0}}));
}

} // namespace

// ---- observer tokens ----

TEST_F(DocumentTest, TokenEndsItsRegistrationOnEveryWayOut)
{
    // Each way of ending a token: after it, a change reaches "b" only, and the slot is free.
    const struct {
        const char* how;
        std::function<void(CObserverToken&)> end;
    } cases[] = {
        {"reset", [](CObserverToken& t) { t.Reset(); }},
        {"reset twice", [](CObserverToken& t) { t.Reset(); t.Reset(); }},
        {"overwritten", [](CObserverToken& t) { t = CObserverToken(); }},
        {"moved out and dropped", [](CObserverToken& t) { CObserverToken gone(std::move(t)); }},
    };
    b.Attach(doc);
    for (const auto& c : cases) {
        g_calls.clear();
        CObserverToken token = doc.Observe(&a, &Watcher::Callback);
        EXPECT_TRUE(token.IsActive()) << c.how;
        EXPECT_EQ(&doc, token.GetDocument()) << c.how;
        Change(doc, 0x1);
        c.end(token);
        EXPECT_FALSE(token.IsActive()) << c.how;
        Change(doc, 0x2);
        EXPECT_EQ(g_calls, (std::vector<Call>{{"b", 0x1, 0}, {"a", 0x1, 0}, {"b", 0x2, 0}})) << c.how;
        EXPECT_EQ(1, doc.GetObserverSlotCount()) << c.how << ": the token's slot is given back";
    }
}

TEST_F(DocumentTest, MovedTokenKeepsTheRegistrationAndEndsItOnce)
{
    std::vector<CObserverToken> tokens;
    tokens.push_back(doc.Observe(&a, &Watcher::Callback));
    tokens.push_back(doc.Observe(&b, &Watcher::Callback));  // may move the first token
    Change(doc, 0x1);
    tokens.erase(tokens.begin());  // "a" ends; the moved "b" stays
    c.Attach(doc);                 // takes the slot "a" left
    Change(doc, 0x2);
    tokens.clear();
    Change(doc, 0x4);
    EXPECT_EQ(g_calls, (std::vector<Call>{{"a", 0x1, 0}, {"b", 0x1, 0}, {"c", 0x2, 0}, {"b", 0x2, 0},
                                          {"c", 0x4, 0}}));
}

TEST_F(DocumentTest, TokenOutlivingItsDocumentEndsWithoutTouchingIt)
{
    CObserverToken orphan;
    {
        CDocument shortLived;
        orphan = shortLived.Observe(&c, &Watcher::Callback);
        EXPECT_TRUE(orphan.IsActive());
    }
    EXPECT_FALSE(orphan.IsActive());
    EXPECT_EQ(nullptr, orphan.GetDocument());
    orphan.Reset();
}
