// The simulated reader, driven as the program drives a real one: through its
// pseudo-terminal, set to a baud rate in raw mode, with run-time commands on
// its standard input.
#include "link/Frames.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using Bytes = std::vector<std::uint8_t>;

QByteArray hex(const Bytes& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())).toHex(' ');
}

// Frames print as spaced hexadecimal when a comparison fails.
template <> char* QTest::toString(const Bytes& bytes)
{
    return qstrdup(hex(bytes).constData());
}

namespace {

using Clock = std::chrono::steady_clock;

Bytes tab(const char* command)
{
    return Frames::AsciiFrame(Frames::TAB, command);
}
Bytes soh(const char* command)
{
    return Frames::AsciiFrame(Frames::SOH, command);
}
Bytes binary(const Bytes& data)
{
    return Frames::BinaryFrame(data);
}
const Bytes Wake{0x00, 0x00, 0x00, 0xE7};
const Bytes Identity{0x00, 0x00, 0x00, 0x00};
const Bytes Poll{0x00, 0x00, 0x00, 0xE5, 0x1F};

// Characters `first`.. of a reply, counted from 1 as the program counts them.
QByteArray chars(const Bytes& reply, int first, int count)
{
    if (first < 1 || first - 1 + count > int(reply.size()))
        return "<out of range>";
    return QByteArray(reinterpret_cast<const char*>(reply.data()) + first - 1, count);
}

// A frame whose checksum (upper-case digits for ASCII) and end are right.
bool wellFormed(const Bytes& reply)
{
    if (reply.size() < 4)
        return false;
    if (reply.front() == Frames::BIN)
        return Frames::BinaryFrame(Bytes(reply.begin() + 3, reply.end() - 1)) == reply;
    return Frames::AsciiFrame(reply.front(), std::string(reply.begin() + 1, reply.end() - 3)) == reply;
}

// The port as the program opens it.
class Port {
public:
    ~Port() { close(); }
    bool open(const QString& path, speed_t speed)
    {
        close();
        fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return fd >= 0 && setSpeed(speed);
    }
    bool setSpeed(speed_t speed)
    {
        termios attributes{};
        if (tcgetattr(fd, &attributes) != 0)
            return false;
        cfmakeraw(&attributes);
        cfsetispeed(&attributes, speed);
        cfsetospeed(&attributes, speed);
        return tcsetattr(fd, TCSANOW, &attributes) == 0;
    }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    void send(const Bytes& bytes) { QCOMPARE(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    // What arrives within `firstMs`, and on until `quietMs` pass without a byte.
    Bytes collect(int firstMs = 100, int quietMs = 15)
    {
        Bytes got;
        std::uint8_t buffer[4096];
        pollfd fds{fd, POLLIN, 0};
        while (::poll(&fds, 1, got.empty() ? firstMs : quietMs) > 0 && (fds.revents & POLLIN)) {
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count <= 0)
                break;
            got.insert(got.end(), buffer, buffer + count);
        }
        return got;
    }
    Bytes exchange(const Bytes& request)
    {
        send(request);
        return collect(1000);
    }

    int fd = -1;
};

// A running simulator, its command channel and a port on its pseudo-terminal.
class Sim {
public:
    ~Sim()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(2000);
        }
    }
    // Starts the simulator and, unless `speed` is B0, opens its port.
    bool start(const QStringList& arguments, speed_t speed = B19200)
    {
        process.start(qEnvironmentVariable("TALLYPORT_BUILD") + "/tallyport-readersim", arguments);
        path = QString::fromLocal8Bit(line());
        return path.startsWith("/dev/") && (speed == B0 || port.open(path, speed));
    }
    QByteArray line(int ms = 2000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!process.canReadLine() && Clock::now() < deadline && process.state() != QProcess::NotRunning)
            process.waitForReadyRead(20);
        return process.readLine().trimmed();
    }
    QByteArray command(const QByteArray& text)
    {
        process.write(text + "\n");
        return line();
    }
    bool ok(const QByteArray& text) { return command(text) == "ok"; }
    qint64 cpuTicks() const
    {
        QFile stat(QString("/proc/%1/stat").arg(process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        return fields.value(11).toLongLong() + fields.value(12).toLongLong();  // utime + stime
    }
    // For failure messages: whether it still runs, and what it said on stderr.
    QByteArray state()
    {
        return (process.state() == QProcess::Running ? "running" : "exited " + QByteArray::number(process.exitCode()))
            + ", stderr: " + process.readAllStandardError();
    }
    bool exitedCleanly(int ms = 2000)
    {
        return (process.state() == QProcess::NotRunning || process.waitForFinished(ms))
            && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QProcess process;
    QString path;
    Port port;
};

// The card in a type A poll reply, "" for none, "?" for anything else.
QByteArray typeACard(const Bytes& reply)
{
    if (wellFormed(reply) && reply.size() == 17)
        return chars(reply, 7, 8);
    return QByteArray(wellFormed(reply) && reply.size() == 9 ? "" : "?");
}

}  // namespace

class TestReaderSim : public QObject {
    Q_OBJECT

private slots:
    void connectAndPoll_data();
    void connectAndPoll();
    void typeBCardsAndMode();
    void typeFFrames();
    void addressingAndBaud();
    void replyFaults();
    void splitAndNoisyRequests();
    void cardSequences();
    void hangupAndReturn();
    void startAndExit();
    void commandsStatsAndIdleCpu();
};

void TestReaderSim::connectAndPoll_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("speed");
    QTest::addColumn<Bytes>("connect");
    QTest::addColumn<int>("connectLength");
    QTest::addColumn<int>("idAt");
    QTest::addColumn<int>("serialAt");
    QTest::addColumn<Bytes>("poll");
    QTest::addColumn<int>("cardLength");
    QTest::addColumn<int>("cardAt");
    QTest::addColumn<int>("emptyLength");

    QTest::newRow("A") << "A" << int(B19200) << tab("A07B") << 16 << 3 << 6 << tab("A07F") << 17 << 7 << 9;
    QTest::newRow("B") << "B" << int(B115200) << soh("07S") << 15 << 2 << 5 << soh("07C") << 17 << 7 << 9;
    QTest::newRow("C") << "C" << int(B19200) << tab("H07B") << 16 << 3 << 6 << tab("H07F") << 18 << 8 << 10;
    QTest::newRow("D") << "D" << int(B19200) << tab("I07B") << 16 << 3 << 6 << tab("I07F") << 18 << 8 << 10;
    QTest::newRow("E") << "E" << int(B19200) << tab("J07B") << 16 << 3 << 6 << tab("J07F") << 18 << 8 << 10;
}

