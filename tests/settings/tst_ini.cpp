#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/gbk.h"
#include "settings/ini.h"
#include "tests/support/bytes.h"

using namespace kuvona;
using namespace kuvona::test;

namespace {

bool exists(const std::string& path)
{
    struct stat st
    {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string fixture(const char* name)
{
    return std::string(KUVONA_SOURCE_DIR) + "/tests/settings/data/" + name;
}

// The keys in the order the courier window writes them.
const char* const writeOrder[] = {"中通",   "天天",   "圆通",     "顺丰",     "速尔",     "汇通",
                                  "中铁",   "申通",   "快捷",     "亚风",     "中诚",     "韵达",
                                  "德邦",   "新邦",   "星辰",     "EMS",      "DHL",      "TNT",
                                  "飞康达", "宅急送", "中邮物流", "广东邮政", "联邦国际", "联邦国内"};

// Runs `call` in a forked child and gives back what it wrote, or "timed out" when it has not ended
// within `ms`: a call that blocks on a FIFO or reads a device without end must not hang the test.
QByteArray inChild(const std::function<std::string()>& call, int ms = 3000)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string out = call();
        [[maybe_unused]] const auto n = ::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray out;
    pollfd p{fds[0], POLLIN, 0};
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const int left = ms - static_cast<int>(clock.elapsed());
        if (left <= 0 || ::poll(&p, 1, left) <= 0) {
            out = "timed out";
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, n);
    }
    ::close(fds[0]);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return out;
}

} // namespace

class TestIni : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void read_data();
    void read();
    void profileFixture_data();
    void profileFixture();
    void readSkipsLeadingControls();
    void readCutsLongValues_data();
    void readCutsLongValues();
    void write_data();
    void write();
    void lineEndsKept_data();
    void lineEndsKept();
    void profileBuildUp();
    void roundTrip_data();
    void roundTrip();
    void windowsFixture();
    void windowsFixtureRewrite();
    void handEditedFixture_data();
    void handEditedFixture();
    void failedWriteKeepsOldFile();
    void writeIntoMissingDirectoryFails();
    void writeKeepsLinkAndMode();
    void concurrentWritersLoseNothing();
    void onlyRegularFiles_data();
    void onlyRegularFiles();

