#pragma once

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace tavrine::testing {

// Runs shell lines with the session harness's mock helpers (tests/harness/mocks.sh) loaded.
inline bool inSession() {
    return std::getenv("TAVRINE_SESSION_DIR") != nullptr;
}

inline std::string mockShell(const std::string& script, int* status = nullptr) {
    const std::string command = "bash -c 'source \"$TAVRINE_HARNESS_DIR/mocks.sh\" && " + script + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer{};
        std::size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
            out.append(buffer.data(), n);
        }
        const int rc = ::pclose(pipe);
        if (status) {
            *status = rc;
        }
    } else if (status) {
        *status = -1;
    }
    return out;
}

inline bool mockOk(const std::string& script) {
    int status = 0;
    mockShell(script, &status);
    return status == 0;
}

// Tests against the harness's D-Bus mocks: skipped outside run-in-session.sh, every mock stopped after
// each test. A subclass that overrides TearDown releases its own objects first, then calls this one.
class MockSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!inSession()) {
            GTEST_SKIP() << "needs the session harness (run-in-session.sh)";
        }
    }
    void TearDown() override {
        if (inSession()) {
            mockOk("mock_stop_all");
        }
    }
};

// Spins the event loop until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    return QTest::qWaitFor(condition, timeoutMs);
}

// Lets queued bus traffic arrive for a while (used only before checking that nothing happened, and
// always followed by a positive check that proves delivery works).
inline void settleBus(int ms = 300) {
    QTest::qWait(ms);
}

} // namespace tavrine::testing
