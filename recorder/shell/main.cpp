// QuillmarLiteModbus: the recorder's program entry.

#include "quillmarmain.h"
#include "userscommand.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QPixmap>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QSplashScreen>
#include <QThread>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may do next to nothing: it writes the signal's number into one end of a
// socket pair, and the event loop reads it from the other end and ends the program in order.
int signalSockets[2] = {-1, -1};

extern "C" void onTerminationSignal(int signal)
{
    const char number = static_cast<char>(signal);
    const ssize_t written = ::write(signalSockets[0], &number, 1);
    static_cast<void>(written);
}

bool watchTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // The users command runs without a window or a display.
    if (argc > 1 && qstrcmp(argv[1], "--users") == 0) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("QuillmarLiteModbus"));
        return UsersCommand::run(QCoreApplication::arguments().mid(2));
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuillmarLiteModbus"));
    // Installed before the window: a signal during the start waits in the socket until the event
    // loop runs.
    const bool watching = watchTerminationSignals();

    QSplashScreen splash(QPixmap(QStringLiteral(":/img/LoadingLite.png")));
    splash.show();
    splash.showMessage(QStringLiteral("[V1.9] Loading modules..."),
                       Qt::AlignBottom | Qt::AlignHCenter, Qt::darkGray);
    QApplication::processEvents();

    auto window = std::make_unique<QuillmarMain>();
    QApplication::processEvents();
    QThread::msleep(2500);

    window->show();
    splash.finish(window.get());

    // Made only now, so that it fires inside the event loop, where the program can end: a
    // signal that came during the start has waited in the socket.
    std::unique_ptr<QSocketNotifier> notifier;
    if (watching) {
        notifier = std::make_unique<QSocketNotifier>(signalSockets[1], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, window.get(), [&] {
            char number = 0;
            if (::read(signalSockets[1], &number, 1) == 1)
                qDebug().noquote() << "signal : " << int(number);
            window->endProgram();
        });
    }
    // A logout ends the recording as a signal does, instead of being refused by a window that
    // will not close while recording.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(),
                     [&](QSessionManager&) { window->endProgram(ProjectAudit::Cause::Logout); });

    const int result = QApplication::exec();
    notifier.reset();
    window.reset();
    return result;
}
