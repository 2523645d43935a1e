#include "app/desktop/help/help_window.h"

#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/i18n/window_registry.h"
#include "common/error.h"
#include "common/installation.h"
#include "common/text.h"
#include "i18n/msgdlg.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QKeyEvent>
#include <QPointer>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

namespace qf::desktop {

namespace {

constexpr const char* kNamespace = "com.brindlemox.quillfence";

class HelpBrowser : public QTextBrowser {
public:
    HelpBrowser(QHelpEngine& engine, QWidget* parent) : QTextBrowser(parent), engine_(engine) {}

    QVariant loadResource(int type, const QUrl& url) override {
        if (url.scheme() == "qthelp") {
            return engine_.fileData(url);
        }
        return QTextBrowser::loadResource(type, url);
    }

private:
    QHelpEngine& engine_;
};

// The engine's collection lives apart from the installation, which may be
// read-only; one per help book.
QString CollectionFile(const std::string& book, const std::string& folder) {
    QString dir = QString::fromStdString(folder);
    if (dir.isEmpty()) {
        dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/help";
    }
    QDir().mkpath(dir);
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(book), QCryptographicHash::Sha1);
    return dir + "/quillfence-" + hash.toHex().left(12) + ".qhc";
}

std::unique_ptr<QHelpEngine> OpenEngine(const std::string& book, const std::string& folder) {
    const QString path = QString::fromStdString(book);
    if (!QFileInfo(path).isFile()) {
        throw Error("The help book " + book +
                    " is missing. Reinstall Quillfence, or build "
                    "the target \"manual\".");
    }
    auto engine = std::make_unique<QHelpEngine>(CollectionFile(book, folder));
    engine->setReadOnly(false);
    if (!engine->setupData()) {
        throw Error("The help viewer cannot start: " + engine->error().toStdString());
    }
    // Registered anew each time, so a rebuilt book is always the one shown.
    if (!engine->documentationFileName(kNamespace).isEmpty()) {
        engine->unregisterDocumentation(kNamespace);
    }
    if (!engine->registerDocumentation(path)) {
        throw Error(book + " is not a help book: " + engine->error().toStdString());
    }
    return engine;
}

struct HelpState {
    QPointer<HelpWindow> window;
    std::string book;
    std::string collectionFolder;
};

HelpState& State() {
    static HelpState state;
    return state;
}

HelpWindow* EnsureWindow() {
    HelpState& s = State();
    if (!s.window) {
        const std::string book = s.book.empty() ? HelpBookPath() : s.book;
        s.window = new HelpWindow(book, s.collectionFolder);
        s.window->setAttribute(Qt::WA_DeleteOnClose);
    }
    s.window->show();
    s.window->raise();
    s.window->activateWindow();
    return s.window;
}

void Report(const std::exception& e) {
    ShowInfo(u"Error displaying HTML Help:\n" + Utf8ToUtf16(e.what()));
}

template <typename Fn> void Guarded(Fn&& fn) {
    try {
        fn(*EnsureWindow());
    } catch (const std::exception& e) {
        Report(e);
    }
}

class HelpKey : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress ||
            static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1 || !watched->isWidgetType()) {
            return false;
        }
        for (auto* w = static_cast<QWidget*>(watched); w; w = w->parentWidget()) {
            if (const int context = w->property("helpContext").toInt(); context > 0) {
                ShowHelpContext(context);
                return true;
            }
            if (w->isWindow()) {
                break;
            }
        }
        ShowHelpContents();
        return true;
    }
};

} // namespace

std::string HelpBookPath() {
    return InstallationFolder() + "help/Quillfence.qch";
}

