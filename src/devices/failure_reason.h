// The reason beside a failed call's false, in plain words for the user: callers that show the
// failure pass a QString to fill, the others nullptr.
#pragma once

#include <QString>

// Gives the reason to a caller that asked for one; false, for the failure path's return.
inline bool failBecause(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}
