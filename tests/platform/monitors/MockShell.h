#pragma once

#include <QCoreApplication>
#include <QTest>

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
