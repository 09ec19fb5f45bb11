#include "app/program_entry.h"

#include "app/application.h"
#include "app/image_resources.h"
#include "app/private_temp.h"
#include "cefclient/client_app.h"
#include "cefclient/client_handler.h"
#include "update/updater.h"

#include "include/base/cef_logging.h"
#include "include/cef_app.h"

#include <QDir>
#include <QLocale>

unsigned short userUiLanguage()
{
    const QLocale locale = QLocale::system();
    switch (locale.language()) {
    case QLocale::English:
        return locale.country() == QLocale::UnitedKingdom ? 0x0809 : 0x0409;
    case QLocale::Chinese:
        return locale.script() == QLocale::TraditionalChineseScript ? 0x0404 : 0x0804;
    default:
        return 0; // neutral
    }
}

CefSettings runtimeSettings(unsigned short langId, const QString& privateFolder)
{
    CefSettings settings;
    CefString(&settings.user_agent) = "TarquilMervane";
    CefString(&settings.product_version) = "2.1";
    CefString(&settings.locale) = (langId & 0xFF) == 9 ? "en" : "zh";
    settings.no_sandbox = 1;
    settings.multi_threaded_message_loop = 1;
    settings.background_color = 0xFF222529;
    CefString(&settings.log_file) = "app.log";
    CefString(&settings.cache_path) = QDir::toNativeSeparators(privateFolder + QStringLiteral("/Cache")).toStdString();
    settings.persist_session_cookies = 1;
    return settings;
}

int runApplication(int& argc, char** argv, int code)
{
    Application app(argc, argv);
    if (!isQuitRequested()) {
        app.init();
        code = app.exec();
    }
    return code;
}

int programMain(int argc, char** argv, const ProgramSteps& steps)
{
    // Linux shows no fault dialog box that the error mode would suppress.
    CefMainArgs mainArgs(argc, argv);
    CefRefPtr<CefApp> app(new ClientApp);
    int code = CefExecuteProcess(mainArgs, app, nullptr);
    if (code >= 0)
        return code; // a runtime sub-process that has done its work

    // The images and the style sheet, compiled into the program's static library.
    psInitImageResources();
    Q_INIT_RESOURCE(qss);

    const CefSettings settings = runtimeSettings(userUiLanguage(), privateTempPath());
    steps.installBackend();
    if (!CefInitialize(mainArgs, settings, app, nullptr))
        LOG(ERROR) << "the browser runtime did not start; going on without it";

    g_handler = new ClientHandler();
    g_handler->RegisterSchemeHandlerFactory("velmora", "settings");

    code = steps.runApplication(argc, argv, code);

    CefShutdown();
    if (g_runUpdaterOnExit)
        steps.execUpdater();
    return code;
}
