// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Exporters that the remote backend's tests start on 127.0.0.1 and stop again:
// the scripted fake and Debian's real node exporter.

#include "ClientLibrary.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

/* A program started with posix_spawn, its standard input and output as pipes. Not
   QProcess: Qt starts children through a vfork-like clone whose child runs Qt code in
   the parent's memory, which ThreadSanitizer then takes for the parent's own doings. */
class ChildProcess {
public:
    /* Standard error goes to /dev/null when `quiet`. */
    ChildProcess(const QString& program, const QStringList& arguments, bool quiet = false) {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipes");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (quiet)
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> words{program.toStdString()};
        for (const QString& argument : arguments)
            words.push_back(argument.toStdString());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const int failed = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
        if (failed != 0)
            throw std::runtime_error(words[0] + " did not start");
    }
    /* Closes its standard input, waits 3 s for it to end, then kills it. */
    ~ChildProcess() {
        CloseInput();
        if (Wait(3000) < 0) {
            kill(m_pid, SIGKILL);
            Wait(3000);
        }
        close(m_out);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Terminate() const { kill(m_pid, SIGTERM); }
    /* Closes its standard input, which tells a helper script to end. */
    void CloseInput() {
        if (m_in >= 0)
            close(m_in);
        m_in = -1;
    }
    pid_t Pid() const { return m_pid; }
    void Write(const std::string& text) const {
        if (write(m_in, text.data(), text.size()) != ssize_t(text.size()))
            throw std::runtime_error("the child does not listen");
    }
    /* The next whole line, its newline included; throws after 10 s of silence. */
    std::string ReadLine() {
        for (std::size_t end; (end = m_buffer.find('\n')) == std::string::npos;)
            if (!Fill())
                throw std::runtime_error("the child fell silent");
        const std::size_t end = m_buffer.find('\n') + 1;
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end);
        return line;
    }
    /* Everything up to the end of its output. */
    std::string ReadAll() {
        while (Fill()) {
        }
        return std::exchange(m_buffer, {});
    }
    /* Its exit status once it has ended within `milliseconds`, otherwise -1. */
    int Wait(int milliseconds) {
        for (int waited = 0; waited <= milliseconds; waited += 10) {
            int status = 0;
            if (m_status >= 0 || waitpid(m_pid, &status, WNOHANG) == m_pid) {
                if (m_status < 0)
                    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
                return m_status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    bool Fill() {
        pollfd ready{m_out, POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = read(m_out, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, std::size_t(n));
        return true;
    }

    pid_t m_pid = 0;
    int m_in = -1;
    int m_out = -1;
    int m_status = -1;
    std::string m_buffer;
};



/* A helper script of this folder, talked to by lines as fake_exporter.py is; started
   with posix_spawn (ChildProcess), so that ThreadSanitizer can watch the client. */
class Script {
public:
    Script(const char* file, const QStringList& arguments)
        : m_child(QStringLiteral("/usr/bin/python3"),
                  QStringList{QStringLiteral(SERVERSTATS_TEST_SOURCE "/") + file} + arguments) {}
    ~Script() {
        // Time for it to stop what it started; only then does ChildProcess kill it.
        m_child.CloseInput();
        m_child.Wait(10000);
    }
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    /* The next whole line, without its end. */
    std::string ReadLine(int timeoutMs = 10000) {
        for (int waited = 10000;; waited += 10000) {
            try {
                std::string line = m_child.ReadLine();
                while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
                    line.pop_back();
                return line;
            } catch (const std::runtime_error&) {
                if (waited >= timeoutMs)
                    throw;
            }
        }
    }
    void Say(const std::string& line) { m_child.Write(line + "\n"); }

private:
    ChildProcess m_child;
};

/* tests/linux/fake_exporter.py, switched between its modes. */
class FakeExporter {
public:
    /* `options` as the script takes them: --tls CERT KEY, --close-after N, --auth USER:PASSWORD. */
    explicit FakeExporter(const QStringList& options = {})
        : m_tls(options.contains(QStringLiteral("--tls"))),
          m_process(QStringLiteral("/usr/bin/python3"),
                    QStringList{QStringLiteral(SERVERSTATS_TEST_SOURCE "/fake_exporter.py")} + options),
          m_port(std::stoi(m_process.ReadLine())) {}

    std::string Url(const std::string& host = "127.0.0.1") const {
        return (m_tls ? "https://" : "http://") + host + ":" + std::to_string(m_port) + "/metrics";
    }
    int Port() const { return m_port; }
    /* Switches the mode and returns once the fake has taken it. */
    void SetMode(const std::string& mode) {
        m_process.Write(mode + "\n");
        if (m_process.ReadLine() != "ok " + mode + "\n")
            throw std::runtime_error("the fake exporter did not take mode " + mode);
    }

private:
    bool m_tls;
    ChildProcess m_process;
    int m_port;
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

    explicit NodeExporter(QStringList arguments = {})
        : m_port(FreePort()),
          // It logs every dropped client.
          m_process(QString::fromLatin1(Program),
                    arguments << QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port), true) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(m_port));
            if (socket.waitForConnected(100))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        throw std::runtime_error("the node exporter does not listen");
    }
    ~NodeExporter() { m_process.Terminate(); }
    NodeExporter(const NodeExporter&) = delete;
    NodeExporter& operator=(const NodeExporter&) = delete;

    int Port() const { return m_port; }
    qint64 Pid() const { return m_process.Pid(); }

private:
    int m_port;
    ChildProcess m_process;
};

/* Runs a program to its end; its standard output. */
inline std::string RunProgram(const QString& program, const QStringList& arguments) {
    ChildProcess process(program, arguments, true);
    std::string output = process.ReadAll();
    if (process.Wait(30000) != 0)
        throw std::runtime_error(program.toStdString() + " failed");
    return output;
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
