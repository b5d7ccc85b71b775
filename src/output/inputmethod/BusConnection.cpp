#include "output/inputmethod/BusConnection.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <dbus/dbus.h>

namespace {

QVariant readValue(DBusMessageIter* it);

QVariant readContainer(DBusMessageIter* it, bool dictionary)
{
    DBusMessageIter sub;
    dbus_message_iter_recurse(it, &sub);
    QVariantList list;
    QVariantMap map;
    while (dbus_message_iter_get_arg_type(&sub) != DBUS_TYPE_INVALID) {
        if (dictionary) {
            DBusMessageIter entry;
            dbus_message_iter_recurse(&sub, &entry);
            const QString key = readValue(&entry).toString();
            dbus_message_iter_next(&entry);
            map.insert(key, readValue(&entry));
        } else {
            list << readValue(&sub);
        }
        dbus_message_iter_next(&sub);
    }
    return dictionary ? QVariant(map) : QVariant(list);
}

QVariant readValue(DBusMessageIter* it)
{
    DBusBasicValue v{};
    const int type = dbus_message_iter_get_arg_type(it);
    switch (type) {
    case DBUS_TYPE_STRING:
    case DBUS_TYPE_OBJECT_PATH:
    case DBUS_TYPE_SIGNATURE: dbus_message_iter_get_basic(it, &v); return QString::fromUtf8(v.str);
    case DBUS_TYPE_BOOLEAN: dbus_message_iter_get_basic(it, &v); return bool(v.bool_val);
    case DBUS_TYPE_BYTE: dbus_message_iter_get_basic(it, &v); return uint(v.byt);
    case DBUS_TYPE_INT16: dbus_message_iter_get_basic(it, &v); return int(v.i16);
    case DBUS_TYPE_UINT16: dbus_message_iter_get_basic(it, &v); return uint(v.u16);
    case DBUS_TYPE_INT32: dbus_message_iter_get_basic(it, &v); return int(v.i32);
    case DBUS_TYPE_UINT32: dbus_message_iter_get_basic(it, &v); return uint(v.u32);
    case DBUS_TYPE_INT64: dbus_message_iter_get_basic(it, &v); return qlonglong(v.i64);
    case DBUS_TYPE_UINT64: dbus_message_iter_get_basic(it, &v); return qulonglong(v.u64);
    case DBUS_TYPE_DOUBLE: dbus_message_iter_get_basic(it, &v); return v.dbl;
    case DBUS_TYPE_VARIANT: {
        DBusMessageIter sub;
        dbus_message_iter_recurse(it, &sub);
        return readValue(&sub);
    }
    case DBUS_TYPE_STRUCT:
    case DBUS_TYPE_DICT_ENTRY: return readContainer(it, false);
    case DBUS_TYPE_ARRAY: return readContainer(it, dbus_message_iter_get_element_type(it) == DBUS_TYPE_DICT_ENTRY);
    default: return {};  // file descriptors and what the input methods never send
    }
}

bool appendArguments(DBusMessage* message, const QVariantList& arguments)
{
    DBusMessageIter it;
    dbus_message_iter_init_append(message, &it);
    for (const QVariant& argument : arguments) {
        bool ok = false;
        switch (argument.typeId()) {
        case QMetaType::QString: {
            const QByteArray utf8 = argument.toString().toUtf8();
            const char* s = utf8.constData();
            ok = dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &s);
            break;
        }
        case QMetaType::Bool: {
            const dbus_bool_t b = argument.toBool();
            ok = dbus_message_iter_append_basic(&it, DBUS_TYPE_BOOLEAN, &b);
            break;
        }
        case QMetaType::Int: {
            const dbus_int32_t i = argument.toInt();
            ok = dbus_message_iter_append_basic(&it, DBUS_TYPE_INT32, &i);
            break;
        }
        case QMetaType::UInt: {
            const dbus_uint32_t u = argument.toUInt();
            ok = dbus_message_iter_append_basic(&it, DBUS_TYPE_UINT32, &u);
            break;
        }
        default: break;
        }
        if (!ok)
            return false;
    }
    return true;
}

QByteArray bytes(const char* s)
{
    return s ? QByteArray(s) : QByteArray();
}

