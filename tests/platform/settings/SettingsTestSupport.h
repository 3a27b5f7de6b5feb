#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tavrine::testing {

// A fresh XDG_CONFIG_HOME for one test, restored afterwards.
class TempConfigHome {
  public:
    TempConfigHome()
        : previous_(qgetenv("XDG_CONFIG_HOME")), hadPrevious_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
        qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
    }
    ~TempConfigHome() {
        if (hadPrevious_) {
            qputenv("XDG_CONFIG_HOME", previous_);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
    }
    QString path() const { return dir_.path(); }
    QString confPath() const { return dir_.path() + QStringLiteral("/tavrine/tavrine.conf"); }

    void writeConf(const QByteArray& bytes) const {
        QDir().mkpath(dir_.path() + QStringLiteral("/tavrine"));
        QFile f(confPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray readConf() const {
        QFile f(confPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

  private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_;
};

} // namespace tavrine::testing

// Readable QString values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