void TestReaderSim::connectAndPoll()
{
    QFETCH(QString, type);
    QFETCH(int, speed);
    QFETCH(Bytes, connect);
    QFETCH(int, connectLength);
    QFETCH(int, idAt);
    QFETCH(int, serialAt);
    QFETCH(Bytes, poll);
    QFETCH(int, cardLength);
    QFETCH(int, cardAt);
    QFETCH(int, emptyLength);

    Sim sim;
    QVERIFY(sim.start({"--type", type, "--id", "07", "--serial", "1234ABCD"}, speed_t(speed)));
    const Bytes hello = sim.port.exchange(connect);
    QCOMPARE(int(hello.size()), connectLength);
    QCOMPARE(hello.front(), type == "B" ? Frames::STX : Frames::LF);
    QVERIFY(wellFormed(hello));
    QCOMPARE(chars(hello, idAt, 2), QByteArray("07"));
    QCOMPARE(chars(hello, serialAt, 8), QByteArray("1234ABCD"));

    const Bytes empty = sim.port.exchange(poll);
    QCOMPARE(int(empty.size()), emptyLength);
    QVERIFY(wellFormed(empty));

    QVERIFY(sim.ok("card 1A2B3C4D"));
    const Bytes card = sim.port.exchange(poll);
    QCOMPARE(int(card.size()), cardLength);
    QVERIFY(wellFormed(card));
    QCOMPARE(chars(card, cardAt, 8), QByteArray("1A2B3C4D"));
    QCOMPARE(sim.port.exchange(poll), card);  // it stays until removed
    QVERIFY(sim.ok("remove"));
    QCOMPARE(sim.port.exchange(poll), empty);
}

