// The main of the desktop tests: a QApplication on the offscreen platform and
// a settings store and a runtime folder in temporary folders, so no test
// touches the user's settings or sockets, or needs a display.
#include "TestSupport.h"

#include <QApplication>
#include <QSettings>
#include <gtest/gtest.h>

int main(int Argc, char** Argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    vantrel::test::TTempDir Settings, Runtime;
    qputenv("XDG_CONFIG_HOME", Settings.Path().c_str());
    // The runtime folder too: sockets and what Qt keeps there stay the tests'.
    qputenv("XDG_RUNTIME_DIR", Runtime.Path().c_str());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(Settings.Path()));
    QApplication Application(Argc, Argv);
    ::testing::InitGoogleTest(&Argc, Argv);
    return RUN_ALL_TESTS();
}
