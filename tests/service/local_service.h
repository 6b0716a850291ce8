#pragma once

// A kuvona-service process for one test: started on a free port, stopped with the fixture.
//
// Every request head the service receives is recorded verbatim, so a test can check the request line
// and the header lines in order as a loopback server received them.

#include <QByteArray>
#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <string>

namespace kuvona::test {

class LocalService
{
public:
    LocalService() = default;
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;
    ~LocalService() { stop(); }

    // Starts the service with `extraArguments` (e.g. {"--version-text", "2.2"}). False when it did not
    // report its port within 20 s; `error()` then says why.
    bool start(const QStringList& extraArguments = {})
    {
        stop();
        if (!m_dir.isValid()) {
            m_error = "no temporary directory";
            return false;
        }
        m_logPath = m_dir.filePath("requests.log");
        QFile::remove(m_logPath);
        QStringList arguments{"--port", "0", "--log", m_logPath};
        arguments += extraArguments;
        m_process.setProgram(QStringLiteral(KUVONA_BINARY_DIR "/service/kuvona-service"));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            m_error = m_process.errorString();
            return false;
        }
        QByteArray out;
        QDeadlineTimer deadline(20000);
        while (!out.contains('\n') && !deadline.hasExpired()) {
            if (!m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                break;
            out += m_process.readAllStandardOutput();
        }
        const QByteArray prefix = "listening on 127.0.0.1:";
        const QByteArray line = out.left(out.indexOf('\n')).trimmed();
        if (!line.startsWith(prefix)) {
            m_error = "no port from the service: " + QString::fromUtf8(out) +
                      QString::fromUtf8(m_process.readAllStandardError());
            stop();
            return false;
        }
        m_port = line.mid(prefix.size()).toInt();
        return m_port > 0;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        m_port = 0;
    }

    int port() const { return m_port; }
    QString error() const { return m_error; }

    // "http://127.0.0.1:PORT" followed by `path`.
    std::string url(const std::string& path = "/") const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(m_port); }

    // Every request head received so far, each without its closing blank line, oldest first.
    QByteArrayList requestHeads() const
    {
        QFile file(m_logPath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray all = file.readAll();
        QByteArrayList heads;
        qsizetype from = 0;
        for (qsizetype end = all.indexOf("\r\n\r\n", from); end != -1; end = all.indexOf("\r\n\r\n", from)) {
            heads.append(all.mid(from, end - from));
            from = end + 4;
        }
        if (from < all.size())
            heads.append(all.mid(from)); // a head the client never finished
        return heads;
    }

    // The lines of the newest request head, without their "\r\n": the request line first, then the
    // header lines in the order they arrived.
    QByteArrayList lastRequestLines() const
    {
        const QByteArrayList heads = requestHeads();
        if (heads.isEmpty())
            return {};
        QByteArrayList lines = heads.last().split('\n');
        for (QByteArray& line : lines)
            if (line.endsWith('\r'))
                line.chop(1);
        return lines;
    }

private:
    QTemporaryDir m_dir;
    QString m_logPath;
    QProcess m_process;
    QString m_error;
    int m_port = 0;
};

} // namespace kuvona::test
