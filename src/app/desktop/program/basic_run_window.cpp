#include "app/desktop/program/basic_run_window.h"

#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace qf::desktop {

BasicRunWindow::BasicRunWindow(QWidget* parent)
    : QDialog(parent), status_(new QLabel), subject_(new QLabel), progress_(new QProgressBar),
      exceptions_(new QListWidget), button_(new QPushButton("Cancel")) {
    setObjectName("TstatusForm");
    setWindowTitle("Quillfence");
    progress_->setRange(0, 100);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addWidget(subject_);
    layout->addWidget(exceptions_, 1);
    layout->addWidget(button_, 0, Qt::AlignRight);
    connect(button_, &QPushButton::clicked, this, [this] {
        if (finished_) {
            hide();
        } else {
            cancelled_ = true;
            button_->setEnabled(false);
        }
    });
    resize(480, 320);
}

void BasicRunWindow::Queue(std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void BasicRunWindow::Wait(const std::function<void()>& work) {
    if (QThread::currentThread() == thread()) {
        work();
    } else {
        QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
    }
}

void BasicRunWindow::Show() {
    Queue([this] {
        show();
        raise();
    });
}

void BasicRunWindow::SetStatusText(const std::string& text) {
    Queue([this, t = QString::fromStdString(text)] { status_->setText(t); });
}

void BasicRunWindow::SetProgressValue(int percent) {
    Queue([this, percent] { progress_->setValue(percent); });
}

void BasicRunWindow::SetSubject(const std::string& subject) {
    Queue([this, t = QString::fromStdString(subject)] { subject_->setText(t); });
}

void BasicRunWindow::AddExceptionRow(const std::string& text, const std::string&,
                                     const std::string&) {
    Queue([this, t = QString::fromStdString(text)] { exceptions_->addItem(t); });
}

void BasicRunWindow::Finish() {
    finished_ = true;
    Queue([this] {
        button_->setText("OK");
        button_->setEnabled(true);
    });
}

void BasicRunWindow::ShowWarning(const std::string& text) {
    Wait([&] { QMessageBox::warning(this, "Quillfence", QString::fromStdString(text)); });
}

bool BasicRunWindow::AskYesNo(const std::string& text) {
    bool yes = false;
    Wait([&] {
        yes = QMessageBox::question(this, "Quillfence", QString::fromStdString(text)) ==
              QMessageBox::Yes;
    });
    return yes;
}

void BasicRunWindow::ShowError(const std::string& text) {
    Wait([&] {
        QMessageBox::critical(this, "Application Error", QString::fromStdString(text));
        finished_ = true;
        button_->setText("OK");
        button_->setEnabled(true);
    });
}

} // namespace qf::desktop
