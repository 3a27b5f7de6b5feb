#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace tavrine::testing {

// Runs shell lines with the session harness's mock helpers (tests/harness/mocks.sh) loaded: their output.
inline std::string mockShell(const std::string& script) {
    QProcess bash;
    bash.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bash.start(QStringLiteral("bash"),
               {"-c", QString::fromStdString("source \"$TAVRINE_HARNESS_DIR/mocks.sh\" && " + script)});
    bash.waitForFinished(-1);
    return bash.readAllStandardOutput().toStdString();
}

// Whether they succeed; their output goes to the test's log.
inline bool mockOk(const std::string& script) {
    return mockShell("{ " + script + "; } >&2 && echo ok") == "ok\n";
}

// Tests against the harness's D-Bus mocks: skipped outside run-in-session.sh, every mock stopped after
// each test.
class MockSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("TAVRINE_SESSION_DIR")) {
            GTEST_SKIP() << "needs the session harness (run-in-session.sh)";
        }
    }
    void TearDown() override {
        if (std::getenv("TAVRINE_SESSION_DIR")) {
            mockOk("mock_stop_all");
        }
    }
};

// Lets queued bus traffic arrive for a while (used only before checking that nothing happened, and
// always followed by a positive check that proves delivery works).
inline void settleBus() {
    QTest::qWait(300);
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The file's bytes; none when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs `body` in a child process as an unprivileged user (root may open and write anything): its exit
// code, 99 when there is no unprivileged user, -1 when the child did not exit.
inline int asUnprivilegedUser(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0) ? 99 : body());
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh XDG_CONFIG_HOME for one test (left pointing at the removed folder afterwards, never at the
// user's own).
class TempConfigHome {
  public:
    TempConfigHome() { qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit()); }
    QString path() const { return dir_.path(); }
    QString confPath() const { return dir_.path() + QStringLiteral("/tavrine/tavrine.conf"); }

  private:
    QTemporaryDir dir_;
};

} // namespace tavrine::testing

// Readable QString values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