HelpWindow::HelpWindow(const std::string& book, const std::string& collectionFolder,
                       QWidget* parent)
    : QMainWindow(parent), engine_(OpenEngine(book, collectionFolder)) {
    setObjectName("HelpWindow");
    setWindowTitle("Quillfence Help");
    resize(900, 640);
    browser_ = new HelpBrowser(*engine_, this);
    browser_->setObjectName("helpPage");
    browser_->setOpenExternalLinks(true);

    tabs_ = new QTabWidget;
    tabs_->setObjectName("helpTabs");
    QHelpContentWidget* contents = engine_->contentWidget();
    contents->setObjectName("contentsTree");
    QHelpIndexWidget* index = engine_->indexWidget();
    index->setObjectName("indexList");
    auto* search = new QWidget;
    search->setObjectName("searchSheet");
    auto* searchLayout = new QVBoxLayout(search);
    searchLayout->addWidget(engine_->searchEngine()->queryWidget());
    searchLayout->addWidget(engine_->searchEngine()->resultWidget(), 1);
    auto* contentsPage = new QWidget;
    contentsPage->setObjectName("contentsSheet");
    (new QVBoxLayout(contentsPage))->addWidget(contents);
    auto* indexPage = new QWidget;
    indexPage->setObjectName("indexSheet");
    (new QVBoxLayout(indexPage))->addWidget(index);
    SkipWalk(*engine_->searchEngine()->queryWidget());
    SkipWalk(*engine_->searchEngine()->resultWidget());
    tabs_->addTab(contentsPage, "&Contents");
    tabs_->addTab(indexPage, "&Index");
    tabs_->addTab(search, "&Search");

    auto* splitter = new QSplitter;
    splitter->addWidget(tabs_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 640});
    setCentralWidget(splitter);

    QToolBar* bar = addToolBar("Navigation");
    bar->setObjectName("helpToolBar");
    bar->setMovable(false);
    QAction* back = bar->addAction("Back", browser_, &QTextBrowser::backward);
    back->setObjectName("backButton");
    QAction* forward = bar->addAction("Forward", browser_, &QTextBrowser::forward);
    forward->setObjectName("forwardButton");
    QAction* home = bar->addAction("Contents", this, [this] { ShowTab(Tab::Contents); });
    home->setObjectName("homeButton");

    connect(contents, &QHelpContentWidget::linkActivated, this, &HelpWindow::ShowPage);
    // The contents are read on a thread of the engine's own.
    connect(engine_->contentModel(), &QHelpContentModel::contentsCreated, contents,
            [contents] { contents->expandToDepth(0); });
    connect(index, &QHelpIndexWidget::documentActivated, this,
            [this](const QHelpLink& link, const QString&) { ShowPage(link.url); });
    connect(engine_->searchEngine()->queryWidget(), &QHelpSearchQueryWidget::search, this, [this] {
        engine_->searchEngine()->search(engine_->searchEngine()->queryWidget()->searchInput());
    });
    connect(engine_->searchEngine()->resultWidget(), &QHelpSearchResultWidget::requestShowLink,
            this, &HelpWindow::ShowPage);
    engine_->searchEngine()->scheduleIndexDocumentation();
    TranslateAndWatch(*this);
}

HelpWindow::~HelpWindow() = default;

void HelpWindow::ShowTab(Tab tab) {
    tabs_->setCurrentIndex(static_cast<int>(tab));
    if (tab == Tab::Contents) {
        ShowPage(QUrl(QString("qthelp://%1/doc/index.html").arg(kNamespace)));
        engine_->contentWidget()->expandToDepth(0);
    } else if (tab == Tab::Index) {
        engine_->indexWidget()->setFocus();
    }
}

bool HelpWindow::ShowContext(int context) {
    const QList<QHelpLink> links =
        engine_->documentsForIdentifier(QString("context.%1").arg(context));
    if (links.isEmpty()) {
        return false;
    }
    ShowPage(links.first().url);
    return true;
}

void HelpWindow::ShowPage(const QUrl& url) {
    browser_->setSource(url);
}

bool HelpWindow::WaitForContents(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    QHelpContentModel* model = engine_->contentModel();
    while ((model->isCreatingContents() || model->rowCount() == 0) &&
           timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return model->rowCount() > 0;
}

QUrl HelpWindow::CurrentPage() const {
    return browser_->source();
}

void ShowHelpContents() {
    Guarded([](HelpWindow& w) { w.ShowTab(HelpWindow::Tab::Contents); });
}

void ShowHelpIndex() {
    Guarded([](HelpWindow& w) { w.ShowTab(HelpWindow::Tab::Index); });
}

void ShowHelpContext(int context) {
    Guarded([context](HelpWindow& w) {
        if (!w.ShowContext(context)) {
            w.ShowTab(HelpWindow::Tab::Contents);
        }
    });
}

HelpWindow* OpenHelpWindow() {
    return State().window;
}

void CloseHelpWindow() {
    delete State().window.data();
}

void SetHelpBookForTesting(const std::string& book, const std::string& collectionFolder) {
    CloseHelpWindow();
    State().book = book;
    State().collectionFolder = collectionFolder;
}

void InstallHelpKey(QObject& app) {
    app.installEventFilter(new HelpKey(&app));
}

} // namespace qf::desktop