private:
    std::string path(const char* name = "set.ini") const { return s(m_dir->filePath(name).toLocal8Bit()); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestIni::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestIni::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("fallback");
    QTest::addColumn<QByteArray>("expected");

    // clang-format off
    QTest::newRow("plain")                << g("[Set]\r\n中通=真\r\n")         << QByteArray("Set") << g("中通")  << QByteArray()      << g("真");
    QTest::newRow("lf line ends")         << g("[Set]\n中通=真\n")             << QByteArray("Set") << g("中通")  << QByteArray()      << g("真");
    QTest::newRow("no final line end")    << g("[Set]\r\n中通=真")             << QByteArray("Set") << g("中通")  << QByteArray()      << g("真");
    QTest::newRow("section case")         << QByteArray("[SET]\r\nEMS=1\r\n")   << QByteArray("set") << QByteArray("ems") << QByteArray() << QByteArray("1");
    QTest::newRow("blanks around")        << g("[ Set ]\r\n \t中通  =  真  \r\n") << QByteArray("Set") << g("中通") << QByteArray()     << g("真");
    QTest::newRow("missing key")          << g("[Set]\r\n中通=真\r\n")         << QByteArray("Set") << g("天天")  << QByteArray("d")   << QByteArray("d");
    QTest::newRow("default blanks cut")   << g("[Set]\r\n")                    << QByteArray("Set") << g("天天")  << QByteArray(" d  ") << QByteArray(" d");
    QTest::newRow("missing section")      << g("[A]\r\n中通=真\r\n")           << QByteArray("Set") << g("中通")  << QByteArray("d")   << QByteArray("d");
    QTest::newRow("key of next section")  << QByteArray("[A]\r\nk=1\r\n[B]\r\nx=2\r\n") << QByteArray("B") << QByteArray("k") << QByteArray("d") << QByteArray("d");
    QTest::newRow("first section wins")   << QByteArray("[S]\r\nk=1\r\n[S]\r\nk=2\r\n") << QByteArray("S") << QByteArray("k") << QByteArray() << QByteArray("1");
    QTest::newRow("first key wins")       << QByteArray("[S]\r\nk=1\r\nK=2\r\n") << QByteArray("S") << QByteArray("k") << QByteArray()    << QByteArray("1");
    QTest::newRow("bare key is empty")    << QByteArray("[S]\r\nk\r\n")         << QByteArray("S") << QByteArray("k") << QByteArray("d")  << QByteArray();
    QTest::newRow("empty value")          << QByteArray("[S]\r\nk=\r\n")        << QByteArray("S") << QByteArray("k") << QByteArray("d")  << QByteArray();
    QTest::newRow("double quotes")        << QByteArray("[S]\r\nk=\"a b\"\r\n") << QByteArray("S") << QByteArray("k") << QByteArray()     << QByteArray("a b");
    QTest::newRow("single quotes")        << QByteArray("[S]\r\nk='x'\r\n")     << QByteArray("S") << QByteArray("k") << QByteArray()     << QByteArray("x");
    QTest::newRow("lone quote kept")      << QByteArray("[S]\r\nk=\"x\r\n")     << QByteArray("S") << QByteArray("k") << QByteArray()     << QByteArray("\"x");
    QTest::newRow("mixed quotes kept")    << QByteArray("[S]\r\nk=\"x'\r\n")    << QByteArray("S") << QByteArray("k") << QByteArray()     << QByteArray("\"x'");
    QTest::newRow("value with equals")    << QByteArray("[S]\r\nk=a=b\r\n")     << QByteArray("S") << QByteArray("k") << QByteArray()     << QByteArray("a=b");
    QTest::newRow("comment skipped")      << QByteArray("[S]\r\n;k=1\r\nk=2\r\n") << QByteArray("S") << QByteArray("k") << QByteArray()   << QByteArray("2");
    QTest::newRow("key before sections")  << QByteArray("k=1\r\n[S]\r\n")       << QByteArray("S") << QByteArray("k") << QByteArray("d")  << QByteArray("d");
    QTest::newRow("text after header")    << QByteArray("[S] ; note\r\nk=1\r\n") << QByteArray("S") << QByteArray("k") << QByteArray()    << QByteArray("1");
    QTest::newRow("unclosed is a key")    << QByteArray("[S]\r\n[k=1\r\n")      << QByteArray("S") << QByteArray("[k") << QByteArray()    << QByteArray("1");
    // 癩 is B0 5D: its trail byte is "]" and must not close the section name.
    QTest::newRow("trail byte bracket")   << g("[癩S]\r\nk=1\r\n")            << g("癩S")         << QByteArray("k") << QByteArray()     << QByteArray("1");
    QTest::newRow("chinese not folded")   << g("[S]\r\nＡ=1\r\n")              << QByteArray("S")  << g("ａ")     << QByteArray("d")     << QByteArray("d");
    QTest::newRow("zero byte ends value") << QByteArray("[S]\r\nk=ab\0cd\r\n", 15) << QByteArray("S") << QByteArray("k") << QByteArray()  << QByteArray("ab");
    QTest::newRow("empty file")           << QByteArray()                       << QByteArray("S") << QByteArray("k") << QByteArray("d")  << QByteArray("d");
    // clang-format on
}

void TestIni::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, fallback);
    QFETCH(QByteArray, expected);
    writeFile(path(), content);
    QCOMPARE(q(readIniValue(path(), s(section), s(key), s(fallback))), expected);
}

