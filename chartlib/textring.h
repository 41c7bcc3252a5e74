#pragma once

#include <QByteArray>
#include <QString>

// Keeps the last few texts handed out through the C entry points alive, so that several results
// taken from one object can be used together in one expression.
class TextRing
{
public:
    static constexpr int Size = 8;

    // UTF-8 copy of the text, valid for the next Size - 1 calls; null for a null string.
    const char *hold(const QString &text);

private:
    QByteArray m_slots[Size];
    int m_next = 0;
};
