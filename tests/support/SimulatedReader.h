// Starts tallyport-readersim for a test and talks to it over its standard
// input and output.
#pragma once

#include <QProcess>
#include <QtTest>

class SimulatedReader {
public:
    explicit SimulatedReader(const QStringList& arguments)
    {
        const QString program = qEnvironmentVariable("TALLYPORT_BUILD") + QStringLiteral("/tallyport-readersim");
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(5000))
            qFatal("cannot start %s", qPrintable(program));
        path_ = readLine();
    }

    ~SimulatedReader()
    {
        process_.closeWriteChannel();
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }

    QString path() const { return path_; }

    // Sends one control command and returns the simulator's answer line.
    QString command(const QString& line)
    {
        process_.write(line.toUtf8() + '\n');
        process_.waitForBytesWritten(1000);
        return readLine();
    }

    QString readLine(int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!process_.canReadLine() && clock.elapsed() < timeoutMs)
            process_.waitForReadyRead(50);
        return QString::fromUtf8(process_.readLine()).trimmed();
    }

    QProcess& process() { return process_; }

private:
    QProcess process_;
    QString path_;
};