// The file the Windows conformance tests read, with each of the line ends the profile functions
// take. An empty section or key name gives the empty text here (Windows gives the default, or reads
// a "[]" section or a "=value" line): the program never asks for one.
void TestIni::profileFixture_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");
    struct Case
    {
        const char* name;
        const char* section;
        const char* key;
        const char* expected;
    };
    // clang-format off
    static const Case cases[] = {
        {"value",                 "section1",    "name1",       "val1"},
        {"quotes stripped",       "section1",    "name2",       "val2"},
        {"key case",              "section1",    "NaMe1",       "val1"},
        {"after a bare name",     "section1",    "name4",       "a"},
        {"bare name is empty",    "section1",    "name3",       ""},
        {"missing key",           "section1",    "notakey",     "default"},
        {"missing section",       "notasection", "name1",       "default"},
        {"section without keys",  "section2",    "DoesntExist", "default"},
        {"blanks around header",  "section3",    "name5",       "v5"},
        {"key before sections",   "s",           "key",         "default"},
        {"after a =value line",   "s",           "k",           "v"},
        {"empty section name",    "",            "key",         ""},
        {"empty key name",        "t",           "",            ""},
    };
    static const std::pair<const char*, const char*> lineEnds[] = {{"CR LF", "\r\n"}, {"LF", "\n"}, {"CR", "\r"}};
    // clang-format on
    for (const auto& [style, end] : lineEnds) {
        QByteArray content =
            "key=val_no_section|[section1]|name1=val1|name2=\"val2\"|name3|name4=a|[section2]|"
            "[ section3 ]|name5=v5|[]|key=val_e_section|[s]|=val_no_key|k=v|[t]|=x|";
        content.replace('|', end);
        for (const Case& c : cases)
            QTest::addRow("%s: %s", style, c.name)
                << content << QByteArray(c.section) << QByteArray(c.key) << QByteArray(c.expected);
    }
}

void TestIni::profileFixture()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    writeFile(path(), content);
    QCOMPARE(q(readIniValue(path(), s(section), s(key), "default")), expected);
}

void TestIni::readSkipsLeadingControls()
{
    writeFile(path(), g("[Set]\r\n中通=真\r\n"));
    QCOMPARE(q(readIniValue(" \t" + path(), "\x01 Set", " " + gbk("中通"))), g("真"));
    // A name that is nothing but such bytes gives the empty text, not the default, and no file is read.
    QCOMPARE(q(readIniValue(path(), "Set", " \t\n", "d")), QByteArray());
    QCOMPARE(q(readIniValue(path(), "  ", gbk("中通"), "d")), QByteArray());
    QCOMPARE(q(readIniValue(" ", "Set", gbk("中通"), "d")), QByteArray());
    // A missing file gives the default.
    QCOMPARE(q(readIniValue(path("none.ini"), "Set", gbk("中通"), "d")), QByteArray("d"));
}

void TestIni::readCutsLongValues_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray ascii(20000, 'a');
    const QByteArray exact(10239, 'b');
    // Two ASCII bytes, then 中 (two bytes) from byte 3 on: the character on bytes 10239 and 10240
    // would be cut in half at the limit, so it goes as a whole.
    QByteArray odd = "aa";
    while (odd.size() < 10300)
        odd += g("中");
    // clang-format off
    QTest::newRow("ascii cut")        << ascii << ascii.left(10239);
    QTest::newRow("exactly the limit") << exact << exact;
    QTest::newRow("no half character") << odd  << odd.left(10238);
    // clang-format on
}

void TestIni::readCutsLongValues()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, expected);
    writeFile(path(), "[S]\r\nk=" + value + "\r\n");
    QCOMPARE(q(readIniValue(path(), "S", "k")), expected);
    QCOMPARE(q(readIniValue(path(), "S", "missing", s(value))), expected);
}

