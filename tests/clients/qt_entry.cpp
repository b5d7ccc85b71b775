// A Qt line edit that takes card numbers the way a form does: on Enter its
// text and the keys pressed for it (modifier keys left out) are appended as
// one JSON line to the file named by the first argument, and the field is
// cleared. The window's class is the second argument. The same reports as
// gtk_entry.py.
#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

namespace {

void report(const QString& path, const QJsonObject& record)
{
    QFile out(path);
    if (out.open(QIODevice::Append))
        out.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n');
}

class Entry : public QLineEdit {
public:
    explicit Entry(QString path) : path_(std::move(path))
    {
        connect(this, &QLineEdit::returnPressed, this, [this] {
            report(path_, {{"value", text()}, {"keys", keys_}});
            keys_ = QJsonArray();
            clear();
        });
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const int key = event->key();
        if (key < Qt::Key_Shift || key > Qt::Key_Direction_R) {
            const QString name
                = key == Qt::Key_Return || key == Qt::Key_Enter ? QStringLiteral("Enter") : event->text();
            keys_.append(QJsonObject{{"key", name}, {"code", int(event->nativeScanCode())}});
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    QString path_;
    QJsonArray keys_;
};

}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 3)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    qputenv("RESOURCE_NAME", argv[2]);  // the WM_CLASS instance the tests look for
    QApplication app(argc, argv);
    Entry entry(path);
    entry.setWindowTitle(QStringLiteral("cards"));
    entry.resize(300, 40);
    entry.show();
    QTimer::singleShot(0, [&] { report(path, {{"ready", true}}); });
    return app.exec();
}
