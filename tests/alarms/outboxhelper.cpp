// A recorder's outbox in a process of its own, for tst_notificationoutbox to kill: it opens the
// database given through the writer, puts one start message for each of `count` alarms into the
// outbox for a mail server that is down (nothing listens on `port`), prints "stored" once the
// writer committed them and the first tries failed, and then waits to be killed.
//   usage: outboxhelper DATABASE PORT COUNT

#include "databasewriter.h"
#include "notificationmessage.h"
#include "notificationoutbox.h"
#include "notificationservice.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QUuid>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const QString database = QString::fromLocal8Bit(argv[1]);
    DatabaseWriter writer(database, QUuid::createUuid().toString());
    if (!writer.open())
        return 3;
    NotificationService service;
    NotificationOutbox outbox(&writer, database, &service);
    NotificationTarget target;
    target.name = QStringLiteral("email");
    target.host = QStringLiteral("127.0.0.1");
    target.port = quint16(QByteArray(argv[2]).toUInt());
    target.security = SmtpSecurity::None;
    target.sender = QStringLiteral("recorder@store.example");
    target.recipients = QStringList{QStringLiteral("duty@store.example")};
    outbox.setTarget(target);
    const int count = QByteArray(argv[3]).toInt();
    for (int id = 1; id <= count; ++id) {
        NotificationEvent event;
        event.eventId = id;
        event.projectName = QStringLiteral("Cold store");
        event.nodeName = QStringLiteral("Room ") + QString::number(id);
        event.serial = QString::number(1000 + id);
        event.channelName = QStringLiteral("Temperature");
        event.value = 31.5;
        event.limit = 30;
        event.unit = QStringLiteral("°C");
        event.start = QDateTime::currentDateTime();
        outbox.add(NotificationMessage(event), target.name);
    }
    QObject::connect(&outbox, &NotificationOutbox::stateChanged, &outbox, [&](int failing) {
        if (failing == count && writer.flushAndWait(QDateTime::currentMSecsSinceEpoch())) {
            std::printf("stored\n");
            std::fflush(stdout);
        }
    });
    return QCoreApplication::exec();
}
