// A plain Wayland window for the desktop tests that writes down every
// character it receives as it comes (Return as "\r"), and to FILE.times how
// long each card took from its first key to its Return (the test's own
// focus marks, "z", are no part of a card); to FILE.focus "1" each time it
// gains the keyboard focus and "0" each time it loses it.
//
//   desktop_keysink FILE
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QRasterWindow>

class KeySink : public QRasterWindow {
public:
    explicit KeySink(const QString& path) : out_(path), times_(path + ".times"), focus_(path + ".focus")
    {
        for (QFile* file : {&out_, &times_, &focus_})
            file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        connect(this, &QWindow::activeChanged, this, [this] { focus_.write(isActive() ? "1" : "0"); });
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const QByteArray text = event->key() == Qt::Key_Return ? QByteArray("\r") : event->text().toUtf8();
        if (text.isEmpty())
            return;  // a modifier on its own
        if (!card_.isValid() && text != "z")
            card_.start();
        out_.write(text);
        if (text == "\r" && card_.isValid()) {
            times_.write(QByteArray::number(card_.nsecsElapsed() / 1e6, 'f', 1) + '\n');
            card_.invalidate();
        }
    }

private:
    QFile out_;
    QFile times_;
    QFile focus_;
    QElapsedTimer card_;
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return 2;
    KeySink sink(QString::fromLocal8Bit(argv[1]));
    sink.resize(400, 300);
    sink.show();
    return app.exec();
}
