#include <gtest/gtest.h>

#include <ctime>
#include <mutex>
#include <thread>
#include "core/ResultCodes.h"
#include "comm/Notify.h"

namespace {

// A worker's lock and channel, with a message-only window standing in for the main frame.
class NotifyTest : public ::testing::Test
{
protected:
    NotifyTest()
    {
        InitializeCriticalSection(&lock);
        window = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        channel.SetWindowSource([this] { return window; });
        // Lines come from the pushing and the popping thread, as into the application log.
        channel.SetLogSink([this](const wchar_t* text) {
            std::lock_guard<std::mutex> hold(logLock);
            log.push_back(text);
        });
    }
    ~NotifyTest() override
    {
        if (window)
            DestroyWindow(window);
        DeleteCriticalSection(&lock);
    }

    int TakePosts()
    {
        int n = 0;
        MSG msg;
        while (PeekMessageW(&msg, window, WM_READER_NOTIFY, WM_READER_NOTIFY, PM_REMOVE)) {
            EXPECT_EQ(0u, msg.wParam);
            EXPECT_EQ(0, msg.lParam);
            ++n;
        }
        return n;
    }

    CRITICAL_SECTION lock;
    HWND window = nullptr;
    CTNMsgChannel channel{lock, WM_READER_NOTIFY};
    std::mutex logLock;
    std::vector<std::wstring> log;
};

_KEY_NUMBER Key(std::initializer_list<uint8_t> bytes)
{
    std::vector<uint8_t> v(bytes);
    return MakeKeyNumber(v.data(), v.size());
}

}  // namespace

