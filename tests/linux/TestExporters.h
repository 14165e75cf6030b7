// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Exporters that the remote backend's tests start on 127.0.0.1 and stop again:
// the scripted fake and Debian's real node exporter.

#include "ClientLibrary.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

/* tests/linux/fake_exporter.py, switched between its modes. */
class FakeExporter {
public:
    /* `options` as the script takes them: --tls CERT KEY, --close-after N, --auth USER:PASSWORD. */
    explicit FakeExporter(const QStringList& options = {}) : m_tls(options.contains(QStringLiteral("--tls"))) {
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        QStringList{QStringLiteral(SERVERSTATS_TEST_SOURCE "/fake_exporter.py")} + options);
        if (!m_process.waitForStarted(10000))
            throw std::runtime_error("the fake exporter did not start");
        m_port = ReadLine().trimmed().toInt();
    }
    ~FakeExporter() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    FakeExporter(const FakeExporter&) = delete;
    FakeExporter& operator=(const FakeExporter&) = delete;

    std::string Url(const std::string& host = "127.0.0.1") const {
        return (m_tls ? "https://" : "http://") + host + ":" + std::to_string(m_port) + "/metrics";
    }
    int Port() const { return m_port; }
    /* Switches the mode and returns once the fake has taken it. */
    void SetMode(const std::string& mode) {
        m_process.write((mode + "\n").c_str());
        if (ReadLine().toStdString() != "ok " + mode + "\n")
            throw std::runtime_error("the fake exporter did not take mode " + mode);
    }

private:
    /* The fake's next whole line; a pipe may deliver it in pieces. */
    QByteArray ReadLine() {
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(10000))
                throw std::runtime_error("the fake exporter fell silent");
        return m_process.readLine();
    }

    bool m_tls;
    QProcess m_process;
    int m_port = 0;
};

/* Runs a program to its end; its standard output. */
inline std::string RunProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " +
                                 process.readAllStandardError().toStdString());
    return process.readAllStandardOutput().toStdString();
}

/* Throw-away certificates in a folder: authorities, and server certificates they sign. */
class TestCertificates {
public:
    explicit TestCertificates(QString dir) : m_dir(std::move(dir)) {}
    /* NAME.pem and NAME.key, an authority of its own. */
    void Authority(const QString& name) const {
        RunProgram(QStringLiteral("openssl"),
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + Ec() +
                       QStringList{QStringLiteral("-keyout"), Path(name, ".key"), QStringLiteral("-out"),
                                   Path(name, ".pem"), QStringLiteral("-days"), QStringLiteral("1"),
                                   QStringLiteral("-subj"), QStringLiteral("/CN=Server Stats test ") + name});
    }
    /* NAME.pem and NAME.key for the subjectAltName `san` (as "IP:127.0.0.1"), signed by `authority`. */
    void Server(const QString& name, const QString& authority, const QString& san) const {
        RunProgram(QStringLiteral("openssl"),
                   QStringList{QStringLiteral("req")} + Ec() +
                       QStringList{QStringLiteral("-keyout"), Path(name, ".key"), QStringLiteral("-out"),
                                   Path(name, ".csr"), QStringLiteral("-subj"), QStringLiteral("/CN=") + name});
        QFile ext(Path(name, ".ext"));
        if (!ext.open(QIODevice::WriteOnly) || ext.write(("subjectAltName=" + san + "\n").toUtf8()) < 0)
            throw std::runtime_error("cannot write the certificate's extensions");
        ext.close();
        RunProgram(QStringLiteral("openssl"),
                   {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), Path(name, ".csr"),
                    QStringLiteral("-CA"), Path(authority, ".pem"), QStringLiteral("-CAkey"),
                    Path(authority, ".key"), QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                    Path(name, ".pem"), QStringLiteral("-days"), QStringLiteral("1"),
                    QStringLiteral("-extfile"), Path(name, ".ext")});
    }
    QString Path(const QString& name, const char* suffix) const {
        return m_dir + QLatin1Char('/') + name + QLatin1String(suffix);
    }

private:
    static QStringList Ec() {
        return {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    }
    QString m_dir;
};

/* A port on 127.0.0.1 that nothing listened on a moment ago. */
inline int FreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("no free port");
    return probe.serverPort();
}

/* Debian's prometheus-node-exporter on 127.0.0.1 at a free port, with extra arguments. */
class NodeExporter {
public:
    static constexpr const char* Program = "/usr/bin/prometheus-node-exporter";

    explicit NodeExporter(QStringList arguments = {}) : m_port(FreePort()) {
        arguments << QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port);
        m_process.setStandardErrorFile(QProcess::nullDevice()); // it logs every dropped client
        m_process.start(QString::fromLatin1(Program), arguments);
        if (!m_process.waitForStarted(10000))
            throw std::runtime_error("the node exporter did not start");
        for (int attempt = 0; attempt < 100; ++attempt) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(m_port));
            if (socket.waitForConnected(100))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        throw std::runtime_error("the node exporter does not listen");
    }
    ~NodeExporter() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    NodeExporter(const NodeExporter&) = delete;
    NodeExporter& operator=(const NodeExporter&) = delete;

    int Port() const { return m_port; }
    qint64 Pid() const { return m_process.processId(); }

private:
    int m_port;
    QProcess m_process;
};
