// The main of the desktop tests: a QApplication on the offscreen platform and
// a settings store in a temporary folder, so no test touches the user's
// settings or needs a display.
#include "TestSupport.h"

#include <QApplication>
#include <QSettings>
#include <gtest/gtest.h>

int main(int Argc, char** Argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    vantrel::test::TTempDir Settings;
    qputenv("XDG_CONFIG_HOME", Settings.Path().c_str());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(Settings.Path()));
    QApplication Application(Argc, Argv);
    ::testing::InitGoogleTest(&Argc, Argv);
    return RUN_ALL_TESTS();
}
