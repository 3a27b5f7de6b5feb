#include "platform/linux/sessionlock/LogindSessionLocker.h"

#include "platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace tavrine;
using namespace tavrine::testing;

using LogindSessionLockerTest = MockSessionTest;

TEST_F(LogindSessionLockerTest, WithoutASessionOrLogindNothingIsLocked) {
    // Asks for the lock with that session path; the answer, once it came.
    const auto lockWith = [](const QString& path) {
        LogindSessionLocker locker(QDBusConnection::systemBus(), [path] { return path; });
        std::optional<bool> answer;
        locker.lockSession([&answer](bool locked) { answer = locked; });
        EXPECT_FALSE(answer) << "answered from the event loop, not inside the call";
        (void)QTest::qWaitFor([&answer] { return answer.has_value(); });
        return answer;
    };
    EXPECT_EQ(lockWith(QStringLiteral("/org/freedesktop/login1/session/c1")), false)
        << "no logind on the bus";
    ASSERT_TRUE(mockOk("mock_logind"));
    EXPECT_EQ(lockWith(QString()), false) << "no session object known";
    EXPECT_EQ(lockWith(QStringLiteral("/org/freedesktop/login1/session/c9")), false) << "no such session";
    EXPECT_EQ(mockShell("mock_count_calls system $LOGIND_NAME $LOGIND_SESSION_PATH Lock"), "0\n");
}
