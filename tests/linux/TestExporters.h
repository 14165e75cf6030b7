// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Exporters that the remote backend's tests start on 127.0.0.1 and stop again:
// the scripted fake and Debian's real node exporter.

#include "ClientLibrary.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

/* tests/linux/fake_exporter.py, switched between its modes. */
class FakeExporter {
public:
    FakeExporter() {
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral(SERVERSTATS_TEST_SOURCE "/fake_exporter.py")});
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

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/metrics"; }
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

    QProcess m_process;
    int m_port = 0;
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