// The session bus's address: the environment's, or the usual socket in
// the runtime folder. Never an X11 autolaunch of a bus of our own.
QByteArray sessionAddress()
{
    QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty()) {
        const QString socket = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).filePath(QStringLiteral("bus"));
        if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFileInfo(socket).exists())
            address = "unix:path=" + QFile::encodeName(socket);
    }
    return address;
}

}  // namespace

std::unique_ptr<BusConnection> BusConnection::open(const QByteArray& address)
{
    const QByteArray where = address.isEmpty() ? sessionAddress() : address;
    if (where.isEmpty())
        return nullptr;
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_connection_open_private(where.constData(), &error);
    if (connection && !dbus_bus_register(connection, &error)) {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        connection = nullptr;
    }
    dbus_error_free(&error);
    if (!connection)
        return nullptr;
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    return std::unique_ptr<BusConnection>(new BusConnection(connection));
}

BusConnection::BusConnection(DBusConnection* connection) : connection_(connection)
{
    int fd = -1;
    if (dbus_connection_get_unix_fd(connection_, &fd)) {
        notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &BusConnection::readIncoming);
    }
}

BusConnection::~BusConnection()
{
    delete notifier_;
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
}

bool BusConnection::connected() const
{
    return dbus_connection_get_is_connected(connection_);
}

QVariantList BusConnection::call(const char* destination, const char* path, const char* interface, const char* method,
                                 const QVariantList& arguments, bool* ok, int timeoutMs)
{
    if (ok)
        *ok = false;
    DBusMessage* message = dbus_message_new_method_call(destination, path, interface, method);
    if (!message)
        return {};
    QVariantList result;
    if (appendArguments(message, arguments) && connected()) {
        DBusError error;
        dbus_error_init(&error);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(connection_, message, timeoutMs, &error);
        if (reply) {
            result = decode(reply).arguments;
            if (ok)
                *ok = true;
            dbus_message_unref(reply);
        }
        dbus_error_free(&error);
    }
    dbus_message_unref(message);
    // Messages read while waiting for the answer sit in the queue now, and
    // the socket may have nothing more to say: hand them on soon.
    QMetaObject::invokeMethod(this, &BusConnection::readIncoming, Qt::QueuedConnection);
    return result;
}

bool BusConnection::nameHasOwner(const char* name)
{
    bool ok = false;
    const QVariantList reply
        = call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "NameHasOwner", {QString::fromUtf8(name)}, &ok);
    return ok && !reply.isEmpty() && reply.first().toBool();
}

bool BusConnection::addMatch(const QByteArray& rule)
{
    bool ok = false;
    call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "AddMatch", {QString::fromUtf8(rule)}, &ok);
    return ok;
}

void BusConnection::readIncoming()
{
    if (!connected()) {
        if (notifier_)
            notifier_->setEnabled(false);  // a lost bus says nothing more
        return;
    }
    dbus_connection_read_write(connection_, 0);
    // Popped, not dispatched: libdbus would answer a copied call with an
    // error of its own.
    while (DBusMessage* message = dbus_connection_pop_message(connection_)) {
        const BusMessage decoded = decode(message);
        dbus_message_unref(message);
        if (onMessage)
            onMessage(decoded);
    }
}

BusMessage BusConnection::decode(DBusMessage* message)
{
    BusMessage out;
    switch (dbus_message_get_type(message)) {
    case DBUS_MESSAGE_TYPE_METHOD_CALL: out.type = BusMessage::Call; break;
    case DBUS_MESSAGE_TYPE_METHOD_RETURN: out.type = BusMessage::Return; break;
    case DBUS_MESSAGE_TYPE_ERROR: out.type = BusMessage::Error; break;
    default: out.type = BusMessage::Signal; break;
    }
    out.sender = bytes(dbus_message_get_sender(message));
    out.destination = bytes(dbus_message_get_destination(message));
    out.path = bytes(dbus_message_get_path(message));
    out.interface = bytes(dbus_message_get_interface(message));
    out.member = bytes(dbus_message_get_member(message));
    out.serial = dbus_message_get_serial(message);
    out.replySerial = dbus_message_get_reply_serial(message);
    DBusMessageIter it;
    if (dbus_message_iter_init(message, &it)) {
        do {
            out.arguments << readValue(&it);
        } while (dbus_message_iter_next(&it));
    }
    return out;
}
