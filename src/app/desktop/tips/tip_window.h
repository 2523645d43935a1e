// The tip of the day: one tip of TIPS.TXT at a time, with a heading by its
// first character, stepping forwards and backwards.
#pragma once

#include "i18n/tips.h"

#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QToolButton;
class QPushButton;

namespace qf::desktop {

class TipWindow : public QDialog {
    Q_OBJECT
public:
    // Reads the tips of `tipsFile` (none when it is missing).
    explicit TipWindow(const std::string& tipsFile, QWidget* parent = nullptr);

    bool NoTips() const { return tips_.Empty(); }
    int Current() const { return current_; }
    // current := number, then ShowTip.
    void SetTip(int number);
    // Shows tip `Current()`, wrapped into the list.  Throws Error when the tip
    // is no template for five line breaks; the heading is already shown.
    void ShowTip();
    // One tip forwards (+1) or backwards (-1), wrapping at both ends.
    void Step(int step);

    QLabel* Title() const { return title_; }
    QLabel* Tip() const { return tip_; }
    QCheckBox* ShowTipsBox() const { return showTips_; }
    QToolButton* PreviousButton() const { return previous_; }
    QToolButton* NextButton() const { return next_; }
    QPushButton* CloseButton() const { return close_; }

private:
    QWidget* BuildTipPanel();
    QWidget* BuildButtonPanel();

    TipBook tips_;
    int current_ = 0;
    QLabel* title_ = nullptr;
    QLabel* tip_ = nullptr;
    QCheckBox* showTips_ = nullptr;
    QToolButton* previous_ = nullptr;
    QToolButton* next_ = nullptr;
    QPushButton* close_ = nullptr;
};

// Runs a modal dialog; tests answer it without a user.
using TipModalRunner = std::function<int(QDialog&)>;

// Shows the tip after `currentTip` if there are tips; afterwards `currentTip`
// is one past the tip last shown and `showTips` the state of "Show Tips at
// Startup".  Without tips nothing is shown, except "Couldn't find Tip Of The
// Day file" when `complainIfMissing`.  A tip that is no valid template throws
// Error and leaves both values unchanged.
void ShowTipOfTheDay(int& currentTip, bool& showTips, bool complainIfMissing,
                     QWidget* parent = nullptr, const std::string& tipsFile = {},
                     const TipModalRunner& runModal = {});

} // namespace qf::desktop
