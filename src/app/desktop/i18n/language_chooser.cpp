#include "app/desktop/i18n/language_chooser.h"

#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/placement/qt_placement.h"
#include "i18n/languages.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace qf::desktop {

LanguageChooser::LanguageChooser(const std::string& installationFolder, QWidget* parent)
    : QDialog(parent), languages_(new QListWidget), online_(new QLabel) {
    setObjectName("TLangForm");
    setWindowTitle("Options");
    resize(kWidth, kHeight);

    auto* bevel = new QFrame;
    bevel->setObjectName("Bevel1");
    bevel->setFrameShape(QFrame::StyledPanel);
    auto* label = new QLabel("&Language");
    label->setObjectName("Label4");
    label->setBuddy(languages_);
    languages_->setObjectName("languages");
    languages_->setSelectionMode(QAbstractItemView::SingleSelection);
    online_->setObjectName("online");
    online_->setText("More languages online...");
    online_->setStyleSheet("color: blue; text-decoration: underline");
    online_->setCursor(Qt::PointingHandCursor);
    online_->installEventFilter(this);
    auto* inner = new QVBoxLayout(bevel);
    inner->addWidget(label);
    inner->addWidget(languages_, 1);
    inner->addWidget(online_);

    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("OKBtn");
    ok->setToolTip("Save changes and close");
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    cancel->setObjectName("CancelBtn");
    cancel->setToolTip("Cancel changes and close");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(languages_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bevel, 1);
    layout->addWidget(buttons);
    languages_->setFocus();

    // The size is kept; the dialog always opens in the middle of the screen.
    RestorePlacement(*this, PlacementKey::LanguageChooser());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    TranslateAndWatch(*this);
    ListLanguages(installationFolder);
}

LanguageChooser::~LanguageChooser() {
    SavePlacement(*this, PlacementKey::LanguageChooser());
}

void LanguageChooser::ListLanguages(const std::string& folder) {
    languages_->clear();
    for (const std::string& name : qf::ListLanguages(folder + "Languages/")) {
        languages_->addItem(QString::fromStdString(name));
    }
}

void LanguageChooser::SelectLanguage(const std::string& name) {
    std::vector<std::string> names;
    for (int i = 0; i < languages_->count(); ++i) {
        names.push_back(languages_->item(i)->text().toStdString());
    }
    const int index = SelectLanguageIndex(names, name);
    if (index >= 0) {
        languages_->setCurrentRow(index);
    }
}

std::string LanguageChooser::SelectedLanguage() const {
    const QListWidgetItem* item = languages_->currentItem();
    return item ? item->text().toStdString() : std::string();
}

bool LanguageChooser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == online_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (onMoreLanguages) {
            onMoreLanguages(online_);
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<std::string> ChooseLanguage(QWidget* parent, const std::string& current,
                                          const std::string& installationFolder,
                                          const ModalRunner& runModal) {
    LanguageChooser chooser(installationFolder, parent);
    chooser.SelectLanguage(current);
    const int result = runModal ? runModal(chooser) : chooser.exec();
    if (result != QDialog::Accepted) {
        return std::nullopt;
    }
    const std::string chosen = chooser.SelectedLanguage();
    if (chosen.empty() || chosen == current) {
        return std::nullopt;
    }
    ChangeLanguage(chosen, installationFolder);
    return chosen;
}

} // namespace qf::desktop