void TestIni::write_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("expected");

    // clang-format off
    QTest::newRow("new file")              << false << QByteArray()                          << QByteArray("Set") << g("中通") << g("真") << true  << g("[Set]\r\n中通=真\r\n");
    QTest::newRow("empty file")            << true  << QByteArray()                          << QByteArray("Set") << g("中通") << g("真") << true  << g("[Set]\r\n中通=真\r\n");
    QTest::newRow("replace value")         << true  << g("[Set]\r\n中通=假\r\n天天=假\r\n")  << QByteArray("Set") << g("中通") << g("真") << true  << g("[Set]\r\n中通=真\r\n天天=假\r\n");
    QTest::newRow("lf lines kept")         << true  << g("[Set]\n中通=假\n天天=假\n")        << QByteArray("Set") << g("中通") << g("真") << true  << g("[Set]\n中通=真\r\n天天=假\n");
    QTest::newRow("names ignore case")     << true  << QByteArray("[set]\r\nems=0\r\n")      << QByteArray("Set") << QByteArray("EMS") << QByteArray("1") << true << QByteArray("[set]\r\nEMS=1\r\n");
    QTest::newRow("after last filled")     << true  << QByteArray("[S]\r\na=1\r\n\r\n[B]\r\nb=2\r\n") << QByteArray("S") << QByteArray("c") << QByteArray("3") << true
                                                                                                  << QByteArray("[S]\r\na=1\r\nc=3\r\n\r\n[B]\r\nb=2\r\n");
    QTest::newRow("into empty section")    << true  << QByteArray("[S]\r\n[B]\r\n")          << QByteArray("S") << QByteArray("c") << QByteArray("3") << true << QByteArray("[S]\r\nc=3\r\n[B]\r\n");
    QTest::newRow("last line unended")     << true  << QByteArray("[S]\r\na=1")              << QByteArray("S") << QByteArray("c") << QByteArray("3") << true << QByteArray("[S]\r\na=1\r\nc=3\r\n");
    QTest::newRow("replace unended line")  << true  << QByteArray("[S]\r\nc=1")              << QByteArray("S") << QByteArray("c") << QByteArray("3") << true << QByteArray("[S]\r\nc=3\r\n");
    QTest::newRow("new section at end")    << true  << QByteArray("[A]\r\na=1\r\n")          << QByteArray("S") << QByteArray("c") << QByteArray("3") << true << QByteArray("[A]\r\na=1\r\n[S]\r\nc=3\r\n");
    QTest::newRow("new section unended")   << true  << QByteArray("[A]\r\na=1")              << QByteArray("S") << QByteArray("c") << QByteArray("3") << true << QByteArray("[A]\r\na=1\r\n[S]\r\nc=3\r\n");
    QTest::newRow("other lines kept")      << true  << QByteArray("; x\r\n[S]\r\n; c\r\n  a = 1  \r\nz = 9 \n") << QByteArray("S") << QByteArray("a") << QByteArray("2") << true
                                                                                                  << QByteArray("; x\r\n[S]\r\n; c\r\na=2\r\nz = 9 \n");
    QTest::newRow("comment not replaced")  << true  << QByteArray("[S]\r\n;a=1\r\n")         << QByteArray("S") << QByteArray("a") << QByteArray("2") << true << QByteArray("[S]\r\n;a=1\r\na=2\r\n");
    QTest::newRow("names trimmed")         << true  << QByteArray()                          << QByteArray(" S ") << QByteArray(" a ") << QByteArray("v") << true << QByteArray("[S]\r\na=v\r\n");
    QTest::newRow("empty value")           << true  << QByteArray("[S]\r\na=1\r\n")          << QByteArray("S") << QByteArray("a") << QByteArray()    << true  << QByteArray("[S]\r\na=\r\n");
    QTest::newRow("refuse = in key")       << true  << QByteArray("[S]\r\n")                 << QByteArray("S") << QByteArray("a=b") << QByteArray("1") << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse break in value") << true  << QByteArray("[S]\r\n")                 << QByteArray("S") << QByteArray("a") << QByteArray("1\r\n[X]") << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse break in key")   << true  << QByteArray("[S]\r\n")                 << QByteArray("S") << QByteArray("a\nb") << QByteArray("1") << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse ] in section")   << true  << QByteArray("[S]\r\n")                 << QByteArray("S]x") << QByteArray("a") << QByteArray("1") << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse empty section")  << true  << QByteArray("[S]\r\n")                 << QByteArray(" ") << QByteArray("a") << QByteArray("1")   << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse empty key")      << true  << QByteArray("[S]\r\n")                 << QByteArray("S") << QByteArray()    << QByteArray("1")   << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse header key")     << true  << QByteArray("[S]\r\n")                 << QByteArray("S") << QByteArray("[k]") << QByteArray("1") << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse comment key")    << true  << QByteArray("[S]\r\n")                 << QByteArray("S") << QByteArray(";k") << QByteArray("1")  << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse key on lead")    << true  << QByteArray("[S]\r\n")                 << QByteArray("S") << QByteArray("k\x81") << QByteArray("1") << false << QByteArray("[S]\r\n");
    QTest::newRow("refuse section on lead") << true << QByteArray()                          << QByteArray("S\x81") << QByteArray("k") << QByteArray("1") << false << QByteArray();
    QTest::newRow("refuse value on lead")  << true  << QByteArray("[S]\r\n")                 << QByteArray("S") << QByteArray("k") << QByteArray("v\x81") << false << QByteArray("[S]\r\n");
    QTest::newRow("refused, no new file")  << false << QByteArray()                          << QByteArray("S") << QByteArray("a=b") << QByteArray("1") << false << QByteArray();
    // clang-format on
}

