// A D-Bus connection of our own to an input method's bus (the session bus
// for fcitx5, IBus's own bus), on the window's thread.
//
// libdbus rather than Qt D-Bus: besides plain calls it has to read messages
// that are not addressed to us (an input method's key events and their
// answers, its composition signals), which Qt D-Bus would answer with an
// error in the real addressee's place. Messages go to the handler as they
// come; nothing we are not asked for is ever answered.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

struct DBusConnection;
struct DBusMessage;
class QSocketNotifier;

// The parts of a message that the input methods look at.
struct BusMessage {
    enum Type { Call, Return, Error, Signal };
    Type type = Signal;
    QByteArray sender;
    QByteArray destination;
    QByteArray path;
    QByteArray interface;
    QByteArray member;
    quint32 serial = 0;
    quint32 replySerial = 0;
    QVariantList arguments;  // structs as lists, dictionaries as maps
};

class BusConnection : public QObject {
    Q_OBJECT
public:
    // The session bus when `address` is empty. Null when it cannot connect.
    static std::unique_ptr<BusConnection> open(const QByteArray& address = {});
    ~BusConnection() override;

    bool connected() const;
    // A call answered within `timeoutMs`; its arguments, or nothing (with
    // `ok` false) on an error, a time-out or a lost connection.
    QVariantList call(const char* destination, const char* path, const char* interface, const char* method,
                      const QVariantList& arguments = {}, bool* ok = nullptr, int timeoutMs = 1000);
    bool nameHasOwner(const char* name);
    // Asks the bus for copies of the messages that match `rule`.
    bool addMatch(const QByteArray& rule);

    // Every message that arrives, ours or copied to us.
    std::function<void(const BusMessage&)> onMessage;

private:
    explicit BusConnection(DBusConnection* connection);
    void readIncoming();
    static BusMessage decode(DBusMessage* message);

    DBusConnection* connection_;
    QSocketNotifier* notifier_ = nullptr;
};
