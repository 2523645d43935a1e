// A multi-line text editor for templates: fixed-pitch font, line numbers in
// the left margin, and the Tab key inserting spaces.
#pragma once

#include <QPlainTextEdit>

namespace qf::desktop {

class CodeEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kTabWidth = 4;

    explicit CodeEditor(QWidget* parent = nullptr);
    int LineNumberAreaWidth() const;
    void PaintLineNumbers(QPaintEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateMargin();
    void UpdateLineNumberArea(const QRect& rect, int dy);

    QWidget* lineNumbers_;
};

} // namespace qf::desktop