void TestIni::write()
{
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(bool, ok);
    QFETCH(QByteArray, expected);
    if (fileExists)
        writeFile(path(), content);
    QCOMPARE(writeIniValue(path(), s(section), s(key), s(value)), ok);
    QCOMPARE(exists(path()), fileExists || ok);
    QCOMPARE(readFile(path()), expected);
}

void TestIni::lineEndsKept_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");
    // Every line but the one written keeps its bytes, whatever its line end.
    // clang-format off
    QTest::newRow("CR: replace")           << QByteArray("[S]\ra=1\rb=2\r")         << QByteArray("S") << QByteArray("a") << QByteArray("[S]\ra=9\r\nb=2\r");
    QTest::newRow("CR: replace last")      << QByteArray("[S]\ra=1\rb=2\r")         << QByteArray("S") << QByteArray("b") << QByteArray("[S]\ra=1\rb=9\r\n");
    QTest::newRow("CR: add to section")    << QByteArray("[S]\ra=1\r[B]\rb=2\r")    << QByteArray("S") << QByteArray("c") << QByteArray("[S]\ra=1\rc=9\r\n[B]\rb=2\r");
    QTest::newRow("CR: add to last")       << QByteArray("[A]\ra=1\r[S]\rb=2\r")    << QByteArray("S") << QByteArray("c") << QByteArray("[A]\ra=1\r[S]\rb=2\rc=9\r\n");
    QTest::newRow("CR: new section")       << QByteArray("[A]\ra=1\r")              << QByteArray("S") << QByteArray("c") << QByteArray("[A]\ra=1\r[S]\r\nc=9\r\n");
    QTest::newRow("CR: blank lines kept")  << QByteArray("[S]\ra=1\r\r\r[B]\r")      << QByteArray("S") << QByteArray("c") << QByteArray("[S]\ra=1\rc=9\r\n\r\r[B]\r");
    QTest::newRow("CR: chinese")           << g("[Set]\r中通=假\r天天=真\r")         << QByteArray("Set") << g("天天") << g("[Set]\r中通=假\r天天=9\r\n");
    QTest::newRow("mixed ends")            << QByteArray("[S]\r\na=1\rb=2\nc=3\r\n")  << QByteArray("S") << QByteArray("b") << QByteArray("[S]\r\na=1\rb=9\r\nc=3\r\n");
    QTest::newRow("LF CR is two ends")     << QByteArray("[S]\n\ra=1\n\r")          << QByteArray("S") << QByteArray("c") << QByteArray("[S]\n\ra=1\nc=9\r\n\r");
    // The conformance tests: bytes before the first section, zeros among them, stay as they are.
    QTest::newRow("zeros before sections") << QByteArray("Data \0 before \0 first \0 section", 31) << QByteArray("section1") << QByteArray("key1")
                                           << QByteArray("Data \0 before \0 first \0 section\r\n[section1]\r\nkey1=9\r\n", 53);
    // clang-format on
}

void TestIni::lineEndsKept()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    writeFile(path(), content);
    QVERIFY(writeIniValue(path(), s(section), s(key), "9"));
    QCOMPARE(readFile(path()), expected);
    QCOMPARE(readIniValue(path(), s(section), s(key)), std::string("9"));
}

// The file the Windows conformance tests build up value by value, byte for byte.
void TestIni::profileBuildUp()
{
    QVERIFY(writeIniValue(path(), "App", "key", ""));
    QCOMPARE(readFile(path()), QByteArray("[App]\r\nkey=\r\n"));
    QFile::remove(QString::fromLocal8Bit(path().c_str()));
    QVERIFY(writeIniValue(path(), "App1", "key1", "string1"));
    QVERIFY(writeIniValue(path(), "App1", "key2", "string2"));
    QVERIFY(writeIniValue(path(), "App1", "key3", "string3"));
    QVERIFY(writeIniValue(path(), "App2", "key4", "string4"));
    QVERIFY(writeIniValue(path(), "App3", "key5", "string5"));
    QCOMPARE(readFile(path()), QByteArray("[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n"
                                          "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n"));
}

