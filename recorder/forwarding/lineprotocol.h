#pragma once

#include <QByteArray>
#include <QString>

struct ForwardSample;
struct ForwardAlarmChange;
struct ForwardAuditHead;
struct ForwardAlarmTest;

// The InfluxDB 1.x line protocol for the records, seconds precision:
//   sample,channel=<1|2>,serial=<serial> channel_name="<name>",node="<node name>",
//          unit="<unit>",value=<float> <time>
//   alarm,channel=<1|2>,event_id=<id>,kind=<kind>,serial=<serial> event=<id>i,change=<mark>i,...
//         <start>
// Serial and channel are the tags, the identity of a series: names and units are fields, so a
// rename never splits a series, and a sample written twice is one point. An alarm event is one
// point at its start; each later change writes the point again with the fields it has by then.
// The event's id is a tag too, so that two events of one node starting in the same second stay
// two points.
//   audit_head sequence=<n>i,hash="<64 hex digits>" <time of the entry>
// The audit trail's head, one series: two heads of one second are one point, the later one,
// which covers the earlier.
//   alarm_test,test=true[,serial=<serial>] test_id=<id>i,node="<name>",project="<name>",
//              user="<who>" <time of the test>
// An alarm test: a measurement of its own with the tag test=true, so that no query of alarms
// or samples ever counts it; no serial tag for a test of all nodes.
class LineProtocol
{
public:
    static QString sampleMeasurement() { return QStringLiteral("sample"); }
    static QString alarmMeasurement() { return QStringLiteral("alarm"); }
    static QString auditHeadMeasurement() { return QStringLiteral("audit_head"); }
    static QString alarmTestMeasurement() { return QStringLiteral("alarm_test"); }

    // Commas and spaces escaped.
    static QString measurement(const QString& name);
    // A serial number as its tag value, one-to-one and never empty: '%', control characters
    // (U+0000-U+001F, U+007F) and a backslash InfluxDB cannot read as it is (see key()) are
    // written as %XX; an empty serial as a lone "%", which no other serial gives; then escaped
    // as key() does.
    static QString serialTag(const QString& serial);
    // Tag keys, tag values and field keys: commas, '=' and spaces escaped. InfluxDB 1.x keeps a
    // backslash before any other character as it is, but cannot read one that ends the text or
    // stands before one of those three or another backslash, nor a line break: such a backslash
    // is written as U+29F5 (a reverse solidus that looks the same), a line break as a space.
    static QString key(const QString& text);
    // In double quotes, with '"' and '\' escaped; a line break (LF, CR or CR LF), which the 1.x
    // line protocol cannot carry in a field, as a space.
    static QString stringField(const QString& text);
    // The shortest text that reads back as the same double.
    static QByteArray number(double value);

    // One line, without the line feed.
    static QByteArray sampleLine(const ForwardSample& sample);
    static QByteArray alarmLine(const ForwardAlarmChange& change);
    static QByteArray auditHeadLine(const ForwardAuditHead& head);
    static QByteArray alarmTestLine(const ForwardAlarmTest& test);
};
