#include "eventfilter.h"

#include <QRegularExpression>
#include <QTest>

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <wayland-server.h>

// The program's definitions of libwayland's event functions, linked into this test as into the
// compositor: an event newer than the object it is sent to never reaches the client (a client
// without a handler for it would abort), and every other event arrives with its arguments.
class tst_EventFilter : public QObject
{
    Q_OBJECT

private slots:
    void newerEventsDropped_data();
    void newerEventsDropped();
};

namespace {

struct Message
{
    uint32_t object;
    uint32_t opcode;
    QByteArray arguments;
};

// The messages the client end of the connection has received.
QList<Message> received(int fd)
{
    QByteArray data;
    char chunk[4096];
    ssize_t got;
    while ((got = ::recv(fd, chunk, sizeof(chunk), MSG_DONTWAIT)) > 0)
        data.append(chunk, int(got));
    QList<Message> messages;
    for (int at = 0; at + 8 <= data.size();) {
        uint32_t header[2];
        std::memcpy(header, data.constData() + at, sizeof(header));
        const int size = int(header[1] >> 16);
        if (size < 8 || at + size > data.size())
            break;
        messages << Message { header[0], header[1] & 0xffff, data.mid(at + 8, size - 8) };
        at += size;
    }
    return messages;
}

} // namespace

void tst_EventFilter::newerEventsDropped_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("call");

    for (const char *call : { "post", "queue", "array" }) {
        QTest::addRow("seat of version 1, %s", call) << 1 << QString::fromLatin1(call);
        QTest::addRow("seat of version 2, %s", call) << 2 << QString::fromLatin1(call);
    }
}

void tst_EventFilter::newerEventsDropped()
{
    QFETCH(int, version);
    QFETCH(QString, call);

    wl_display *display = wl_display_create();
    QVERIFY(display);
    int fds[2];
    QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    wl_client *client = wl_client_create(display, fds[0]);
    QVERIFY(client);
    wl_resource *seat = wl_resource_create(client, &wl_seat_interface, version, 2);
    QVERIFY(seat);

    if (version < 2)
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression(QStringLiteral(
                                 "^Not sending wl_seat\\.name \\(version 2\\) to client \\d+, "
                                 "which bound version 1")));
    const uint32_t capabilities = WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD;
    if (call == QLatin1String("post")) {
        wl_seat_send_capabilities(seat, capabilities);
        wl_seat_send_name(seat, "seat0");
    } else if (call == QLatin1String("queue")) {
        wl_resource_queue_event(seat, WL_SEAT_CAPABILITIES, capabilities);
        wl_resource_queue_event(seat, WL_SEAT_NAME, "seat0");
        // Queued events leave with the next posted one.
        wl_resource_post_event(seat, WL_SEAT_CAPABILITIES, capabilities);
    } else {
        wl_argument arguments[1];
        arguments[0].u = capabilities;
        wl_resource_post_event_array(seat, WL_SEAT_CAPABILITIES, arguments);
        arguments[0].s = "seat0";
        wl_resource_post_event_array(seat, WL_SEAT_NAME, arguments);
    }
    wl_client_flush(client);

    QList<uint32_t> expected { WL_SEAT_CAPABILITIES };
    if (version >= 2)
        expected << WL_SEAT_NAME;
    if (call == QLatin1String("queue"))
        expected << WL_SEAT_CAPABILITIES;
    const QList<Message> messages = received(fds[1]);
    QList<uint32_t> opcodes;
    for (const Message &message : messages) {
        QCOMPARE(message.object, 2u);
        opcodes << message.opcode;
        if (message.opcode == WL_SEAT_CAPABILITIES) {
            uint32_t sent = 0;
            QCOMPARE(message.arguments.size(), int(sizeof(sent)));
            std::memcpy(&sent, message.arguments.constData(), sizeof(sent));
            QCOMPARE(sent, capabilities);
        } else {
            // A string: its length with the terminating zero, then the text padded to 4 bytes.
            QVERIFY(message.arguments.mid(4).startsWith(QByteArray("seat0\0", 6)));
        }
    }
    QCOMPARE(opcodes, expected);

    wl_client_destroy(client);
    ::close(fds[1]);
    wl_display_destroy(display);
}

QTEST_GUILESS_MAIN(tst_EventFilter)
#include "tst_eventfilter.moc"