void TestIni::roundTrip_data()
{
    QTest::addColumn<QByteArray>("value");
    // clang-format off
    QTest::newRow("ticked")       << g("真");
    QTest::newRow("unticked")     << g("假");
    QTest::newRow("inner blanks") << QByteArray("a  b");
    QTest::newRow("equals signs") << QByteArray("a=b=c");
    QTest::newRow("semicolon")    << QByteArray(";not a comment");
    QTest::newRow("brackets")     << QByteArray("[Set]");
    QTest::newRow("gbk text")     << g("快递单号：１２３");
    QTest::newRow("empty")        << QByteArray();
    QTest::newRow("longest")      << QByteArray(10239, 'x');
    // clang-format on
}

void TestIni::roundTrip()
{
    QFETCH(QByteArray, value);
    QVERIFY(writeIniValue(path(), "Set", gbk("中通"), "first"));
    QVERIFY(writeIniValue(path(), "Other", gbk("中通"), "other"));
    QVERIFY(writeIniValue(path(), "Set", gbk("天天"), "next"));
    QVERIFY(writeIniValue(path(), "Set", gbk("中通"), s(value)));
    QCOMPARE(q(readIniValue(path(), "Set", gbk("中通"), "d")), value);
    QCOMPARE(q(readIniValue(path(), "Other", gbk("中通"))), QByteArray("other"));
    QCOMPARE(q(readIniValue(path(), "Set", gbk("天天"))), QByteArray("next"));
}

void TestIni::windowsFixture()
{
    const std::string file = fixture("set_windows.ini");
    QStringList ticked;
    for (const char* key : writeOrder) {
        const std::string value = readIniValue(file, "Set", gbk(key));
        QVERIFY2(value == gbk("真") || value == gbk("假"), key);
        if (value == gbk("真"))
            ticked << QString::fromUtf8(key);
    }
    QCOMPARE(ticked, QStringList({"中通", "圆通", "汇通", "韵达", "EMS", "广东邮政", "联邦国内"}));
}

void TestIni::windowsFixtureRewrite()
{
    const QByteArray original = readFile(fixture("set_windows.ini"));
    QVERIFY(original.startsWith("[Set]\r\n"));
    writeFile(path(), original);
    QVERIFY(writeIniValue(path(), "Set", gbk("中铁"), gbk("真")));
    QByteArray expected = original;
    expected.replace(g("中铁=假\r\n"), g("中铁=真\r\n"));
    QVERIFY(expected != original);
    QCOMPARE(readFile(path()), expected);

    // Rewriting every key with its own value gives the file back byte for byte.
    writeFile(path(), original);
    for (const char* key : writeOrder)
        QVERIFY(writeIniValue(path(), "Set", gbk(key), readIniValue(path(), "Set", gbk(key))));
    QCOMPARE(readFile(path()), original);

    // Written from scratch in the window's order, the file is the fixture.
    QFile::remove(QString::fromLocal8Bit(path().c_str()));
    for (const char* key : writeOrder)
        QVERIFY(writeIniValue(path(), "Set", gbk(key),
                              readIniValue(fixture("set_windows.ini"), "Set", gbk(key))));
    QCOMPARE(readFile(path()), original);
}

void TestIni::handEditedFixture_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");
    // clang-format off
    QTest::newRow("blanks around")    << g("中通")   << g("真");
    QTest::newRow("key case")         << g("EMS")    << g("真");
    QTest::newRow("quoted")           << g("申通")   << g("真");
    QTest::newRow("number value")     << g("宅急送") << QByteArray("1");
    QTest::newRow("longer value")     << g("顺丰")   << g("真的");
    QTest::newRow("bare key")         << g("天天")   << QByteArray();
    QTest::newRow("commented out")    << g("圆通")   << QByteArray("d");
    // clang-format on
}

void TestIni::handEditedFixture()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    QCOMPARE(q(readIniValue(fixture("set_edited.ini"), "Set", s(key), "d")), expected);
}

