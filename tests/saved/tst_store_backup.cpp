// kuvona-store as a user runs it: the file it uses by default, and its backup commands.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "common/gbk.h"
#include "tests/saved/store_fixture.h"

using namespace kuvona;
using namespace kuvona::test;
using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

Run runTool(const QString& exe, const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(exe, args);
    Run r;
    if (!p.waitForStarted(30000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

const QString kTool = QStringLiteral(KUVONA_BINARY_DIR "/saved/kuvona-store");

} // namespace

class TestStoreBackup : public QObject
{
    Q_OBJECT

private slots:
    void defaultFile_data();
    void defaultFile();
};

// A copy of the tool in a folder of its own, as a portable Kuvona keeps its files there, works on
// the Danhao.edb beside it.
void TestStoreBackup::defaultFile_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    // clang-format off
    QTest::newRow("check")       << QStringList{u"check"_s}            << 0 << u"{dir}/Danhao.edb: a store, 3 fields, 1 records"_s;
    QTest::newRow("dump")        << QStringList{u"dump"_s}             << 0 << u"{dir}/Danhao.edb"_s;
    QTest::newRow("dump --json") << QStringList{u"dump"_s, u"--json"_s} << 0 << u"\"file\": \"{dir}/Danhao.edb\""_s;
    // clang-format on
}

void TestStoreBackup::defaultFile()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString exe = dir.filePath(u"kuvona-store"_s);
    QVERIFY(QFile::copy(kTool, exe));
    std::string bytes = templateBytes();
    bytes += makeRecord(34, "YT123", gbk("圆通"), "");
    putInt32(bytes, 16, 1);
    putInt32(bytes, 20, 35);
    writeFile(dir.filePath(u"Danhao.edb"_s).toStdString(), bytes);

    const Run r = runTool(exe, args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(r.out).contains(says.replace(u"{dir}"_s, dir.path())), r.out.constData());
}

QTEST_GUILESS_MAIN(TestStoreBackup)
#include "tst_store_backup.moc"
