#include "valuepattern.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace {

bool parseNumber(const QString& text, double* value)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("nan")) {
        *value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (t == QLatin1String("inf") || t == QLatin1String("+inf")) {
        *value = std::numeric_limits<double>::infinity();
        return true;
    }
    if (t == QLatin1String("-inf")) {
        *value = -std::numeric_limits<double>::infinity();
        return true;
    }
    bool ok = false;
    *value = t.toDouble(&ok);
    return ok;
}

// Parameters of ramp and sine must be finite, or every value they produce would be NaN.
bool parseFinite(const QStringList& parts, double* out, int count)
{
    if (parts.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        if (!parseNumber(parts.at(i), &out[i]) || !std::isfinite(out[i]))
            return false;
    }
    return true;
}

} // namespace

ValuePattern ValuePattern::constant(double value)
{
    ValuePattern p;
    p.m_a = value;
    return p;
}

bool ValuePattern::parse(const QString& text, ValuePattern* pattern, QString* error)
{
    const QString t = text.trimmed();
    const int colon = t.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        double v = 0;
        if (!parseNumber(t, &v)) {
            *error = QStringLiteral("not a number: '%1'").arg(t);
            return false;
        }
        *pattern = constant(v);
        return true;
    }
    const QString name = t.left(colon).toLower();
    const QStringList parts = t.mid(colon + 1).split(QLatin1Char(','));
    double v[4] = {0, 0, 0, 0};
    ValuePattern p;
    if (name == QLatin1String("ramp")) {
        if (!parseFinite(parts, v, 4) || !(v[2] < v[3])) {
            *error = QStringLiteral("ramp needs START,STEP,LOW,HIGH with LOW < HIGH: '%1'").arg(t);
            return false;
        }
        p.m_kind = Kind::Ramp;
        p.m_d = v[3];
    } else if (name == QLatin1String("sine")) {
        if (!parseFinite(parts, v, 3) || !(v[2] > 0)) {
            *error =
                QStringLiteral("sine needs OFFSET,AMPLITUDE,PERIOD with PERIOD > 0: '%1'").arg(t);
            return false;
        }
        p.m_kind = Kind::Sine;
    } else if (name == QLatin1String("pulse")) {
        if (!parseFinite(parts, v, 4) || !(v[2] > 0) || !(v[3] >= 0 && v[3] <= v[2])) {
            *error = QStringLiteral("pulse needs BASE,PEAK,PERIOD,DURATION with PERIOD > 0 and "
                                    "0 <= DURATION <= PERIOD: '%1'")
                         .arg(t);
            return false;
        }
        p.m_kind = Kind::Pulse;
        p.m_d = v[3];
    } else {
        *error = QStringLiteral("unknown pattern '%1'").arg(name);
        return false;
    }
    p.m_a = v[0];
    p.m_b = v[1];
    p.m_c = v[2];
    *pattern = p;
    return true;
}

double ValuePattern::valueAt(double seconds) const
{
    const double t = seconds - m_origin;
    switch (m_kind) {
    case Kind::Constant:
        return m_a;
    case Kind::Ramp: {
        const double span = m_d - m_c;
        double offset = std::fmod(m_a - m_c + m_b * t, span);
        if (offset < 0)
            offset += span;
        return m_c + offset;
    }
    case Kind::Sine:
        return m_a + m_b * std::sin(2.0 * M_PI * t / m_c);
    case Kind::Pulse: {
        double phase = std::fmod(t, m_c);
        if (phase < 0)
            phase += m_c;
        return phase < m_d ? m_b : m_a;
    }
    }
    return m_a;
}

QString ValuePattern::toString() const
{
    const auto num = [](double v) { return QString::number(v, 'g', 10); };
    switch (m_kind) {
    case Kind::Constant:
        if (std::isnan(m_a))
            return QStringLiteral("nan");
        if (std::isinf(m_a))
            return m_a > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
        return num(m_a);
    case Kind::Ramp:
        return QStringLiteral("ramp:") + num(m_a) + QLatin1Char(',') + num(m_b) + QLatin1Char(',') +
               num(m_c) + QLatin1Char(',') + num(m_d);
    case Kind::Sine:
        return QStringLiteral("sine:") + num(m_a) + QLatin1Char(',') + num(m_b) + QLatin1Char(',') +
               num(m_c);
    case Kind::Pulse:
        return QStringLiteral("pulse:") + num(m_a) + QLatin1Char(',') + num(m_b) +
               QLatin1Char(',') + num(m_c) + QLatin1Char(',') + num(m_d);
    }
    return QString();
}
