#include "app/desktop/wizard/about_box.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/i18n/window_registry.h"
#include "common/installation.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace qf::desktop {

namespace {

QString Filled(const QString& tmpl, const char* value) {
    return tmpl.contains("%s") ? QString(tmpl).replace("%s", QString::fromUtf8(value)) : tmpl;
}

} // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutBox");
    setWindowTitle("About %s");
    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
    auto* product = new QLabel(QString::fromUtf8(kProductTitle));
    product->setObjectName("ProductName");
    KeepText(*product);
    QFont bold = product->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    product->setFont(bold);
    version_ = new QLabel("Version %s");
    version_->setObjectName("Version");
    auto* maker = new QLabel("Brindlemox");
    maker->setObjectName("Copyright");
    KeepText(*maker);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName("OKButton");
    ok->setText("OK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(product);
    texts->addWidget(version_);
    texts->addSpacing(8);
    texts->addWidget(maker);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);

    TranslateAndWatch(*this);
    FillProductNames();
}

void AboutBox::FillProductNames() {
    setWindowTitle(Filled(windowTitle(), kProductTitle));
    version_->setText(Filled(version_->text(), kProductVersion));
}

void AboutBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        FillProductNames(); // the walk gave back the templates
    }
    QDialog::changeEvent(event);
}

void ShowAboutBox(QWidget* parent) {
    AboutBox box(parent);
    box.exec();
}

} // namespace qf::desktop
