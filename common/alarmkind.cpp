#include "alarmkind.h"

QString alarmKindText(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::High:
        return QStringLiteral("high");
    case AlarmKind::Low:
        return QStringLiteral("low");
    case AlarmKind::NoData:
        return QStringLiteral("no data");
    case AlarmKind::Battery:
        return QStringLiteral("battery");
    }
    return QString();
}

QString alarmEndText(AlarmEnd end)
{
    switch (end) {
    case AlarmEnd::Active:
        return QStringLiteral("active");
    case AlarmEnd::Cleared:
        return QStringLiteral("cleared");
    case AlarmEnd::RecorderStopped:
        return QStringLiteral("recorder stopped");
    case AlarmEnd::NoData:
        return QStringLiteral("no data");
    }
    return QString();
}

bool alarmKindFromText(const QString& text, AlarmKind* kind)
{
    for (AlarmKind k : {AlarmKind::High, AlarmKind::Low, AlarmKind::NoData, AlarmKind::Battery}) {
        if (text == alarmKindText(k)) {
            *kind = k;
            return true;
        }
    }
    *kind = AlarmKind::High;
    return false;
}

bool alarmEndFromText(const QString& text, AlarmEnd* end)
{
    for (AlarmEnd e :
         {AlarmEnd::Active, AlarmEnd::Cleared, AlarmEnd::RecorderStopped, AlarmEnd::NoData}) {
        if (text == alarmEndText(e)) {
            *end = e;
            return true;
        }
    }
    *end = AlarmEnd::Active;
    return false;
}
