#include "app/desktop/message/message_window.h"

#include "i18n/form_text.h"
#include "mail/session.h"
#include "platform/shell/shell.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace qf::desktop {

namespace {

constexpr const char* kSection = "TMessageForm";

QString Form(const char* component, const char* english) {
    return QString::fromStdString(FormText(kSection, component, "Caption", english));
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A rich view that never fetches anything an email refers to (remote images,
// local files): it shows the text and the layout only.
class SealedBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

} // namespace

MessageWindow* MessageWindow::Open(MapiSession& session, const std::string& storeEntryId,
                                   const std::string& emailEntryId, QWidget* parent) {
    auto email = StoredEmail::Open(session, BytesOf(storeEntryId), BytesOf(emailEntryId));
    return new MessageWindow(std::move(email), parent);
}

MessageWindow::MessageWindow(std::unique_ptr<StoredEmail> email, QWidget* parent)
    : QWidget(parent, Qt::Window), email_(std::move(email)) {
    setObjectName("TMessageForm");
    setAttribute(Qt::WA_DeleteOnClose);
    content_ = email_->ReadContent();
    BuildLayout();
    setWindowTitle(content_.subject.empty() ? Form("TMessageForm", "(no subject)")
                                            : FromUtf8(content_.subject));
    resize(640, 520);
}

MessageWindow::~MessageWindow() = default;

QLabel* MessageWindow::AddHeader(QFormLayout* form, const char* component, const char* english,
                                 const std::string& value) {
    auto* label = new QLabel(FromUtf8(value));
    label->setObjectName(component);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    form->addRow(Form((std::string(component) + "Label").c_str(), english), label);
    headers_[QString(component)] = label;
    return label;
}

void MessageWindow::BuildLayout() {
    auto* form = new QFormLayout;
    AddHeader(form, "From", "From:", content_.from);
    AddHeader(form, "To", "To:", content_.to);
    AddHeader(form, "Cc", "Cc:", content_.cc);
    AddHeader(form, "Date", "Date:", content_.date);
    AddHeader(form, "Subject", "Subject:", content_.subject);

    auto* bodies = new QTabWidget;
    plainBody_ = new QPlainTextEdit(FromUtf8(content_.plainBody));
    plainBody_->setObjectName("plainBody");
    plainBody_->setReadOnly(true);
    bodies->addTab(plainBody_, Form("plainPage", "&Text"));
    if (!content_.htmlBody.empty()) {
        htmlBody_ = new SealedBrowser;
        htmlBody_->setObjectName("htmlBody");
        htmlBody_->setOpenLinks(false);
        htmlBody_->setHtml(FromUtf8(content_.htmlBody));
        bodies->addTab(htmlBody_, Form("htmlPage", "&HTML"));
        if (content_.plainBody.empty()) {
            bodies->setCurrentWidget(htmlBody_);
        }
    }

    attachments_ = new QListWidget;
    attachments_->setObjectName("attachments");
    for (const AttachmentSummary& a : content_.attachments) {
        auto* item =
            new QListWidgetItem(style()->standardIcon(QStyle::SP_FileIcon),
                                QString("%1  (%2 bytes)").arg(FromUtf8(a.fileName)).arg(a.size));
        attachments_->addItem(item);
    }
    if (!content_.attachments.empty()) {
        attachments_->setCurrentRow(0);
    }
    auto* open = new QPushButton(Form("openButton", "&Open"));
    auto* save = new QPushButton(Form("saveButton", "&Save As..."));
    open->setEnabled(!content_.attachments.empty());
    save->setEnabled(!content_.attachments.empty());
    connect(open, &QPushButton::clicked, this, [this] { OpenAttachment(CurrentIndex()); });
    connect(save, &QPushButton::clicked, this, [this] { SaveAttachmentAs(CurrentIndex()); });
    connect(attachments_, &QListWidget::itemDoubleClicked, this,
            [this] { OpenAttachment(CurrentIndex()); });
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(open);
    buttons->addWidget(save);
    buttons->addStretch(1);
    auto* attachmentRow = new QWidget;
    auto* attachmentLayout = new QHBoxLayout(attachmentRow);
    attachmentLayout->setContentsMargins(0, 0, 0, 0);
    attachmentLayout->addWidget(attachments_, 1);
    attachmentLayout->addLayout(buttons);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(bodies);
    split->addWidget(attachmentRow);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    attachmentRow->setVisible(!content_.attachments.empty());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(form);
    layout->addWidget(split, 1);
}

QString MessageWindow::HeaderText(const QString& name) const {
    auto it = headers_.find(name);
    return it == headers_.end() ? QString() : it->second->text();
}

QString MessageWindow::BodyText() const {
    return plainBody_->toPlainText();
}

int MessageWindow::CurrentIndex() const {
    return attachments_->currentRow();
}

void MessageWindow::ShowError(const QString& text) {
    if (hooks_.error) {
        hooks_.error(this, text);
    } else {
        QMessageBox::warning(this, windowTitle(), text);
    }
}

std::string MessageWindow::OpenAttachment(int index) {
    if (index < 0 || index >= static_cast<int>(content_.attachments.size())) {
        return {};
    }
    const AttachmentSummary& a = content_.attachments[static_cast<std::size_t>(index)];
    try {
        if (!tempDir_) {
            tempDir_ = std::make_unique<QTemporaryDir>();
            if (!tempDir_->isValid()) {
                tempDir_.reset();
                throw std::runtime_error("No temporary folder for the attachment can be made.");
            }
        }
        const std::string name = SafeAttachmentFileName(a.fileName, a.embeddedEmail);
        const std::string path = tempDir_->path().toStdString() + "/" + name;
        email_->SaveAttachment(a.attachNumber, path);
        if (hooks_.openFile) {
            hooks_.openFile(path);
        } else {
            ShellOpen(path);
        }
        return path;
    } catch (const std::exception& e) {
        ShowError(QString::fromUtf8(e.what()));
    }
    return {};
}

std::string MessageWindow::SaveAttachmentAs(int index) {
    if (index < 0 || index >= static_cast<int>(content_.attachments.size())) {
        return {};
    }
    const AttachmentSummary& a = content_.attachments[static_cast<std::size_t>(index)];
    const QString suggested = FromUtf8(SafeAttachmentFileName(a.fileName, a.embeddedEmail));
    const QString target = hooks_.saveFileName
                               ? hooks_.saveFileName(this, suggested)
                               : QFileDialog::getSaveFileName(
                                     this, Form("saveDialog", "Save Attachment As"), suggested);
    if (target.isEmpty()) {
        return {};
    }
    try {
        email_->SaveAttachment(a.attachNumber, target.toStdString());
        return target.toStdString();
    } catch (const std::exception& e) {
        ShowError(QString::fromUtf8(e.what()));
    }
    return {};
}

} // namespace qf::desktop
