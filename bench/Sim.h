// The simulated reader as a child process of a benchmark: its port, and its
// commands answered line by line.
#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

class Sim {
public:
    // `program` empty: the tallyport-readersim of this build.
    explicit Sim(const QStringList& arguments, const QString& program = QString())
    {
        process.start(program.isEmpty() ? QCoreApplication::applicationDirPath() + "/../tallyport-readersim" : program,
                      arguments);
        process.waitForStarted();
        path = line();
    }
    ~Sim()
    {
        process.terminate();
        process.waitForFinished();
    }
    QString line()
    {
        while (!process.canReadLine() && process.waitForReadyRead(5000)) { }
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    QString command(const QString& text)
    {
        process.write(text.toUtf8() + '\n');
        process.waitForBytesWritten();
        return line();
    }
    QProcess process;
    QString path;
};
