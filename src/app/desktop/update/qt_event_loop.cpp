#include "app/desktop/update/qt_event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

namespace qf::desktop {

std::shared_ptr<QtEventLoop> QtEventLoop::Create(QObject* context) {
    return std::shared_ptr<QtEventLoop>(new QtEventLoop(context));
}

void QtEventLoop::Post(std::function<void()> handler) {
    // Under the lock the context cannot be destroyed, and a call queued on a
    // live object is dropped by Qt if the object goes before it runs.
    const std::lock_guard lock(mutex_);
    if (context_) {
        QMetaObject::invokeMethod(context_, std::move(handler), Qt::QueuedConnection);
    }
}

void QtEventLoop::ProcessEvents(std::chrono::milliseconds wait) {
    QEventLoop loop;
    QTimer::singleShot(wait, &loop, &QEventLoop::quit);
    loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventLoop::Detach() {
    const std::lock_guard lock(mutex_);
    context_ = nullptr;
}

} // namespace qf::desktop