void TestReaderSim::typeBCardsAndMode()
{
    Sim sim;
    QVERIFY(sim.start({"--type", "B", "--id", "07", "--mode", "3"}, B115200));

    // The two digits ahead of the card count its bytes.
    QVERIFY(sim.ok("card 0123456789ABCDEF"));
    Bytes reply = sim.port.exchange(soh("07C"));
    QCOMPARE(reply.size(), std::size_t(25));
    QVERIFY(wellFormed(reply));
    QCOMPARE(chars(reply, 5, 18), QByteArray("080123456789ABCDEF"));
    QVERIFY(sim.ok("card 123456789"));
    reply = sim.port.exchange(soh("07C"));
    QCOMPARE(reply.size(), std::size_t(18));
    QCOMPARE(chars(reply, 5, 11), QByteArray("04123456789"));

    // The mode: reported, set to 0, then reported as 0.
    const std::pair<const char*, const char*> steps[] = {{"07A", "3"}, {"07A0", "0"}, {"07A", "0"}};
    for (const auto& [request, mode] : steps) {
        reply = sim.port.exchange(soh(request));
        QCOMPARE(reply.size(), std::size_t(8));
        QVERIFY(wellFormed(reply));
        QCOMPARE(chars(reply, 5, 1), QByteArray(mode));
    }
}

void TestReaderSim::typeFFrames()
{
    Sim sim;
    QVERIFY(sim.start({"--type", "F", "--id", "25"}));
    QCOMPARE(sim.port.exchange(binary(Wake)), binary({0, 0, 0, 0, 1}));
    QCOMPARE(sim.port.exchange(binary(Identity)), binary({0, 0, 0, 0, 1, 0x25}));
    QVERIFY(sim.ok("id 1A"));
    QCOMPARE(sim.port.exchange(binary(Identity)), binary({0, 0, 0, 0, 1, 0x1A}));
    QCOMPARE(sim.port.exchange(binary(Poll)), binary({0, 0, 0, 0, 0}));

    // A card: its byte count, then its bytes.
    QVERIFY(sim.ok("card 1A2B3C4D"));
    QCOMPARE(sim.port.exchange(binary(Poll)), binary({0, 0, 0, 0, 1, 4, 0x1A, 0x2B, 0x3C, 0x4D}));
    QVERIFY(sim.ok("card A1B2C3"));
    QCOMPARE(sim.port.exchange(binary(Poll)).size(), std::size_t(13));

    QVERIFY(sim.ok("status0 on"));
    QCOMPARE(sim.port.exchange(binary(Identity)), binary({0, 0, 0, 0, 0, 0x1A}));
    QVERIFY(sim.ok("status0 off"));
    QVERIFY(sim.ok("badsum on"));
    Bytes bad = sim.port.exchange(binary(Identity));
    QCOMPARE(bad.size(), std::size_t(10));
    QVERIFY(!wellFormed(bad));
    const Bytes good = binary({0, 0, 0, 0, 1, 0x1A});
    QCOMPARE(Bytes(bad.begin(), bad.end() - 1), Bytes(good.begin(), good.end() - 1));

    // Neither an unknown binary request nor an ASCII one is answered.
    sim.port.send(binary({0, 0, 0, 0x42}));
    sim.port.send(tab("A25B"));
    QVERIFY(sim.port.collect().empty());
}

