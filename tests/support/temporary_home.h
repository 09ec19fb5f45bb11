// A home folder of the test's own for as long as the object lives: the user's standard folders
// (documents and the like) then lie in it.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

namespace test_support {

class TemporaryHome {
public:
    TemporaryHome()
        : m_oldHome(qgetenv("HOME"))
        , m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
        , m_hadConfig(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
    {
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qunsetenv("XDG_CONFIG_HOME");
    }
    ~TemporaryHome()
    {
        qputenv("HOME", m_oldHome);
        if (m_hadConfig)
            qputenv("XDG_CONFIG_HOME", m_oldConfig);
    }
    QString path() const { return m_home.path(); }

private:
    QTemporaryDir m_home;
    QByteArray m_oldHome;
    QByteArray m_oldConfig;
    bool m_hadConfig;
};

} // namespace test_support
