#pragma once

#include <QChar>

// Value of one base-16 digit (either case); -1 for any other character.
inline int hexDigit(QChar ch)
{
    const ushort c = ch.unicode();
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
