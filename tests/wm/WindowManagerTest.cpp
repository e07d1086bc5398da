// Pictavo on a desktop with a window manager: openbox on a display of the test's
// own (run-under-openbox.sh). The program starts as it does for a user; clicks,
// keys and the wheel go through the X server, and the stacking order is the one
// the window manager publishes on the root window.
#include "CImageApp.h"
#include "CImageDlg.h"
#include "CPanelDlg.h"
#include "program/SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// The ids of the managed windows, bottom first.
QList<WId> stacking()
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    xprop.waitForFinished();
    const QString text = QString::fromLatin1(xprop.readAllStandardOutput());
    QList<WId> windows;
    for (const QString& id : text.section(u'#', 1).split(u',', Qt::SkipEmptyParts))
        windows << id.trimmed().toULongLong(nullptr, 16);
    return windows;
}

WId activeWindow()
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")});
    xprop.waitForFinished();
    return QString::fromLatin1(xprop.readAllStandardOutput())
        .section(u'#', 1)
        .trimmed()
        .toULongLong(nullptr, 16);
}

bool isAbove(WId upper, WId lower)
{
    const QList<WId> order = stacking();
    return order.contains(lower) && order.indexOf(upper) > order.indexOf(lower);
}

// Real input through the X server, as the user's hand gives it.
void xdotool(const QStringList& arguments)
{
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), arguments), 0);
}

void clickAt(const QWidget* widget)
{
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

// Clicks into `widget` until the window manager has made its window the active
// one; it hands the focus over asynchronously, and a click that arrives while it
// is still busy (restoring a window, say) may get lost.
bool focusByClick(const QWidget* widget)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        clickAt(widget);
        if (QTest::qWaitFor([widget] { return activeWindow() == widget->window()->winId(); }, 1000))
            return true;
    }
    return false;
}

// Calls `handle` with the first visible top-level widget `match` accepts, from
// within whatever event loop runs (a modal dialog's too).
void whenShown(std::function<bool(QWidget*)> match, std::function<void(QWidget*)> handle)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, match, handle] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && match(widget)) {
                timer->stop();
                timer->deleteLater();
                handle(widget);
                return;
            }
        }
    });
    timer->start();
}

} // namespace

class WindowManagerTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_temp;
    std::unique_ptr<CImageApp> m_program;
    CImageDlg* m_main = nullptr;
    CPanelDlg* m_panel = nullptr;

    QString picture(const QString& name, int width, int height)
    {
        // Stripes, so that every scrolled view looks different.
        QImage image(width, height, QImage::Format_RGB32);
        QPainter painter(&image);
        for (int y = 0; y < height; y += 16)
            painter.fillRect(0, y, width, 8, QColor::fromHsv((y * 7) % 360, 200, 220));
        for (int x = 0; x < width; x += 40)
            painter.fillRect(x, 0, 4, height, Qt::black);
        painter.end();
        const QString path = m_temp.filePath(name);
        image.save(path);
        return path;
    }

    QWidget* view() const { return m_main->findChild<QWidget*>(QStringLiteral("1000")); }
    QScrollBar* bar(const char* id) const
    {
        return m_main->findChild<QScrollBar*>(QLatin1String(id));
    }

    void drop(QWidget* target, const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        QVERIFY(dropped.isAccepted());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_temp.isValid());
        // A first start with the places a user left the windows at.
        const QString start = picture(QStringLiteral("start.png"), 1200, 900);
        {
            const std::unique_ptr<QSettings> settings = openProgramSettings().store;
            settings->setValue(QStringLiteral("Setting/Testfile"), start);
            settings->setValue(QStringLiteral("Setting/Position Left"), 260);
            settings->setValue(QStringLiteral("Setting/Position Top"), 120);
            settings->setValue(QStringLiteral("Setting/Position Right"), 1260);
            settings->setValue(QStringLiteral("Setting/Position Bottom"), 820);
            settings->setValue(QStringLiteral("SettingSub1/Position Left"), 60);
            settings->setValue(QStringLiteral("SettingSub1/Position Top"), 80);
            settings->setValue(QStringLiteral("Setting/Destination"), m_temp.path());
        }
        m_program = std::make_unique<CImageApp>(QStringList{QStringLiteral("Pictavo")});
        QVERIFY(m_program->start());
        m_main = m_program->mainWindow();
        m_panel = m_main->findChild<CPanelDlg*>();
        QVERIFY(m_panel != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_VERIFY(m_panel->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(m_panel));
        QTRY_VERIFY(stacking().contains(m_panel->winId()));
        QTRY_VERIFY(m_main->conversionsIdle());
    }

    void cleanupTestCase()
    {
        if (m_main != nullptr)
            m_main->reject();
        m_program.reset();
    }

    // The panel is the only way to change anything: it must never hide behind
    // the picture.
    void panelStaysAboveMainWindow()
    {
        QTRY_COMPARE(m_main->frameGeometry().topLeft(), QPoint(260, 120));
        QTRY_COMPARE(m_panel->frameGeometry().topLeft(), QPoint(60, 80));
        QVERIFY(isAbove(m_panel->winId(), m_main->winId()));

        QVERIFY(focusByClick(view()));
        QTest::qWait(300);
        QVERIFY(isAbove(m_panel->winId(), m_main->winId()));

        xdotool({QStringLiteral("windowminimize"), QString::number(m_main->winId())});
        QTRY_VERIFY(m_main->isMinimized());
        QTRY_VERIFY(!m_panel->windowHandle()->isExposed());
        xdotool({QStringLiteral("windowactivate"), QString::number(m_main->winId())});
        QTRY_VERIFY(!m_main->isMinimized());
        QTRY_VERIFY(m_panel->windowHandle()->isExposed());
        QTRY_VERIFY(isAbove(m_panel->winId(), m_main->winId()));
    }

    void openKeyInEitherWindow_data()
    {
        QTest::addColumn<bool>("inPanel");
        QTest::newRow("main window") << false;
        QTest::newRow("panel") << true;
    }

    // Strg+O opens the open dialog, in German and on top, whichever window has the focus.
    void openKeyInEitherWindow()
    {
        QFETCH(bool, inPanel);
        QWidget* target = inPanel ? m_panel->findChild<QWidget*>(QStringLiteral("1018")) : view();
        QVERIFY(focusByClick(target));
        QString title;
        bool onTop = false;
        whenShown([](QWidget* widget) { return qobject_cast<QFileDialog*>(widget) != nullptr; },
                  [&](QWidget* dialog) {
                      QTRY_VERIFY(stacking().contains(dialog->winId()));
                      title = dialog->windowTitle();
                      onTop = stacking().constLast() == dialog->winId();
                      qobject_cast<QDialog*>(dialog)->reject();
                  });
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+o")});
        QTRY_COMPARE(title, QStringLiteral("Öffnen"));
        QVERIFY(onTop);
        QTRY_VERIFY(isAbove(m_panel->winId(), m_main->winId()));
    }

    // The wheel scrolls (Shift+wheel sideways) and a drag pulls the picture along.
    void wheelAndDragMoveThePreview()
    {
        m_main->Update(3000, UpdateKind::Rescale);
        QScrollBar* vertical = bar("1003");
        QScrollBar* horizontal = bar("1002");
        QTRY_VERIFY(vertical->isVisible() && horizontal->isVisible());
        QCOMPARE(vertical->pageStep(), qRound(view()->height() * view()->devicePixelRatioF()));
        const int startY = vertical->value();
        const QImage before = view()->grab().toImage();

        const QPoint at = view()->mapToGlobal(view()->rect().center());
        xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                 QStringLiteral("click"), QStringLiteral("5")});
        QTRY_VERIFY(vertical->value() > startY);
        QTRY_VERIFY(view()->grab().toImage() != before);

        const int startX = horizontal->value();
        xdotool({QStringLiteral("keydown"), QStringLiteral("shift"), QStringLiteral("click"),
                 QStringLiteral("5"), QStringLiteral("keyup"), QStringLiteral("shift")});
        QTRY_VERIFY(horizontal->value() > startX);

        // Dragged up and left by 100 pixels: 100 pixels more of the right and bottom.
        const int x = horizontal->value();
        const int y = vertical->value();
        xdotool({QStringLiteral("mousedown"), QStringLiteral("1"),
                 QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("-50"),
                 QStringLiteral("-50"), QStringLiteral("mousemove_relative"), QStringLiteral("--"),
                 QStringLiteral("-50"), QStringLiteral("-50"), QStringLiteral("mouseup"),
                 QStringLiteral("1")});
        const qreal ratio = view()->devicePixelRatioF();
        QTRY_COMPARE(horizontal->value(), x + qRound(100 * ratio));
        QTRY_COMPARE(vertical->value(), y + qRound(100 * ratio));
    }

    void dropOntoEitherWindow_data()
    {
        QTest::addColumn<bool>("onPanel");
        QTest::newRow("main window") << false;
        QTest::newRow("panel") << true;
    }

    // One picture opens as the open command opens it.
    void dropOntoEitherWindow()
    {
        QFETCH(bool, onPanel);
        const QString name =
            onPanel ? QStringLiteral("auf Panel.png") : QStringLiteral("aufs Bild.png");
        const QString path = picture(name, 320, 240);
        drop(onPanel ? static_cast<QWidget*>(m_panel) : view(), {QUrl::fromLocalFile(path)});
        QTRY_COMPARE(m_main->currentPicture(), path);
        QVERIFY(m_main->windowTitle().startsWith(name + QStringLiteral(" (")));
    }

    // Several files become a conversion of just those files; a folder the source
    // of the directory conversion; a web address is refused in German.
    void dropSeveralFilesAFolderOrAWebAddress()
    {
        const QString first = picture(QStringLiteral("eins.png"), 400, 300);
        const QString second = picture(QStringLiteral("zwei.png"), 300, 400);
        const QString folder = m_temp.filePath(QStringLiteral("Ziel"));
        QVERIFY(QDir().mkpath(folder));
        m_main->Update(640, UpdateKind::Rescale);
        int listed = 0;
        whenShown(
            [](QWidget* widget) { return widget->objectName() == QLatin1String("CFolderDlg"); },
            [&](QWidget* dialog) {
                listed = dialog->findChild<QListWidget*>()->count();
                dialog->findChild<QLineEdit*>(QStringLiteral("1022"))->setText(folder);
                qobject_cast<QDialog*>(dialog)->accept();
            });
        bool finished = false;
        whenShown(
            [](QWidget* widget) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                return box != nullptr &&
                       box->text().startsWith(QLatin1String("Alle Dateine sind umgewandelt"));
            },
            [&](QWidget* box) {
                finished = true;
                qobject_cast<QDialog*>(box)->accept();
            });
        drop(view(), {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
        QTRY_VERIFY_WITH_TIMEOUT(finished, 20000);
        QTRY_VERIFY(!m_main->IsBatchRunning());
        QCOMPARE(listed, 2);
        // Named as in a directory conversion: "NAME WxH.jpg".
        const QStringList written = QDir(folder).entryList(QDir::Files);
        QCOMPARE(written.size(), 2);
        QVERIFY2(QRegularExpression(QStringLiteral("^eins \\d+x\\d+\\.jpg$"))
                     .match(written[0])
                     .hasMatch(),
                 qPrintable(written[0]));
        QVERIFY2(QRegularExpression(QStringLiteral("^zwei \\d+x\\d+\\.jpg$"))
                     .match(written[1])
                     .hasMatch(),
                 qPrintable(written[1]));

        QString source;
        whenShown(
            [](QWidget* widget) { return widget->objectName() == QLatin1String("CFolderDlg"); },
            [&](QWidget* dialog) {
                source = dialog->findChild<QLineEdit*>(QStringLiteral("1021"))->text();
                qobject_cast<QDialog*>(dialog)->reject();
            });
        drop(m_panel, {QUrl::fromLocalFile(folder)});
        QTRY_COMPARE(source, folder);

        QString refusal;
        whenShown([](QWidget* widget) { return qobject_cast<QMessageBox*>(widget) != nullptr; },
                  [&](QWidget* box) {
                      refusal = qobject_cast<QMessageBox*>(box)->text();
                      qobject_cast<QDialog*>(box)->accept();
                  });
        drop(view(), {QUrl(QStringLiteral("https://example.org/bild.jpg"))});
        QTRY_VERIFY(
            refusal.startsWith(QStringLiteral("Pictavo öffnet nur Bilder und Ordner, die auf "
                                              "diesem Rechner liegen.")));
        QVERIFY(refusal.contains(QStringLiteral("https://example.org/bild.jpg")));
    }
};

QTEST_MAIN(WindowManagerTest)
#include "WindowManagerTest.moc"
