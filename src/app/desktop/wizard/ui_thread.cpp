#include "app/desktop/wizard/ui_thread.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

namespace qf::desktop {

namespace {

class QtUiThread : public UiThread {
public:
    QtUiThread() { context_.moveToThread(QCoreApplication::instance()->thread()); }

    void Post(std::function<void()> work) override {
        QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
    }
    void Call(const std::function<void()>& work) override {
        if (OnUiThread()) {
            work();
            return;
        }
        QMetaObject::invokeMethod(&context_, work, Qt::BlockingQueuedConnection);
    }
    bool OnUiThread() const override {
        return QThread::currentThread() == QCoreApplication::instance()->thread();
    }
    void ProcessEvents(int ms) override {
        QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
        if (ms > 0) {
            QThread::msleep(static_cast<unsigned long>(std::min(ms, 5)));
        }
    }

private:
    QObject context_;
};

} // namespace

std::unique_ptr<UiThread> MakeQtUiThread() {
    return std::make_unique<QtUiThread>();
}

} // namespace qf::desktop
