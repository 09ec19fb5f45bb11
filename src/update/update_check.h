// The start-up check for a newer version of the program.
#pragma once

#include <QObject>
#include <QString>

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    explicit UpdateCheck(QObject* parent = nullptr);
    ~UpdateCheck() override;

    // Asks the update service about version, for the firmware version fwversion.
    void doCheck(const QString& version, const QString& fwversion);

    QString version;
    QString fwversion;
};
