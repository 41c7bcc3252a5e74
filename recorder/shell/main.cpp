// QuillmarLiteModbus: the recorder's program entry.

#include "quillmarmain.h"

#include <QApplication>
#include <QPixmap>
#include <QSplashScreen>
#include <QThread>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuillmarLiteModbus"));

    QSplashScreen splash(QPixmap(QStringLiteral(":/img/LoadingLite.png")));
    splash.show();
    splash.showMessage(QStringLiteral("[V1.9] Loading modules..."),
                       Qt::AlignBottom | Qt::AlignHCenter, Qt::darkGray);
    QApplication::processEvents();

    auto window = std::make_unique<QuillmarMain>();
    // The database of an auto-loaded project could not be opened: the program ends unshown.
    if (window->fatalError())
        return 0;
    QApplication::processEvents();
    QThread::msleep(2500);

    window->show();
    splash.finish(window.get());
    const int result = QApplication::exec();
    window.reset();
    return result;
}
