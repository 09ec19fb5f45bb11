#include "update/update_check.h"

UpdateCheck::UpdateCheck(QObject* parent)
    : QObject(parent)
{
}

UpdateCheck::~UpdateCheck() = default;

void UpdateCheck::doCheck(const QString& version, const QString& fwversion)
{
    this->version = version;
    this->fwversion = fwversion;
}
