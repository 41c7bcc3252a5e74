#include "textring.h"

const char *TextRing::hold(const QString &text)
{
    if (text.isNull())
        return nullptr;
    QByteArray &slot = m_slots[m_next];
    m_next = (m_next + 1) % Size;
    slot = text.toUtf8();
    return slot.constData();
}