void TestReaderSim::addressingAndBaud()
{
    Sim sim;
    QVERIFY(sim.start({"--type", "A", "--id", "07"}));
    // The broadcast ID is answered with the reader's own ID.
    const Bytes broadcast = sim.port.exchange(tab("A00B"));
    QCOMPARE(broadcast.size(), std::size_t(16));
    QCOMPARE(chars(broadcast, 3, 2), QByteArray("07"));

    Bytes badChecksum = tab("A07B");
    badChecksum[5] ^= 0x01;
    // 00 addresses only the connect; a poll needs the reader's own ID.
    for (const Bytes& request : {tab("A08B"), tab("H07B"), soh("07S"), tab("A07X"), tab("A00F"), badChecksum}) {
        sim.port.send(request);
        QVERIFY2(sim.port.collect().empty(), hex(request).constData());
    }

    // At another rate it is silent until set to that rate.
    QVERIFY(sim.port.setSpeed(B9600));
    sim.port.send(tab("A07B"));
    QVERIFY(sim.port.collect().empty());
    QVERIFY(sim.ok("baud 9600"));
    QCOMPARE(sim.port.exchange(tab("A07B")).size(), std::size_t(16));

    // Another type takes that type's commands; the rate set by `baud` stays.
    QVERIFY(sim.ok("type C"));
    sim.port.send(tab("A07B"));
    QVERIFY(sim.port.collect().empty());
    QCOMPARE(chars(sim.port.exchange(tab("H07B")), 1, 5), QByteArray("\nH07B"));

    // Type B's own rate is 115200.
    Sim typeB;
    QVERIFY(typeB.start({"--type", "B", "--id", "07"}));
    typeB.port.send(soh("07S"));
    QVERIFY(typeB.port.collect().empty());
    QVERIFY(typeB.port.setSpeed(B115200));
    QCOMPARE(typeB.port.exchange(soh("07S")).size(), std::size_t(15));
    // Type B answers no address but its own.
    for (const char* request : {"00S", "00C", "01S"}) {
        typeB.port.send(soh(request));
        QVERIFY2(typeB.port.collect().empty(), request);
    }
}

void TestReaderSim::replyFaults()
{
    Sim sim;
    QVERIFY(sim.start({"--type", "C", "--id", "07", "--serial", "12345678"}));
    const Bytes good = sim.port.exchange(tab("H07B"));
    QCOMPARE(good, Frames::AsciiFrame(Frames::LF, "H07B12345678"));
    const QByteArray digits = chars(good, 14, 2);
    QVERIFY(digits != digits.toLower());  // a letter among them, so lower case shows

    QVERIFY(sim.ok("badsum on"));
    Bytes reply = sim.port.exchange(tab("H07B"));
    QCOMPARE(reply.size(), good.size());
    QVERIFY(!wellFormed(reply));
    QCOMPARE(chars(reply, 1, 13), chars(good, 1, 13));
    QVERIFY(sim.ok("badsum off"));

    QVERIFY(sim.ok("lowercase on"));
    reply = sim.port.exchange(tab("H07B"));
    QCOMPARE(chars(reply, 1, 13) + chars(reply, 14, 3), chars(good, 1, 13) + digits.toLower() + "\r");
    QVERIFY(sim.ok("lowercase off"));

    QVERIFY(sim.ok("noise on"));
    reply = sim.port.exchange(tab("H07B"));
    QCOMPARE(chars(reply, 1, 2), QByteArray("AB"));
    QCOMPARE(Bytes(reply.begin() + 2, reply.end()), good);
    QVERIFY(sim.ok("noise off"));

    // A flood takes the place of one reply; none of its bytes starts a frame.
    QVERIFY(sim.ok("flood 3000"));
    sim.port.send(tab("H07B"));
    reply = sim.port.collect(1000, 200);
    QCOMPARE(reply.size(), std::size_t(3000));
    for (std::uint8_t start : {Frames::STX, Frames::LF, Frames::BIN})
        QVERIFY(std::find(reply.begin(), reply.end(), start) == reply.end());
    QCOMPARE(sim.port.exchange(tab("H07B")), good);

    QVERIFY(sim.ok("silent on"));
    sim.port.send(tab("H07B"));
    QVERIFY(sim.port.collect().empty());
    QVERIFY(sim.ok("silent off"));
    QCOMPARE(sim.port.exchange(tab("H07B")), good);
}

