// converter: the GUI program.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QFileInfo>

#include "app/startup.h"
#include "core/settings.h"

namespace {

// A Qt start that can't reach a display would abort with a core dump and
// several lines; one line instead, naming the first thing that went wrong.
bool started = false;
QString firstComplaint;

void OnQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        QString reason = firstComplaint.isEmpty() ? message.section('\n', 0, 0) : firstComplaint;
        std::fprintf(stderr, "converter: cannot start the GUI: %s\n", qPrintable(reason));
        std::_Exit(1);
    }
    if (type == QtDebugMsg || type == QtInfoMsg) return;
    if (!started) {
        if (firstComplaint.isEmpty()) firstComplaint = message.section('\n', 0, 0);
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    if (IsUninstallSwitch(commandLine)) {
        DeleteSettings();
        return 0;
    }
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "converter: no display to show the GUI on (DISPLAY is not set); "
                     "use tavrick for conversions without one\n");
        return 1;
    }
    qInstallMessageHandler(OnQtMessage);
    QApplication application(argc, argv);
    started = true;
    // Numbers in fields and texts are written and read with a point, whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    return RunConverter(QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath().toStdString(),
                        CommandLinePath(commandLine));
}