// A write that cannot complete (here: the file size limit) must leave the old file as it was.
void TestIni::failedWriteKeepsOldFile()
{
    const QByteArray original = g("[Set]\r\n中通=真\r\n");
    writeFile(path(), original);
    rlimit old{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    const bool ok = writeIniValue(path(), "Set", gbk("天天"), std::string(200, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(!ok);
    QCOMPARE(readFile(path()), original);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"set.ini"});
}

void TestIni::writeIntoMissingDirectoryFails()
{
    const std::string file = path("missing") + "/set.ini";
    QVERIFY(!writeIniValue(file, "Set", "k", "v"));
    QVERIFY(!exists(file));
    // A directory where the file should be cannot be read, so it is not replaced either.
    QVERIFY(QDir(m_dir->path()).mkdir("dir.ini"));
    QVERIFY(!writeIniValue(path("dir.ini"), "Set", "k", "v"));
}

void TestIni::writeKeepsLinkAndMode()
{
    writeFile(path("real.ini"), "[Set]\r\nk=1\r\n");
    QVERIFY(::chmod(path("real.ini").c_str(), 0640) == 0);
    QVERIFY(::symlink(path("real.ini").c_str(), path("link.ini").c_str()) == 0);
    QVERIFY(writeIniValue(path("link.ini"), "Set", "k", "2"));
    struct stat st
    {};
    QVERIFY(::lstat(path("link.ini").c_str(), &st) == 0);
    QVERIFY(S_ISLNK(st.st_mode));
    QCOMPARE(readFile(path("real.ini")), QByteArray("[Set]\r\nk=2\r\n"));
    QVERIFY(::stat(path("real.ini").c_str(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
}

// Each writer reads, changes and replaces the whole file; none of the updates may be lost.
void TestIni::concurrentWritersLoseNothing()
{
    const int threads = 4;
    const int keys = 30;
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&, t] {
            for (int k = 0; k < keys; ++k)
                if (!writeIniValue(path(), "S" + std::to_string(t), "k" + std::to_string(k),
                                   std::to_string(t * k)))
                    ++failures;
        });
    for (auto& w : writers)
        w.join();
    QCOMPARE(failures.load(), 0);
    for (int t = 0; t < threads; ++t)
        for (int k = 0; k < keys; ++k)
            QCOMPARE(readIniValue(path(), "S" + std::to_string(t), "k" + std::to_string(k)),
                     std::to_string(t * k));
}

void TestIni::onlyRegularFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("readable");
    // clang-format off
    QTest::newRow("fifo")              << "fifo"      << false;
    QTest::newRow("link to /dev/zero") << "devzero"   << false;
    QTest::newRow("directory")         << "directory" << false;
    QTest::newRow("over the limit")    << "oversize"  << false;
    QTest::newRow("at the limit")      << "limit"     << true;
    // clang-format on
}

// Whatever stands at the file's place, reading and writing end at once; only a regular file within
// the limit is read, and nothing else is replaced or changed.
void TestIni::onlyRegularFiles()
{
    QFETCH(QString, kind);
    QFETCH(bool, readable);
    const std::string file = path();
    const QByteArray head = "[Set]\r\nk=1\r\n";
    QByteArray content;
    if (kind == "fifo") {
        QVERIFY(::mkfifo(file.c_str(), 0600) == 0);
    } else if (kind == "devzero") {
        QVERIFY(::symlink("/dev/zero", file.c_str()) == 0);
    } else if (kind == "directory") {
        QVERIFY(QDir(m_dir->path()).mkdir("set.ini"));
    } else {
        // A comment line fills the file up to the size wanted.
        const qsizetype size = qsizetype(iniFileLimit) + (kind == "oversize" ? 1 : 0);
        content = head + ";" + QByteArray(size - head.size() - 3, 'x') + "\r\n";
        QCOMPARE(content.size(), size);
        writeFile(file, content);
    }
    struct stat before
    {};
    QVERIFY(::lstat(file.c_str(), &before) == 0);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(inChild([&] { return readIniValue(file, "Set", "k", "d"); }), QByteArray(readable ? "1" : "d"));
    QCOMPARE(
        inChild([&] { return std::string(writeIniValue(file, "Set", "k", "2") ? "written" : "refused"); }),
        QByteArray(readable ? "written" : "refused"));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));

    struct stat after
    {};
    QVERIFY(::lstat(file.c_str(), &after) == 0);
    QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
    if (kind == "oversize")
        QCOMPARE(readFile(file), content);
    if (readable)
        QCOMPARE(readFile(file).left(head.size()), QByteArray("[Set]\r\nk=2\r\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             QStringList{"set.ini"});
}

QTEST_GUILESS_MAIN(TestIni)
#include "tst_ini.moc"