void TestReaderSim::splitAndNoisyRequests()
{
    Sim sim;
    QVERIFY(sim.start({"--type", "A", "--id", "07"}));
    const Bytes hello = sim.port.exchange(tab("A07B"));
    QCOMPARE(hello.size(), std::size_t(16));
    for (std::uint8_t byte : tab("A07B")) {
        sim.port.send({byte});
        QTest::qSleep(5);
    }
    QCOMPARE(sim.port.collect(), hello);

    // Junk, a request cut short by the next one, and two requests in one write.
    Bytes stream{'x', 0x00, Frames::CR, 0xFF, Frames::TAB, 'A', '0'};
    for (const Bytes& request : {tab("A07B"), tab("A07F")})
        stream.insert(stream.end(), request.begin(), request.end());
    sim.port.send(stream);
    Bytes expected = hello;
    const Bytes empty = Frames::AsciiFrame(Frames::LF, "A07F0");
    expected.insert(expected.end(), empty.begin(), empty.end());
    QCOMPARE(sim.port.collect(), expected);

    QVERIFY(sim.ok("type F"));
    sim.port.send({0x13, 0x37});
    for (std::uint8_t byte : binary(Wake)) {
        sim.port.send({byte});
        QTest::qSleep(5);
    }
    QCOMPARE(sim.port.collect(), binary({0, 0, 0, 0, 1}));
}

void TestReaderSim::cardSequences()
{
    Sim sim;
    QVERIFY(
        sim.start({"--type", "A", "--id", "07", "--cards", "AAAA0001,AAAA0002", "--period", "150", "--gap", "100"}));

    // Polls for `ms`; one entry per change of the card seen.
    auto watch = [&](int ms) {
        QList<QByteArray> seen;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            const QByteArray card = typeACard(sim.port.exchange(tab("A07F")));
            if (seen.isEmpty() || seen.last() != card)
                seen << card;
            QTest::qSleep(10);
        }
        return seen;
    };

    // The list starts with the first poll and leaves the reader empty.
    QCOMPARE(watch(700), (QList<QByteArray>{"AAAA0001", "", "AAAA0002", ""}));
    QVERIFY(sim.ok("repeat on"));
    QVERIFY(sim.ok("cards 11111111,22222222"));
    QCOMPARE(watch(650).mid(0, 5), (QList<QByteArray>{"11111111", "", "22222222", "", "11111111"}));

    // A single card replaces the list and stays.
    QVERIFY(sim.ok("card 33333333"));
    QCOMPARE(watch(400), QList<QByteArray>{"33333333"});
    QVERIFY(sim.ok("remove"));
    QCOMPARE(typeACard(sim.port.exchange(tab("A07F"))), QByteArray(""));
}

