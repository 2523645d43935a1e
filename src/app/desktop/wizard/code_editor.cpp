#include "app/desktop/wizard/code_editor.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QTextBlock>

namespace qf::desktop {

namespace {

class LineNumberArea : public QWidget {
public:
    explicit LineNumberArea(CodeEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return {editor_->LineNumberAreaWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* event) override { editor_->PaintLineNumbers(event); }

private:
    CodeEditor* editor_;
};

} // namespace

CodeEditor::CodeEditor(QWidget* parent)
    : QPlainTextEdit(parent), lineNumbers_(new LineNumberArea(this)) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setTabChangesFocus(false);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { UpdateMargin(); });
    connect(this, &QPlainTextEdit::updateRequest, this,
            [this](const QRect& rect, int dy) { UpdateLineNumberArea(rect, dy); });
    UpdateMargin();
}

int CodeEditor::LineNumberAreaWidth() const {
    int digits = 1;
    for (int max = std::max(1, blockCount()); max >= 10; max /= 10) {
        ++digits;
    }
    return 6 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 2);
}

void CodeEditor::UpdateMargin() {
    setViewportMargins(LineNumberAreaWidth(), 0, 0, 0);
}

void CodeEditor::UpdateLineNumberArea(const QRect& rect, int dy) {
    if (dy != 0) {
        lineNumbers_->scroll(0, dy);
    } else {
        lineNumbers_->update(0, rect.y(), lineNumbers_->width(), rect.height());
    }
    if (rect.contains(viewport()->rect())) {
        UpdateMargin();
    }
}

void CodeEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect r = contentsRect();
    lineNumbers_->setGeometry(QRect(r.left(), r.top(), LineNumberAreaWidth(), r.height()));
}

void CodeEditor::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Tab && event->modifiers() == Qt::NoModifier) {
        const int column = textCursor().positionInBlock();
        insertPlainText(QString(kTabWidth - column % kTabWidth, QLatin1Char(' ')));
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CodeEditor::PaintLineNumbers(QPaintEvent* event) {
    QPainter painter(lineNumbers_);
    painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top()) {
            painter.drawText(0, top, lineNumbers_->width() - 3, fontMetrics().height(),
                             Qt::AlignRight, QString::number(block.blockNumber() + 1));
        }
        block = block.next();
        top += height;
    }
}

} // namespace qf::desktop
