#include "engine_test_support.h"
#include "cefqt/engine.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    cefqt_test::setTestEnvironment();
    qputenv("QT_QUICK_BACKEND", "software");
    ::testing::InitGoogleTest(&argc, argv);
    cefqt::PrepareProcess(true);
    cefqt::RegisterStandardScheme("velmora");
    // A profile folder of this process: test cases run in parallel processes.
    QTemporaryDir cache(QDir::tempPath() + "/cefqt-test-XXXXXX");
    cefqt::ProfileSettings profile;
    profile.userAgent = "TarquilMervane-Test/2.1";
    profile.locale = "en";
    profile.cachePath = cache.path();
    cefqt::SetProfileSettings(profile);
    int rc = 0;
    {
        QApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
        cefqt::ReleaseProfile();
    }
    return rc;
}