TEST_F(NotifyTest, TwoKeysMakeTwoPostsAndOneDrainTakesBothInOrder)
{
    ASSERT_NE(nullptr, window);
    channel.PushKeyNotification(1, Key({0x2A, 0x00, 0x05}), 0);
    channel.PushKeyNotification(7, Key({1, 2, 3, 4, 5, 6, 7, 8}), 0x11);
    EXPECT_EQ(2, TakePosts());

    std::unique_ptr<CTNMsg> msg;
    ASSERT_TRUE(channel.PopNotification(msg));
    ASSERT_EQ(RDMSG_KEY, msg->m_type);
    auto* key = static_cast<CRdKeyMsg*>(msg.get());
    EXPECT_EQ(1, key->m_keyType);
    EXPECT_EQ(3, key->m_keyNumber.length);
    EXPECT_EQ(0x2A, key->m_keyNumber.bytes[0]);
    EXPECT_EQ(0u, key->m_extra);

    ASSERT_TRUE(channel.PopNotification(msg));
    key = static_cast<CRdKeyMsg*>(msg.get());
    EXPECT_EQ(7, key->m_keyType);
    _KEY_NUMBER expected = Key({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(0, memcmp(&key->m_keyNumber, &expected, sizeof(_KEY_NUMBER)));
    EXPECT_EQ(0x11u, key->m_extra);

    // The second post finds the queue empty.
    EXPECT_FALSE(channel.PopNotification(msg));
    EXPECT_EQ((std::vector<std::wstring>{L"add key notification", L"add key notification",
                                          L"notification queue is empty"}),
              log);
}

TEST_F(NotifyTest, ConnectionAndErrorNotificationsWithTheirLogLines)
{
    channel.PushConnectNotification();
    channel.PushErrorNotification(KV_E_RESPONSE_TIMEOUT);
    channel.PushDisconnectNotification();
    EXPECT_EQ(3, TakePosts());
    std::vector<int> types;
    std::unique_ptr<CTNMsg> msg;
    while (channel.PopNotification(msg))
        types.push_back(msg->m_type);
    EXPECT_EQ((std::vector<int>{RDMSG_CONNECT, RDMSG_ERROR, RDMSG_DISCONNECT}), types);
    EXPECT_EQ((std::vector<std::wstring>{L"add connect notification", L"add error notification",
                                          L"add disconnect notification", L"notification queue is empty"}),
              log);
}

TEST_F(NotifyTest, ErrorTextComesFromTheMessageTableWhenNoneIsGiven)
{
    struct Case
    {
        HRESULT code;
        const wchar_t* given;
        const wchar_t* expected;
    } cases[] = {
        {KV_E_PORT_DISCONNECTED, nullptr, L"Port is disconnected."},
        {KV_E_READER_ERROR, nullptr, L"Reader returned an error."},
        {static_cast<HRESULT>(0x80040204), nullptr, L""},  // no table entry
        {KV_E_PORT_BUSY, L"COM3 is taken", L"COM3 is taken"},
        {KV_E_PORT_BUSY, L"", L""},
    };
    for (const Case& c : cases) {
        channel.PushErrorNotification(c.code, c.given);
        std::unique_ptr<CTNMsg> msg;
        ASSERT_TRUE(channel.PopNotification(msg));
        ASSERT_EQ(RDMSG_ERROR, msg->m_type);
        auto* error = static_cast<CRdErrorMsg*>(msg.get());
        EXPECT_EQ(c.code, error->m_code);
        EXPECT_EQ(c.expected, error->m_text);
    }
}

TEST_F(NotifyTest, WithoutAWindowTheNotificationIsKeptAndNothingIsPosted)
{
    channel.SetWindowSource([] { return HWND(nullptr); });
    channel.PushKeyNotification(1, Key({1}), 0);
    EXPECT_EQ(0, TakePosts());
    channel.SetWindowSource(nullptr);
    channel.PushConnectNotification();
    EXPECT_EQ(0, TakePosts());
    std::unique_ptr<CTNMsg> msg;
    ASSERT_TRUE(channel.PopNotification(msg));
    EXPECT_EQ(RDMSG_KEY, msg->m_type);
    ASSERT_TRUE(channel.PopNotification(msg));
    EXPECT_EQ(RDMSG_CONNECT, msg->m_type);
}

TEST_F(NotifyTest, DiscardAllDropsEverythingQueued)
{
    for (int i = 0; i < 5; ++i)
        channel.PushKeyNotification(i, Key({uint8_t(i)}), 0);
    channel.DiscardAll();
    std::unique_ptr<CTNMsg> msg;
    EXPECT_FALSE(channel.PopNotification(msg));
    EXPECT_TRUE(channel.Queue().Empty());
}

TEST_F(NotifyTest, PushesFromAWorkerArriveWholeAndInOrder)
{
    const int count = 2000;
    std::thread worker([&] {
        for (int i = 0; i < count; ++i)
            channel.PushKeyNotification(i, Key({uint8_t(i), uint8_t(i >> 8)}), static_cast<DWORD>(i));
    });
    int next = 0;
    std::unique_ptr<CTNMsg> msg;
    while (next < count) {
        if (!channel.PopNotification(msg)) {
            Sleep(0);
            continue;
        }
        auto* key = static_cast<CRdKeyMsg*>(msg.get());
        ASSERT_EQ(next, key->m_keyType);
        ASSERT_EQ(static_cast<DWORD>(next), key->m_extra);
        ++next;
    }
    worker.join();
}

TEST(NotifyMessages, TimeStampIsTakenAtConstruction)
{
    int64_t before = _time64(nullptr);
    CTNMsg msg(RDMSG_CONNECT);
    int64_t after = _time64(nullptr);
    EXPECT_GE(msg.m_time, before);
    EXPECT_LE(msg.m_time, after);
    // Seconds since 1970: far beyond the year 2020 and below 2100.
    EXPECT_GT(msg.m_time, 1577836800);
    EXPECT_LT(msg.m_time, 4102444800);
}

TEST(NotifyMessages, QueueOwnsAndHandsOnInOrder)
{
    CTNMsgQueue queue;
    queue.Push(std::make_unique<CTNMsg>(3));
    queue.Push(std::make_unique<CRdErrorMsg>(E_FAIL, L"x"));
    EXPECT_EQ(2u, queue.Size());
    std::unique_ptr<CTNMsg> held = std::make_unique<CTNMsg>(99);
    ASSERT_TRUE(queue.Pop(held));
    EXPECT_EQ(3, held->m_type);
    CTNMsgQueue other;
    other.Swap(queue);
    EXPECT_TRUE(queue.Empty());
    ASSERT_TRUE(other.Pop(held));
    EXPECT_EQ(RDMSG_ERROR, held->m_type);
    EXPECT_FALSE(other.Pop(held));
    EXPECT_EQ(RDMSG_ERROR, held->m_type) << "a failed pop leaves the holder alone";
}
