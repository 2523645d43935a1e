#include "app/desktop/tips/tip_window.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/i18n/window_registry.h"
#include "common/installation.h"
#include "common/text.h"
#include "i18n/msgdlg.h"
#include "i18n/translate.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace qf::desktop {

namespace {

// A small light bulb beside the heading.
QPixmap Bulb() {
    QPixmap picture(32, 40);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 120, 0), 1.5));
    p.setBrush(QColor(255, 225, 70));
    p.drawEllipse(QRectF(4, 2, 24, 24));
    p.setBrush(QColor(170, 170, 170));
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.drawRect(QRectF(10, 25, 12, 10));
    p.drawLine(QPointF(10, 28.5), QPointF(22, 28.5));
    p.drawLine(QPointF(10, 31.5), QPointF(22, 31.5));
    p.drawEllipse(QRectF(13, 34, 6, 4));
    return picture;
}

QFrame* Panel(const char* name, QFrame::Shape shape) {
    auto* panel = new QFrame;
    panel->setObjectName(name);
    panel->setFrameShape(shape);
    return panel;
}

} // namespace

TipWindow::TipWindow(const std::string& tipsFile, QWidget* parent) : QDialog(parent) {
    setObjectName("fTipOfTheDay");
    setWindowTitle("Tip of the day");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    resize(420, 260);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(BuildTipPanel(), 1);
    layout->addWidget(BuildButtonPanel());

    TranslateAndWatch(*this);
    tips_ = TipBook::Load(tipsFile);
    if (tips_.Empty()) {
        previous_->setEnabled(false);
        next_->setEnabled(false);
    }
}

QWidget* TipWindow::BuildTipPanel() {
    QFrame* outer = Panel("Panel3", QFrame::Panel);
    outer->setFrameShadow(QFrame::Sunken);
    QFrame* page = Panel("Panel1", QFrame::Box);
    page->setAutoFillBackground(true);
    QPalette white = page->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    page->setPalette(white);

    title_ = new QLabel;
    title_->setObjectName("lTitle");
    KeepText(*title_);
    QFont bold = title_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.4);
    title_->setFont(bold);
    auto* bulb = new QLabel;
    bulb->setObjectName("iBulb");
    bulb->setPixmap(Bulb());
    tip_ = new QLabel;
    tip_->setObjectName("lTip");
    KeepText(*tip_);
    tip_->setWordWrap(true);
    tip_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tip_->setTextFormat(Qt::PlainText);

    auto* heading = new QHBoxLayout;
    heading->addWidget(bulb);
    heading->addWidget(title_, 1);
    auto* text = new QVBoxLayout(page);
    text->setContentsMargins(12, 12, 12, 12);
    text->addLayout(heading);
    text->addWidget(tip_, 1);
    auto* border = new QVBoxLayout(outer);
    border->setContentsMargins(8, 8, 8, 8); // Panel4's border
    border->addWidget(page);
    return outer;
}

QWidget* TipWindow::BuildButtonPanel() {
    auto* panel = new QWidget;
    panel->setObjectName("Panel2");
    showTips_ = new QCheckBox("Show Tips at Startup");
    showTips_->setObjectName("cbShowTips");
    previous_ = new QToolButton;
    previous_->setObjectName("bPrevious");
    previous_->setArrowType(Qt::LeftArrow);
    previous_->setToolTip("Previous Tip");
    next_ = new QToolButton;
    next_->setObjectName("bNext");
    next_->setArrowType(Qt::RightArrow);
    next_->setToolTip("Next Tip");
    close_ = new QPushButton("Close");
    close_->setObjectName("bClose");
    close_->setDefault(true);
    connect(previous_, &QToolButton::clicked, this, [this] { Step(-1); });
    connect(next_, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
    connect(showTips_, &QCheckBox::clicked, this, [](bool on) {
        if (!on) {
            ShowInfo(TranslateMsgW(4361, "If you need it, you can find Tip of the Day in the "
                                         "Help Menu"));
        }
    });
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 8, 0, 0);
    row->addWidget(showTips_, 1);
    row->addWidget(previous_);
    row->addWidget(next_);
    row->addWidget(close_);
    return panel;
}

void TipWindow::SetTip(int number) {
    current_ = number;
    ShowTip();
}

void TipWindow::ShowTip() {
    if (!tips_.Empty()) {
        current_ = WrapTipIndex(current_, tips_.Count());
    }
    const std::string& line = tips_.Line(current_);
    title_->setText(QString::fromStdString(TipHeading(line.empty() ? '\0' : line[0])));
    tip_->setText(QString::fromStdU16String(TipText(line)));
}

void TipWindow::Step(int step) {
    current_ = StepTipIndex(current_, step, tips_.Count());
    try {
        ShowTip();
    } catch (const std::exception& e) {
        AskDlg(Utf8ToUtf16(e.what()), DlgKind::Error, kDlgOK);
    }
}

void ShowTipOfTheDay(int& currentTip, bool& showTips, bool complainIfMissing, QWidget* parent,
                     const std::string& tipsFile, const TipModalRunner& runModal) {
    TipWindow window(tipsFile.empty() ? InstallationFolder() + "TIPS.TXT" : tipsFile, parent);
    window.SetTip(currentTip);
    window.ShowTipsBox()->setChecked(showTips);
    if (window.NoTips()) {
        if (complainIfMissing) {
            ShowInfo(TranslateMsgW(4360, "Couldn't find Tip Of The Day file"));
        }
        return;
    }
    if (runModal) {
        runModal(window);
    } else {
        window.exec();
    }
    currentTip = window.Current() + 1;
    showTips = window.ShowTipsBox()->isChecked();
}

} // namespace qf::desktop
