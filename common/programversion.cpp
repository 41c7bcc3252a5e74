#include "programversion.h"

QString programVersion()
{
    return QStringLiteral(QUILLMAR_VERSION);
}
