// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// One run of the stand-in client libraries: writes their script into a fresh
// folder, names it in the variable that only the stand-ins read, and reads back
// the calls they logged. The libraries read the script at their first call after
// loading, so each run needs a client created after it.

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

class StandInRun {
public:
    explicit StandInRun(const QByteArray& script) {
        m_script = m_dir.filePath(QStringLiteral("script.txt"));
        QFile file(m_script);
        if (file.open(QIODevice::WriteOnly))
            file.write(script);
        qputenv("SERVERSTATS_STANDIN_SCRIPT", m_script.toLocal8Bit());
    }
    ~StandInRun() { qunsetenv("SERVERSTATS_STANDIN_SCRIPT"); }
    StandInRun(const StandInRun&) = delete;
    StandInRun& operator=(const StandInRun&) = delete;

    /* Every call logged so far, one line each: "<operation> <arguments> -> <result> <outputs>". */
    QStringList Log() const {
        QFile file(m_script + QStringLiteral(".log"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    /* The logged calls of one operation. */
    QStringList Calls(const QString& operation) const {
        return Log().filter(QRegularExpression(QStringLiteral("^%1 ").arg(operation)));
    }

private:
    QTemporaryDir m_dir;
    QString m_script;
};
