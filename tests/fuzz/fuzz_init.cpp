// libFuzzer start-up: traces are dropped, they would only slow the runs down.
#include <QtGlobal>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}
