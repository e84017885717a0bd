#include "platform/ui/ui_thread.h"

#include <QEventLoop>

bool IsUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void ServeUiCalls(void*) {
    if (IsUiThread()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
