#ifndef VORLANE_TESTS_TUIOSENDER_H
#define VORLANE_TESTS_TUIOSENDER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QString>
#include <QTest>
#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Sends touch points as TUIO 1.1 cursor frames (/tuio/2Dcur in OSC bundles over UDP to the
// local host), as a touch table or a TUIO bridge would. Positions are fractions 0..1 of the
// screen.
class TuioSender
{
public:
    explicit TuioSender(quint16 port)
        : m_socket(::socket(AF_INET, SOCK_DGRAM, 0))
    {
        m_address.sin_family = AF_INET;
        m_address.sin_port = htons(port);
        m_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~TuioSender()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    TuioSender(const TuioSender &) = delete;
    TuioSender &operator=(const TuioSender &) = delete;

    // A free UDP port on the local host, for a receiver started afterwards.
    static quint16 freePort()
    {
        const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        quint16 port = 0;
        if (probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr *>(&address), length) == 0
            && ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (probe >= 0)
            ::close(probe);
        return port;
    }

    // One frame: exactly these cursors (session id -> position) touch the screen; cursors of
    // the previous frame that are missing are lifted.
    bool frame(const QMap<int, QPointF> &cursors)
    {
        QList<QByteArray> sets;
        QByteArray aliveTypes = ",s";
        QByteArray aliveArgs = string("alive");
        for (auto it = cursors.cbegin(); it != cursors.cend(); ++it) {
            aliveTypes += 'i';
            aliveArgs += int32(it.key());
            sets.append(string("/tuio/2Dcur") + string(",sifffff") + string("set") + int32(it.key())
                        + float32(it.value().x()) + float32(it.value().y()) + float32(0)
                        + float32(0) + float32(0));
        }
        QByteArray bundle = string("#bundle");
        bundle += int32(0) + int32(1); // time tag "immediately"
        const auto append
            = [&bundle](const QByteArray &element) { bundle += int32(element.size()) + element; };
        append(string("/tuio/2Dcur") + string(",ss") + string("source") + string("vorlane-test"));
        append(string("/tuio/2Dcur") + string(aliveTypes) + aliveArgs);
        for (const QByteArray &set : sets)
            append(set);
        append(string("/tuio/2Dcur") + string(",si") + string("fseq") + int32(++m_frame));
        return ::sendto(m_socket, bundle.constData(), bundle.size(), 0,
                        reinterpret_cast<const sockaddr *>(&m_address), sizeof(m_address))
            == bundle.size();
    }

    // A short touch at one position, then a pause long enough that the next one makes no
    // double click. Its session ids count from 1000, apart from those a caller gives frame().
    bool tap(const QPointF &position)
    {
        const bool down = frame({ { ++m_tapSession, position } });
        QTest::qWait(50);
        const bool up = frame({});
        QTest::qWait(450);
        return down && up;
    }

private:
    // OSC strings end with a zero byte and are padded with zeros to a multiple of four.
    static QByteArray string(const QByteArray &text)
    {
        QByteArray padded = text;
        padded.append(4 - text.size() % 4, '\0');
        return padded;
    }
    static QByteArray int32(qint32 value)
    {
        QByteArray bytes(4, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    }
    static QByteArray float32(float value)
    {
        QByteArray bytes(4, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    }

    int m_socket;
    sockaddr_in m_address {};
    int m_frame = 0;
    int m_tapSession = 1000;
};

#endif // VORLANE_TESTS_TUIOSENDER_H
