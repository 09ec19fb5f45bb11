// The layer's tests run inside the application's event loop, as the program's code calls the
// layer. A plain application unless the xcb platform is asked for (the real pointer's tests): the
// offscreen platform plugin does not free its screen, which the leak checker would report.
#include <QApplication>
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (qgetenv("QT_QPA_PLATFORM") == "xcb")
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
