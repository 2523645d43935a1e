// A window that shows one stored email, read-only: From, To, Cc, Date and
// Subject, the body (the HTML one in a read-only rich view that loads
// nothing from outside), and the attachments with Open and Save As.  It
// stands in for the mail client's own message form; several can be open.
#pragma once

#include "mail/stored_email.h"

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QFormLayout;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTemporaryDir;
class QTextBrowser;

namespace qf {
class MapiSession;
}

namespace qf::desktop {

// The dialogs and the desktop handler the window uses, replaceable in tests.
struct MessageWindowHooks {
    // The file to save an attachment as; empty when the user cancelled.
    std::function<QString(QWidget* parent, const QString& suggestedName)> saveFileName;
    // Hands a file to the desktop's handler.
    std::function<void(const std::string& path)> openFile;
    std::function<void(QWidget* parent, const QString& text)> error;
};

class MessageWindow : public QWidget {
    Q_OBJECT
public:
    // Opens the email named by the identifiers (texts holding the bytes, as
    // exception rows keep them) and reads it; the window is freed when it
    // closes.  Raises the mail error when the email cannot be had (moved,
    // deleted, its store gone).
    static MessageWindow* Open(MapiSession& session, const std::string& storeEntryId,
                               const std::string& emailEntryId, QWidget* parent = nullptr);
    MessageWindow(std::unique_ptr<StoredEmail> email, QWidget* parent = nullptr);
    // A window over content read before, with no stored email behind it:
    // its attachments are listed but cannot be opened or saved.
    explicit MessageWindow(EmailContent content, QWidget* parent = nullptr);
    ~MessageWindow() override;

    void SetHooks(MessageWindowHooks hooks) { hooks_ = std::move(hooks); }

    const EmailContent& Content() const { return content_; }
    // The text a header line shows ("From", "To", "Cc", "Date", "Subject").
    QString HeaderText(const QString& name) const;
    QString BodyText() const;
    QListWidget* AttachmentList() const { return attachments_; }

    // The Open and Save As buttons for attachment `index` (list order).
    // Open writes it to a private temporary folder and hands it to the
    // desktop; Save As writes it where the user says.  Failures are shown.
    // Both return the file written, or an empty text.
    std::string OpenAttachment(int index);
    std::string SaveAttachmentAs(int index);

private:
    void BuildLayout();
    QLabel* AddHeader(QFormLayout* form, const char* component, const char* english,
                      const std::string& value);
    void ShowError(const QString& text);
    int CurrentIndex() const;

    std::unique_ptr<StoredEmail> email_;
    EmailContent content_;
    MessageWindowHooks hooks_;
    std::map<QString, QLabel*> headers_;
    QPlainTextEdit* plainBody_ = nullptr;
    QTextBrowser* htmlBody_ = nullptr;
    QListWidget* attachments_ = nullptr;
    QObject* saveDialog_ = nullptr; // the texts of the Save As dialog
    std::unique_ptr<QTemporaryDir> tempDir_;
};

} // namespace qf::desktop
