// Links every GUI-free module, so that the link itself shows what they bring (see
// CMakeLists.txt beside this file for the check).
#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return 0;
}
