#include "app/desktop/message/message_window.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/i18n/window_registry.h"
#include "mail/session.h"
#include "platform/shell/shell.h"

#include "i18n/translate.h"
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
    : MessageWindow(email->ReadContent(), parent) {
    email_ = std::move(email);
}

MessageWindow::MessageWindow(EmailContent content, QWidget* parent)
    : QWidget(parent, Qt::Window), content_(std::move(content)) {
    setObjectName("MessageForm");
    setAttribute(Qt::WA_DeleteOnClose);
    saveDialog_ = new QObject(this);
    saveDialog_->setObjectName("saveDialog");
    saveDialog_->setProperty("Title", "Save Attachment As");
    BuildLayout();
    if (content_.subject.empty()) {
        setWindowTitle("(no subject)");
    } else {
        setWindowTitle(FromUtf8(content_.subject));
        KeepText(*this); // the email's subject
    }
    TranslateAndWatch(*this);
    resize(640, 520);
}

MessageWindow::~MessageWindow() = default;

QLabel* MessageWindow::AddHeader(QFormLayout* form, const char* component, const char* english,
                                 const std::string& value) {
    auto* label = new QLabel(FromUtf8(value));
    label->setObjectName(component);
    KeepText(*label); // the email's own header
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setWordWrap(true);
    auto* caption = new QLabel(english);
    caption->setObjectName(QString(component) + "Label");
    caption->setBuddy(label);
    form->addRow(caption, label);
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
    bodies->addTab(plainBody_, "&Text");
    if (!content_.htmlBody.empty()) {
        htmlBody_ = new SealedBrowser;
        htmlBody_->setObjectName("htmlBody");
        htmlBody_->setOpenLinks(false);
        htmlBody_->setHtml(FromUtf8(content_.htmlBody));
        bodies->addTab(htmlBody_, "&HTML");
        if (content_.plainBody.empty()) {
            bodies->setCurrentWidget(htmlBody_);
        }
    }

    attachments_ = new QListWidget;
    attachments_->setObjectName("attachments");
    for (const AttachmentSummary& a : content_.attachments) {
        auto* item = new QListWidgetItem(
            style()->standardIcon(QStyle::SP_FileIcon),
            FromUtf8(TranslateFmt(8732, "%s  (%d bytes)",
                                  {a.fileName, static_cast<std::int64_t>(a.size)})));
        attachments_->addItem(item);
    }
    if (!content_.attachments.empty()) {
        attachments_->setCurrentRow(0);
    }
    auto* open = new QPushButton("&Open");
    open->setObjectName("openButton");
    auto* save = new QPushButton("&Save As...");
    save->setObjectName("saveButton");
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
    if (!email_ || index < 0 || index >= static_cast<int>(content_.attachments.size())) {
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
    if (!email_ || index < 0 || index >= static_cast<int>(content_.attachments.size())) {
        return {};
    }
    const AttachmentSummary& a = content_.attachments[static_cast<std::size_t>(index)];
    const QString suggested = FromUtf8(SafeAttachmentFileName(a.fileName, a.embeddedEmail));
    const QString target = hooks_.saveFileName
                               ? hooks_.saveFileName(this, suggested)
                               : QFileDialog::getSaveFileName(
                                     this, saveDialog_->property("Title").toString(), suggested);
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
