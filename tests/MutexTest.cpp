#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"
#include "platform/Platform.h"

namespace {

std::string systemText(std::uint32_t code)
{
    char text[512];
    platform::systemErrorText(code, text, sizeof text, platform::TextLanguage::UserDefault);
    return text;
}

#if defined(_WIN32)
constexpr std::uint32_t kNotOwner = 288;      // ERROR_NOT_OWNER
constexpr std::uint32_t kAbandoned = 735;     // ERROR_ABANDONED_WAIT_0
#else
constexpr std::uint32_t kNotOwner = EPERM;
constexpr std::uint32_t kAbandoned = EOWNERDEAD;
#endif

TEST(Mutex, LockAndUnlockTheHostsMutex)
{
    kit::HostStorage storage(kit::HostStorage::Kind::Tracker);
    kit::StdoutCapture capture;
    EXPECT_TRUE(storage.mutexObject()->lock());
    EXPECT_TRUE(storage.mutexObject()->lock());  // taken again by its owner
    EXPECT_TRUE(storage.mutexObject()->unlock());
    EXPECT_TRUE(storage.mutexObject()->unlock());
    EXPECT_EQ(capture.text(), "");
}

TEST(Mutex, UnlockByAThreadThatDoesNotOwnIt)
{
    kit::HostStorage storage(kit::HostStorage::Kind::Tracker);
    ASSERT_TRUE(storage.mutexObject()->lock());
    bool result = true;
    std::string text;
    {
        kit::StdoutCapture capture;
        std::thread other([&] { result = storage.mutexObject()->unlock(); });
        other.join();
        text = capture.text();
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(text, "Host: ERROR: CMutexH: Unlocking mutex: " + systemText(kNotOwner) + "\n");
    EXPECT_NE(systemText(kNotOwner), "");
    EXPECT_EQ(systemText(kNotOwner).find('\n'), std::string::npos);
    EXPECT_TRUE(storage.mutexObject()->unlock());
}

TEST(Mutex, AbandonedMutexFailsTheLockButIsOwned)
{
    kit::HostStorage storage(kit::HostStorage::Kind::Tracker);
    // A thread that ends while it holds the mutex abandons it.
    std::thread owner([&] { storage.mutex().lock(); });
    owner.join();
    kit::StdoutCapture capture;
    EXPECT_FALSE(storage.mutexObject()->lock());
    EXPECT_TRUE(storage.mutexObject()->unlock());
    // Usable again afterwards.
    EXPECT_TRUE(storage.mutexObject()->lock());
    EXPECT_TRUE(storage.mutexObject()->unlock());
    EXPECT_EQ(capture.text(), "Host: ERROR: CMutexH: Locking mutex: " + systemText(kAbandoned) + "\n");
}

TEST(Mutex, MissingHandleIsAFailureNotACrash)
{
    kit::HostStorage storage(kit::HostStorage::Kind::Tracker);
    storage.mutexObject()->mutexHandle = nullptr;
    kit::StdoutCapture capture;
    EXPECT_FALSE(storage.mutexObject()->lock());
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Host: ERROR: CMutexH: Locking mutex: ", 0), 0u) << lines[0];
    // With the host's logger off, not even the system's text.
    storage.mutexObject()->log->enabled = 0;
    kit::StdoutCapture quiet;
    EXPECT_FALSE(storage.mutexObject()->lock());
    EXPECT_EQ(quiet.text(), "");
}

}  // namespace