void TestReaderSim::hangupAndReturn()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("reader");
    QFile::link("/nonexistent", link);  // an old link is replaced
    Sim sim;
    QVERIFY(sim.start({"--type", "A", "--id", "07", "--link", link}, B0));
    QCOMPARE(QFile::symLinkTarget(link), sim.path);
    QVERIFY(sim.port.open(link, B19200));
    QCOMPARE(sim.port.exchange(tab("A07B")).size(), std::size_t(16));

    // The port vanishes under the program, and so does the link.
    QVERIFY(sim.ok("hangup"));
    pollfd fds{sim.port.fd, POLLIN, 0};
    QCOMPARE(::poll(&fds, 1, 1000), 1);
    QVERIFY(fds.revents & POLLHUP);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(sim.command("hangup").startsWith("error:"));

    // `return` prints the new port's path, then ok; the link follows it.
    sim.process.write("return\n");
    const QString second = QString::fromLocal8Bit(sim.line());
    QVERIFY2(second.startsWith("/dev/"), sim.state());
    QCOMPARE(sim.line(), QByteArray("ok"));
    QCOMPARE(QFile::symLinkTarget(link), second);
    QVERIFY(sim.port.open(link, B19200));
    QCOMPARE(sim.port.exchange(tab("A07B")).size(), std::size_t(16));

    // `hangup MS` comes back by itself.
    QVERIFY(sim.ok("hangup 300"));
    const auto hungUp = Clock::now();
    const QString third = QString::fromLocal8Bit(sim.line(3000));
    QVERIFY2(third.startsWith("/dev/"), sim.state());
    QVERIFY(Clock::now() - hungUp >= std::chrono::milliseconds(250));
    QCOMPARE(QFile::symLinkTarget(link), third);
    QVERIFY(sim.port.open(link, B19200));
    QCOMPARE(sim.port.exchange(tab("A07B")).size(), std::size_t(16));

    sim.process.terminate();
    QVERIFY(sim.exitedCleanly());
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestReaderSim::startAndExit()
{
    const QList<QStringList> badOptions{{"--type", "G"},     {"--id", "7"},        {"--serial", "1234567"},
                                        {"--baud", "12345"}, {"--cards", "12,XY"}, {"--period"},
                                        {"--bogus"}};
    for (const QStringList& bad : badOptions) {
        Sim sim;
        QVERIFY2(!sim.start(bad, B0), qPrintable(bad.join(' ')));
        QVERIFY(sim.process.state() == QProcess::NotRunning || sim.process.waitForFinished(2000));
        QCOMPARE(sim.process.exitCode(), 2);
    }

    // The end of piped input ends it, but not with --no-stdin, nor when the
    // input is /dev/null (a job started with & from a script).
    Sim piped, ignoring, fromNull;
    fromNull.process.setStandardInputFile(QProcess::nullDevice());
    QVERIFY(piped.start({}, B0));
    QVERIFY(ignoring.start({"--no-stdin"}, B0));
    QVERIFY(fromNull.start({}, B0));
    piped.process.closeWriteChannel();
    ignoring.process.closeWriteChannel();
    QVERIFY(piped.exitedCleanly());
    QVERIFY(!ignoring.process.waitForFinished(300));
    QCOMPARE(fromNull.process.state(), QProcess::Running);
    ::kill(pid_t(ignoring.process.processId()), SIGINT);
    QVERIFY(ignoring.exitedCleanly());
}

void TestReaderSim::commandsStatsAndIdleCpu()
{
    Sim sim;
    QVERIFY(sim.start({"--type", "A", "--id", "07"}));
    for (const char* bad : {"bogus", "card XYZ", "card", "flood 0", "type G", "id 7", "badsum maybe", "baud 1234",
                            "remove now", "return"})
        QVERIFY2(sim.command(bad).startsWith("error:"), bad);

    QCOMPARE(sim.port.exchange(tab("A07B")).size(), std::size_t(16));
    QCOMPARE(sim.port.exchange(tab("A07F")).size(), std::size_t(9));
    sim.port.send(tab("A08F"));
    QVERIFY(sim.port.collect().empty());
    QCOMPARE(sim.command("stats"), QByteArray("requests 3 replies 2 ignored 1"));

    // No CPU while idle, with the port closed by the program or hung up.
    sim.port.close();
    qint64 before = sim.cpuTicks();
    QTest::qSleep(300);
    QVERIFY2(sim.cpuTicks() - before < 5, "port closed");
    QVERIFY(sim.ok("hangup"));
    before = sim.cpuTicks();
    QTest::qSleep(300);
    QVERIFY2(sim.cpuTicks() - before < 5, "hung up");
    QVERIFY(sim.ok("quit"));
    QVERIFY(sim.exitedCleanly());
}

QTEST_GUILESS_MAIN(TestReaderSim)
#include "tst_readersim.moc"
