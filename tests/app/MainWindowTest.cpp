// The main window: view arithmetic, scrolling, fit and zoom, before and after,
// settings kept between starts,
// Enter and Escape, the command line, pictures that cannot be read, "Öffnen",
// "Speichern unter", stored window rectangles, and the real program ended by
// SIGTERM.
#include "CImageDlg.h"
#include "RecordingMessageSink.h"
#include "resource.h"
#include "program/SettingsStore.h"
#include "ViewGeometry.h"
#include "ViewZoom.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

#include <sys/stat.h>

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_temp;
    QString m_settingsFile;

    std::unique_ptr<QSettings> store()
    {
        return std::make_unique<QSettings>(m_settingsFile, QSettings::IniFormat);
    }

    QString picture(const QString& name, int width, int height)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        const QString path = m_temp.filePath(name);
        image.save(path);
        return path;
    }

    // The window's command `id` (its context menu's entries).
    static QAction* command(QWidget& window, int id)
    {
        for (QAction* action : window.actions()) {
            if (action->property("id").toInt() == id)
                return action;
        }
        return nullptr;
    }

    // Where a picture() shows dark green in a shot of the view's grey.
    static QRect greenIn(const QImage& shot)
    {
        QRect drawn;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QColor colour = shot.pixelColor(x, y);
                if (colour.red() < 64 && colour.green() > 64)
                    drawn |= QRect(x, y, 1, 1);
            }
        }
        return drawn;
    }

    static QByteArray contentsOf(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList temporaryPictures() const
    {
        return QDir(m_temp.filePath(QStringLiteral("tmp")))
            .entryList({QStringLiteral("Temppic.jpg*")}, QDir::Files);
    }

private slots:
    void init()
    {
        QVERIFY(m_temp.isValid());
        QDir(m_temp.path()).mkpath(QStringLiteral("tmp"));
        qputenv("TEMP", m_temp.filePath(QStringLiteral("tmp")).toLocal8Bit());
        m_settingsFile = m_temp.filePath(QStringLiteral("Pictavo.conf"));
        QFile::remove(m_settingsFile);
    }

    void viewBoxCentresOrScrolls()
    {
        // Landscape 800 x 600 in a view of 400 x 300: scroll ranges 0..400, 0..300.
        const QSize box = viewBoxSize(800, 600, QSize(640, 480));
        QCOMPARE(box, QSize(800, 600));
        QCOMPARE(box.width() - 400, 400);
        QCOMPARE(box.height() - 300, 300);
        QCOMPARE(viewBoxSize(800, 600, QSize(480, 640)), QSize(600, 800));
        // Scrolled right by one page: the picture moves by the view's width.
        const std::optional<int> paged = scrolledPosition(0, kPageDown, 0, 400, 400);
        QVERIFY(paged.has_value());
        QCOMPARE(viewPictureRect(QSize(400, 300), box, *paged, 0, QSize(640, 480)).left(), -399);
        // A smaller box is centred on the grey background.
        QCOMPARE(viewPictureRect(QSize(400, 300), QSize(200, 150), 0, 0, QSize(640, 480)),
                 QRect(100, 75, 200, 150));
        // A preview of other proportions is fitted into the box and centred in it.
        QCOMPARE(viewPictureRect(QSize(400, 300), QSize(200, 150), 0, 0, QSize(100, 100)),
                 QRect(125, 75, 150, 150));
    }

    void scrollCodesFollowTheTable()
    {
        // Pages are the view's length (here 300), at least a line.
        QCOMPARE(*scrolledPosition(50, kLineUp, 0, 400, 300), 40);
        QCOMPARE(*scrolledPosition(50, kLineDown, 0, 400, 300), 60);
        QCOMPARE(*scrolledPosition(350, kPageUp, 0, 400, 300), 50);
        QCOMPARE(*scrolledPosition(50, kPageDown, 0, 400, 300), 350);
        QCOMPARE(*scrolledPosition(50, kPageDown, 0, 400, 0), 60);
        QCOMPARE(*scrolledPosition(50, kTop, 0, 400, 300), 40);
        QCOMPARE(*scrolledPosition(50, kBottom, 0, 400, 300), 60);
        QCOMPARE(*scrolledPosition(50, kThumbTrack, 123, 400, 300), 123);
        QVERIFY(!scrolledPosition(50, kThumbPosition, 123, 400, 300));
        QVERIFY(!scrolledPosition(50, kEndScroll, 123, 400, 300));
        QCOMPARE(*scrolledPosition(5, kPageUp, 0, 400, 300), 0);
        // Dragged to the end: one below the range maximum.
        QCOMPARE(*scrolledPosition(0, kThumbTrack, 400, 400, 300), 399);
        QCOMPARE(*scrolledPosition(0, kLineDown, 0, 0, 300), 0);
    }

    // What the view shows at each scale, where a notch of Strg+wheel leads,
    // and where the view is scrolled then, keeping the point under the pointer.
    void viewScaleFollowsTheMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("step");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<QSize>("view");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<int>("notches");
        QTest::addColumn<int>("next");
        QTest::addColumn<QPoint>("anchor");
        QTest::addColumn<QPoint>("scroll");
        QTest::addColumn<QPoint>("scrolled");
        const int one = int(ViewMode::OneToOne);
        const int fit = int(ViewMode::Fit);
        const int zoom = int(ViewMode::Zoom);
        // Zoomed to 1131 x 849: the point at 300, 200 of 800 x 600 stays under the pointer.
        QTest::newRow("one to one") << one << 0 << QSize(800, 600) << QSize(400, 300)
                                    << QSize(800, 600) << 1 << 1 << QPoint(200, 150)
                                    << QPoint(100, 50) << QPoint(224, 133);
        QTest::newRow("fit shrinks") << fit << 0 << QSize(800, 600) << QSize(400, 400)
                                     << QSize(400, 300) << 1 << -1 << QPoint(200, 200)
                                     << QPoint(0, 0) << QPoint(83, 12);
        // At 0.4 between two steps: out to 2^(-3/2).
        QTest::newRow("fit by the tighter side") << fit << 0 << QSize(1000, 500) << QSize(400, 400)
                                                 << QSize(400, 200) << -1 << -3 << QPoint(100, 100)
                                                 << QPoint(0, 0) << QPoint(0, 0);
        QTest::newRow("fit never enlarges") << fit << 5 << QSize(200, 150) << QSize(400, 300)
                                            << QSize(200, 150) << 1 << 1 << QPoint(0, 0)
                                            << QPoint(0, 0) << QPoint(0, 0);
        QTest::newRow("zoomed in") << zoom << 3 << QSize(100, 80) << QSize(400, 300)
                                   << QSize(283, 226) << 1 << 4 << QPoint(200, 150)
                                   << QPoint(0, 0) << QPoint(0, 10);
        QTest::newRow("smallest zoom") << zoom << -8 << QSize(1600, 1200) << QSize(400, 300)
                                       << QSize(100, 75) << -1 << -8 << QPoint(10, 10)
                                       << QPoint(0, 0) << QPoint(0, 0);
        QTest::newRow("largest zoom") << zoom << 6 << QSize(10, 10) << QSize(400, 300)
                                      << QSize(80, 80) << 2 << 6 << QPoint(10, 10)
                                      << QPoint(0, 0) << QPoint(0, 0);
        QTest::newRow("a pixel stays") << zoom << -8 << QSize(8, 4) << QSize(400, 300)
                                       << QSize(1, 1) << 1 << -7 << QPoint(0, 0) << QPoint(0, 0)
                                       << QPoint(0, 0);
    }

    void viewScaleFollowsTheMode()
    {
        QFETCH(int, mode);
        QFETCH(int, step);
        QFETCH(QSize, box);
        QFETCH(QSize, view);
        QFETCH(QSize, shown);
        QFETCH(int, notches);
        QFETCH(int, next);
        QFETCH(QPoint, anchor);
        QFETCH(QPoint, scroll);
        QFETCH(QPoint, scrolled);
        const double scale = viewScale(ViewMode(mode), step, box, view);
        QCOMPARE(scaledBox(box, scale), shown);
        QCOMPARE(zoomedStep(scale, notches), next);
        QCOMPARE(scrollKeepingPoint(anchor, scroll, shown, scaledBox(box, zoomFactor(next)), view),
                 scrolled);
    }

    void windowShowsScrollBarsOnlyWhenNeeded()
    {
        const QString landscape = picture(QStringLiteral("wide.png"), 800, 600);
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), landscape);
            settings.setValue(QStringLiteral("Setting/X"), 360);
        }
        // As a user starts: the stored picture and size, the panel set up, the
        // first result in place; the 360 x 270 box fits a view of 400 x 300.
        auto window = std::make_unique<CImageDlg>(store());
        window->OnInitDialog();
        window->resize(436, 336);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(window->conversionsIdle());
        window->repaint();
        auto* horizontal = window->findChild<QScrollBar*>(QStringLiteral("1002"));
        auto* vertical = window->findChild<QScrollBar*>(QStringLiteral("1003"));
        QVERIFY(horizontal != nullptr && vertical != nullptr);
        QCOMPARE(window->settings().m_nTargetOther, 270);
        QVERIFY(!horizontal->isVisible() && !vertical->isVisible());
        window->reject();
        window.reset();
        QCOMPARE(QSettings(m_settingsFile, QSettings::IniFormat).value("Setting/Y").toInt(), 270);

        // Made larger, it gets its bars.
        window = std::make_unique<CImageDlg>(store());
        window->OnInitDialog();
        QTRY_VERIFY(window->conversionsIdle());
        window->resize(436, 336); // a view of 400 x 300
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->Update(800, UpdateKind::Rescale);
        QCOMPARE(window->settings().m_nTargetOther, 600);
        window->repaint();
        horizontal = window->findChild<QScrollBar*>(QStringLiteral("1002"));
        vertical = window->findChild<QScrollBar*>(QStringLiteral("1003"));
        QTRY_VERIFY(horizontal->isVisible());
        QCOMPARE(horizontal->maximum(), 400);
        QCOMPARE(vertical->maximum(), 300);
        // A page is the view's length: the thumbs show how much of the picture is in view.
        QCOMPARE(horizontal->pageStep(), 400);
        QCOMPARE(vertical->pageStep(), 300);

        window->Update(2, UpdateKind::Rescale); // clamped to 5: the picture fits, the bars go
        QCOMPARE(window->settings().m_nTargetSize, 5);
        window->repaint();
        QTRY_VERIFY(!horizontal->isVisible());
        QCOMPARE(horizontal->value(), 0);
        window->Update(5000, UpdateKind::Rescale);
        QCOMPARE(window->settings().m_nTargetSize, 3000);
        window->reject();
    }

    // One picture pixel on one device pixel, whatever the screen's scale: CTest
    // runs this once more with QT_SCALE_FACTOR=2.
    void previewShowsPicturePixelsOneToOne()
    {
        const QString photo = picture(QStringLiteral("gruen.png"), 240, 160);
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), photo);
        }
        CImageDlg window(store());
        window.OnInitDialog();
        window.resize(600, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Update(200, UpdateKind::Rescale);
        window.Update(90, UpdateKind::Convert);
        QTRY_VERIFY(window.conversionsIdle());
        QCOMPARE(window.lastResult().outputSize, QSize(200, 133));
        auto* view = window.findChild<QWidget*>(QStringLiteral("1000"));
        const QImage shot = view->grab().toImage();
        QCOMPARE(shot.size(), view->size() * view->devicePixelRatioF());
        QCOMPARE(greenIn(shot).size(), QSize(200, 133));
        window.reject();
    }

    // "Einpassen" fits the picture into a view of 1304 x 1000 device pixels to
    // the pixel and never enlarges it; "+" and "−" (also "=", Strg, the keypad's)
    // then zoom one step of the wheel about the view's centre. CTest runs this
    // once more with QT_SCALE_FACTOR=2.
    void fitAndZoomKeys_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<int>("target");
        QTest::addColumn<QSize>("fitted");
        QTest::addColumn<int>("in");
        QTest::addColumn<int>("out");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QSize>("zoomedIn");
        QTest::addColumn<QSize>("zoomedOut");
        const int plain = Qt::NoModifier;
        // 1597 x 1197 at 0.817 (between two steps): in to 1:1, out to 1/√2.
        QTest::newRow("wide, exact fit") << QSize(2000, 1500) << 1597 << QSize(1304, 977)
                                         << int(Qt::Key_Plus) << int(Qt::Key_Minus) << plain
                                         << QSize(1597, 1197) << QSize(1128, 846);
        QTest::newRow("small stays 1:1") << QSize(300, 200) << 200 << QSize(200, 133)
                                         << int(Qt::Key_Plus) << int(Qt::Key_Minus)
                                         << int(Qt::ControlModifier) << QSize(282, 188)
                                         << QSize(200, 133);
        QTest::newRow("equals sign") << QSize(300, 200) << 200 << QSize(200, 133)
                                     << int(Qt::Key_Equal) << int(Qt::Key_Minus) << plain
                                     << QSize(282, 188) << QSize(200, 133);
        QTest::newRow("tall, keypad") << QSize(1000, 1600) << 1200 << QSize(625, 1000)
                                      << int(Qt::Key_Plus) << int(Qt::Key_Minus)
                                      << int(Qt::KeypadModifier) << QSize(750, 1200)
                                      << QSize(530, 848);
    }

    void fitAndZoomKeys()
    {
        QFETCH(QSize, source);
        QFETCH(int, target);
        QFETCH(QSize, fitted);
        QFETCH(int, in);
        QFETCH(int, out);
        QFETCH(int, modifiers);
        QFETCH(QSize, zoomedIn);
        QFETCH(QSize, zoomedOut);
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"),
                              picture(QStringLiteral("bild.png"), source.width(), source.height()));
            settings.setValue(QStringLiteral("Setting/X"), target);
        }
        // As a user starts: the panel sets the size before the first result.
        CImageDlg window(store());
        window.OnInitDialog();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(window.conversionsIdle());
        auto* view = window.findChild<QWidget*>(QStringLiteral("1000"));
        const qreal ratio = view->devicePixelRatioF();
        window.resize(qRound(1304 / ratio) + 36, qRound(1000 / ratio) + 36);
        QTRY_COMPARE(view->size() * ratio, QSize(1304, 1000));
        auto* horizontal = window.findChild<QScrollBar*>(QStringLiteral("1002"));
        auto* vertical = window.findChild<QScrollBar*>(QStringLiteral("1003"));
        // The picture's size: along a side where the view scrolls its whole
        // length, else the dark green it shows on the grey.
        const auto shown = [&] {
            const QImage shot = view->grab().toImage();
            const QRect drawn = greenIn(shot);
            return QSize(
                horizontal->isVisible() ? horizontal->maximum() + shot.width() : drawn.width(),
                vertical->isVisible() ? vertical->maximum() + shot.height() : drawn.height());
        };
        // A scrolled view is scrolled to the middle: the centre kept its place.
        const auto centred = [](const QScrollBar* bar) {
            return !bar->isVisible() || std::abs(2 * bar->value() - bar->maximum()) <= 2;
        };
        command(window, ID_VIEW_FIT)->trigger();
        QCOMPARE(shown(), fitted);
        QVERIFY(!horizontal->isVisible() && !vertical->isVisible());
        // As the user presses them, on the view.
        QTest::keyClick(view, Qt::Key(in), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(shown(), zoomedIn);
        QVERIFY(centred(horizontal) && centred(vertical));
        QTest::keyClick(view, Qt::Key(out), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(shown(), zoomedOut);
        window.reject();
    }

    // The source, mirrored as the result is but in colour, left of the divider;
    // the black and white result right of it. CTest runs this once more with
    // QT_SCALE_FACTOR=2.
    // Fitted into a smaller window, a picture of one-pixel squares shows even
    // grey, as the conversion's resampler makes it; the painter's bilinear
    // scaling showed bands of moiré.
    void shrunkViewIsResampled()
    {
        QImage board(1200, 900, QImage::Format_RGB32);
        for (int y = 0; y < board.height(); ++y)
            for (int x = 0; x < board.width(); ++x)
                board.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        const QString photo = m_temp.filePath(QStringLiteral("board.png"));
        QVERIFY(board.save(photo));
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), photo);
        }
        CImageDlg window(store());
        window.OnInitDialog();
        window.resize(600, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        command(window, ID_VIEW_FIT)->trigger();
        window.Update(1200, UpdateKind::Rescale);
        window.Update(95, UpdateKind::Convert);
        QTRY_VERIFY(window.conversionsIdle());
        auto* view = window.findChild<QWidget*>(QStringLiteral("1000"));
        const QImage image = view->grab().toImage();
        const QPoint centre = image.rect().center();
        int least = 255;
        int most = 0;
        for (int y = centre.y() - 40; y < centre.y() + 40; ++y)
            for (int x = centre.x() - 40; x < centre.x() + 40; ++x) {
                least = std::min(least, qGray(image.pixel(x, y)));
                most = std::max(most, qGray(image.pixel(x, y)));
            }
        QVERIFY2(most - least <= 24, qPrintable(QStringLiteral("%1..%2").arg(least).arg(most)));
    }

    // A picture that "notfalls verkleinern" made smaller than asked is shown at
    // the size it got, not stretched back to the size asked for.
    void shrunkResultIsShownAtItsSize()
    {
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"),
                              picture(QStringLiteral("flat.png"), 1600, 1200));
            settings.setValue(QStringLiteral("Setting/X"), 800);
            settings.setValue(QStringLiteral("Setting/Max Kb"), 1);
            settings.setValue(QStringLiteral("Setting/Notfalls verkleinern"), 1);
        }
        CImageDlg window(store());
        window.OnInitDialog();
        window.resize(1000, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(window.conversionsIdle());
        auto* view = window.findChild<QWidget*>(QStringLiteral("1000"));
        const QRect drawn = greenIn(view->grab().toImage());
        QVERIFY2(drawn.width() >= 16 && drawn.width() < 800, qPrintable(QString::number(drawn.width())));
        QVERIFY(std::abs(drawn.width() * 3 - drawn.height() * 4) <= 8);
        window.reject();
    }

    void compareShowsTheSourceLeftOfTheDivider()
    {
        QImage halves(240, 160, QImage::Format_RGB32);
        halves.fill(Qt::red);
        for (int y = 0; y < 160; ++y)
            std::fill_n(reinterpret_cast<QRgb*>(halves.scanLine(y)) + 120, 120, qRgb(0, 0, 255));
        const QString photo = m_temp.filePath(QStringLiteral("halves.png"));
        QVERIFY(halves.save(photo));
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), photo);
        }
        CImageDlg window(store());
        window.OnInitDialog();
        window.resize(600, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.settings().m_bGrayscale = 1;
        window.settings().m_nOrientation = 4; // mirrored
        window.Update(200, UpdateKind::Rescale);
        window.Update(90, UpdateKind::Convert);
        QTRY_VERIFY(window.conversionsIdle());
        auto* view = window.findChild<QWidget*>(QStringLiteral("1000"));
        const qreal ratio = view->devicePixelRatioF();
        const QColor grey(128, 128, 128);
        // The drawn picture's columns along the middle row of the view.
        const auto shot = [view, grey](int& left, int& right) {
            const QImage image = view->grab().toImage();
            const int y = image.height() / 2;
            // The grey background and the black frame around it.
            const auto outside = [&](int x) {
                const QColor c = image.pixelColor(x, y);
                return c == grey || c == QColor(Qt::black);
            };
            left = 0;
            right = image.width() - 1;
            while (left < right && outside(left))
                ++left;
            while (right > left && outside(right))
                --right;
            return image;
        };
        // "red", "blue" or "grey" at `share` of the picture's width.
        const auto colourAt = [&](double share) {
            int left = 0;
            int right = 0;
            const QImage image = shot(left, right);
            const QColor c = image.pixelColor(left + int(share * (right - left)), image.height() / 2);
            if (c.red() > 160 && c.green() < 90 && c.blue() < 90)
                return QStringLiteral("red");
            if (c.blue() > 160 && c.red() < 90 && c.green() < 90)
                return QStringLiteral("blue");
            if (std::abs(c.red() - c.blue()) < 12 && std::abs(c.green() - c.blue()) < 12)
                return QStringLiteral("grey");
            return c.name();
        };
        // Whether anything but the pictures shows above the middle row between
        // `from` and `to` of the picture's width: each picture there is the same
        // from its top down, but for the names of the two sides.
        const auto labelled = [&](double from, double to) {
            int left = 0;
            int right = 0;
            const QImage image = shot(left, right);
            const int middle = image.height() / 2;
            const int top = (image.height() - (right - left + 1) * 2 / 3) / 2 + 1;
            const int end = left + int(to * (right - left));
            for (int x = left + int(from * (right - left)); x < end; ++x) {
                const QColor below = image.pixelColor(x, middle);
                for (int y = top; y < middle; ++y) {
                    const QColor c = image.pixelColor(x, y);
                    const int apart = std::abs(c.red() - below.red()) +
                                      std::abs(c.green() - below.green()) +
                                      std::abs(c.blue() - below.blue());
                    if (apart > 120)
                        return true;
                }
            }
            return false;
        };
        QCOMPARE(colourAt(0.25), QStringLiteral("grey"));
        QVERIFY(!labelled(0.3, 0.45) && !labelled(0.55, 0.7));
        QAction* compare = command(window, 32790);
        QVERIFY(compare != nullptr);
        compare->trigger();
        QCOMPARE(colourAt(0.25), QStringLiteral("blue"));
        QCOMPARE(colourAt(0.75), QStringLiteral("grey"));
        // "Original" and "Ergebnis" beside the divider.
        QVERIFY(labelled(0.3, 0.45));
        QVERIFY(labelled(0.55, 0.7));

        // The divider follows the pressed left button.
        int left = 0;
        int right = 0;
        shot(left, right);
        const QPoint at(qRound((left + 0.9 * (right - left)) / ratio), qRound(view->height() / 2.0));
        QTest::mousePress(view, Qt::LeftButton, {}, at);
        QTest::mouseRelease(view, Qt::LeftButton, {}, at);
        QCOMPARE(colourAt(0.75), QStringLiteral("red"));
        QCOMPARE(colourAt(0.95), QStringLiteral("grey"));
        compare->trigger();
        QCOMPARE(colourAt(0.75), QStringLiteral("grey"));

        // The space bar shows before and after while it is held.
        QTest::keyPress(&window, Qt::Key_Space);
        QCOMPARE(colourAt(0.75), QStringLiteral("red"));
        QTest::keyRelease(&window, Qt::Key_Space);
        QCOMPARE(colourAt(0.75), QStringLiteral("grey"));

        // Two notches of Strg+wheel zoom by two: 200 device pixels become 400.
        QCOMPARE(right - left + 1, 200);
        const QPointF centre(view->width() / 2.0, view->height() / 2.0);
        QWheelEvent wheel(centre, view->mapToGlobal(centre), QPoint(), QPoint(0, 240), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
        shot(left, right);
        QCOMPARE(right - left + 1, 400);
        window.reject();
    }

    void settingsSurviveARestartButAdjustmentsDoNot()
    {
        const QString photo = picture(QStringLiteral("photo.png"), 300, 200);
        {
            CImageDlg window(store());
            window.OnInitDialog();
            command(window, 32791)->trigger(); // "Einpassen" is kept
            window.setCurrentPicture(photo);
            window.Update(1024, UpdateKind::Rescale);
            window.Update(80, UpdateKind::Convert);
            window.settings().m_nBrightness = 30;
            window.settings().m_nOrientation = 5;
            window.settings().m_nDpi = 144;
            QTRY_VERIFY(window.conversionsIdle());
            QCOMPARE(window.lastResult().outputSize, QSize(1024, 682));
            window.reject();
        }
        CImageDlg again(store());
        again.OnInitDialog();
        QTRY_VERIFY(again.conversionsIdle());
        QCOMPARE(again.settings().m_nQuality, 80);
        QCOMPARE(again.settings().m_nTargetSize, 1024);
        QCOMPARE(again.currentPicture(), photo);
        QCOMPARE(again.settings().m_nBrightness, 0);
        QCOMPARE(again.settings().m_nOrientation, 0);
        QCOMPARE(again.settings().m_nDpi, 90);
        QVERIFY(command(again, 32791)->isChecked());
        QVERIFY(!command(again, 32792)->isChecked());
        QCOMPARE(again.windowTitle().left(10), QStringLiteral("photo.png "));
        again.reject();
        QVERIFY(temporaryPictures().isEmpty());
    }

    // The window posts and never waits: previews asked for while the mosaic
    // converts wait, the newer gives way to the newest, and the picture being
    // opened becomes the current one with the result that supersedes its own.
    void aNewerPreviewSupersedesAWaitingOne()
    {
        const QString mosaic =
            QStringLiteral(PICTAVO_TESTDATA_DIR "/photos-large/mosaic_6528x4896.jpg");
        if (!QFileInfo::exists(mosaic))
            QSKIP("The large test photograph is missing.");
        CImageDlg window(store());
        window.OnInitDialog();
        QTRY_VERIFY(window.conversionsIdle());
        QSignalSpy applied(&window, &CImageDlg::conversionApplied);

        window.settings().m_nTargetSize = 6000;
        window.OpenPicture(mosaic);
        window.settings().m_nTargetSize = 100;
        window.Update(70, UpdateKind::Convert);
        window.settings().m_nTargetSize = 120;
        window.Update(70, UpdateKind::Convert);
        QVERIFY(!window.conversionsIdle());
        QVERIFY(window.currentPicture() != mosaic);
        QTRY_VERIFY_WITH_TIMEOUT(window.conversionsIdle(), 60000);

        QVERIFY(applied.count() == 1 || applied.count() == 2);
        for (const QList<QVariant>& arguments : applied)
            QVERIFY(arguments.at(0).value<ConversionOutcome>().conversion.outputSize.width() != 100);
        QCOMPARE(applied.last().at(0).value<ConversionOutcome>().conversion.outputSize.width(), 120);
        QCOMPARE(window.lastResult().outputSize.width(), 120);
        QCOMPARE(window.currentPicture(), mosaic);
        QVERIFY(window.windowTitle().startsWith(QStringLiteral("mosaic_6528x4896.jpg (")));
        window.reject();
    }

    void enterDoesNothingAndEscapeCloses()
    {
        CImageDlg window(store());
        window.OnInitDialog();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::keyClick(&window, Qt::Key_Return);
        QTest::keyClick(&window, Qt::Key_Enter);
        QVERIFY(window.isVisible());
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        QVERIFY(settings.contains(QStringLiteral("Setting/X")));
    }

    void commandLinePictureIsConverted()
    {
        const QString photo = picture(QStringLiteral("Mein Bild.png"), 120, 90);
        CImageDlg window(store());
        window.setCommandLine({QStringLiteral("\"Mein Bild.png\"")}, m_temp.path());
        QSignalSpy conversions(&window, &CImageDlg::informationChanged);
        window.OnInitDialog();
        const int atStart = int(conversions.count());
        QTRY_COMPARE(window.currentPicture(), photo);
        QTRY_VERIFY(window.conversionsIdle());
        QCOMPARE(int(conversions.count()), atStart + 1);
        QVERIFY(window.windowTitle().startsWith(QStringLiteral("Mein Bild.png (")));
        QCOMPARE(window.lastResult().outputSize.width(), window.settings().m_nTargetSize);
        window.reject();
    }

    void commandLineFolderAsksForADirectoryConversion()
    {
        CImageDlg window(store());
        QSignalSpy requests(&window, &CImageDlg::directoryConversionRequested);
        // The folder dialog opens; note its source field and cancel it.
        QString shownSource;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                if (auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("1021")))
                    shownSource = field->text();
                dialog->reject();
            }
        });
        closer.start(50);
        window.setCommandLine({QStringLiteral("/V"), QStringLiteral("/var/Meine"),
                               QStringLiteral("Bilder")},
                              m_temp.path());
        window.OnInitDialog();
        QTRY_COMPARE(requests.count(), 1);
        QCOMPARE(window.values().m_strSourceDir, QStringLiteral("/var/Meine Bilder"));
        QTRY_COMPARE(shownSource, QStringLiteral("/var/Meine Bilder"));
        window.reject();
    }

    void commandLineWithoutPictureKeepsThePicture_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::newRow("missing file") << "weg.jpg";
        QTest::newRow("no picture") << "notiz.txt";
    }

    // Only a picture becomes the current picture and, at the end, "Testfile".
    void commandLineWithoutPictureKeepsThePicture()
    {
        QFETCH(QString, argument);
        const QString photo = picture(QStringLiteral("bisher.png"), 120, 90);
        QFile text(m_temp.filePath(QStringLiteral("notiz.txt")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("Einkaufsliste\n");
        text.close();
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), photo);
        }
        const RecordingMessageSink messages;
        {
            CImageDlg window(store());
            window.setCommandLine({argument}, m_temp.path());
            window.OnInitDialog();
            QTRY_COMPARE(int(messages.messages().size()), 1);
            QTRY_VERIFY(window.conversionsIdle());
            QVERIFY(messages.messages().front().text.startsWith(QStringLiteral("«%1»").arg(argument)));
            QCOMPARE(window.currentPicture(), photo);
            QVERIFY(window.windowTitle().startsWith(QStringLiteral("bisher.png (")));
            QVERIFY(!window.lastResult().usedSample);
            window.reject();
        }
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("Setting/Testfile")).toString(), photo);
    }

    void informationWithoutWindow_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // the start of standard output, or of standard error
        QTest::addColumn<bool>("display");
        QTest::newRow("version") << "--version" << 0 << "Pictavo 2.30\n" << false;
        QTest::newRow("help") << "--help" << 0 << "Aufruf: Pictavo [BILD]" << false;
        // Told apart from Qt's own options (-style, say) once Qt has taken those.
        QTest::newRow("unknown option")
            << "--bunt" << 2 << "Pictavo: unbekannte Option „--bunt“" << true;
    }

    // Answered within moments, without a window or the settings; help and
    // version without a display too.
    void informationWithoutWindow()
    {
        QFETCH(QString, argument);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(bool, display);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (display)
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           m_temp.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"),
                           m_temp.filePath(QStringLiteral("data")));
        process.setProcessEnvironment(environment);
        process.start(
            QStringLiteral("timeout"),
            {QStringLiteral("5"), QStringLiteral(PICTAVO_BINARY_DIR "/Pictavo"), argument});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        const QString text = QString::fromLocal8Bit(exitCode == 0 ? process.readAllStandardOutput()
                                                                  : process.readAllStandardError());
        QVERIFY2(exitCode == 0 ? text.startsWith(output) : text.contains(output), qPrintable(text));
        QVERIFY(!QFileInfo::exists(m_temp.filePath(QStringLiteral("config"))));
        QVERIFY(!QFileInfo::exists(m_temp.filePath(QStringLiteral("data"))));
    }

    // A picture to open that cannot be read: the message names it and says why;
    // the picture, title and settings before stay.
    void unreadablePictureKeepsTheOneBefore_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "weg.jpg" << "existiert nicht";
        QTest::newRow("no picture") << "fake.heic" << "kein Bild";
        QTest::newRow("folder") << "ordner.jpg" << "Ordner";
        QTest::newRow("pipe") << "pipe.jpg" << "Pipe";
    }

    void unreadablePictureKeepsTheOneBefore()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString before = picture(QStringLiteral("vorher.png"), 300, 200);
        const QString path = m_temp.filePath(name);
        if (name == QLatin1String("fake.heic")) {
            QFile fake(path);
            QVERIFY(fake.open(QIODevice::WriteOnly));
            fake.write("ftypheic, but nothing more");
        } else if (name == QLatin1String("ordner.jpg")) {
            QVERIFY(QDir(m_temp.path()).mkdir(name));
        } else if (name == QLatin1String("pipe.jpg")) {
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), before);
            settings.setValue(QStringLiteral("Setting/X"), 150);
        }
        RecordingMessageSink messages;
        CImageDlg window(store());
        window.OnInitDialog();
        QTRY_VERIFY(window.conversionsIdle());
        const QString title = window.windowTitle();
        QVERIFY(title.startsWith(QStringLiteral("vorher.png (")));

        QSignalSpy applied(&window, &CImageDlg::conversionApplied);
        window.OpenPicture(path);
        QCOMPARE(window.windowTitle(), name); // at once, before the conversion
        QTRY_COMPARE(applied.count(), 1);
        QVERIFY(window.conversionsIdle());
        QCOMPARE(window.windowTitle(), title);
        QCOMPARE(window.currentPicture(), before);
        QCOMPARE(messages.messages().size(), size_t(1));
        const QString text = messages.messages()[0].text;
        QVERIFY2(text.startsWith(QStringLiteral("«%1» kann nicht gelesen werden: ").arg(name))
                     && text.contains(reason),
                 qPrintable(text));
        // What is saved now is the picture before, not the sample.
        const QString saved = m_temp.filePath(QStringLiteral("gespeichert.jpg"));
        window.post(ConversionKind::Save, window.currentPicture(), saved);
        QTRY_VERIFY(window.conversionsIdle());
        QCOMPARE(QImage(saved).size(), QSize(150, 100));
        window.reject();
    }

    void unreadablePictureOnTheCommandLineIsNamed()
    {
        RecordingMessageSink messages;
        CImageDlg window(store());
        window.setCommandLine({m_temp.filePath(QStringLiteral("weg.jpg"))}, m_temp.path());
        window.OnInitDialog();
        QTRY_COMPARE(messages.messages().size(), size_t(1));
        QTRY_VERIFY(window.conversionsIdle());
        QVERIFY(messages.messages()[0].text.startsWith(QStringLiteral("«weg.jpg» kann nicht")));
        QVERIFY(!window.windowTitle().contains(QStringLiteral("weg.jpg")));
        QVERIFY(window.currentPicture().isEmpty());
        window.reject();
    }

    // The picture of the last session gone or unreadable: the sample photograph
    // without a name, and no message, for the user did not ask for it.
    void storedPictureGoneGivesTheSampleSilently_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("gone") << QByteArray();
        QTest::newRow("no picture") << QByteArray("Lebenslauf");
    }

    void storedPictureGoneGivesTheSampleSilently()
    {
        QFETCH(QByteArray, contents);
        const QString stored = m_temp.filePath(QStringLiteral("alt.jpg"));
        if (!contents.isEmpty()) {
            QFile file(stored);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(contents);
        }
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), stored);
        }
        RecordingMessageSink messages;
        CImageDlg window(store());
        window.OnInitDialog();
        QTRY_VERIFY(window.conversionsIdle());
        QVERIFY(messages.messages().empty());
        QVERIFY(window.currentPicture().isEmpty());
        QVERIFY(window.lastResult().usedSample);
        QVERIFY(!window.windowTitle().contains(QStringLiteral("alt.jpg")));
        window.reject();
    }

    // The open dialog starts on every picture the program reads, PNG and WebP
    // among them; the filters before and after it keep their places.
    void openDialogStartsOnAllPictures()
    {
        CImageDlg window(store());
        window.OnInitDialog();
        QTRY_VERIFY(window.conversionsIdle());
        QString selected;
        QStringList filters;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                selected = dialog->selectedNameFilter();
                filters = dialog->nameFilters();
                dialog->reject();
            }
        });
        driver.start(20);
        window.OnOpen();
        driver.stop();
        QVERIFY2(selected.startsWith(QStringLiteral("Alle Bilder (")), qPrintable(selected));
        QVERIFY(selected.contains(QStringLiteral("*.png")));
        QCOMPARE(filters.indexOf(selected), 1);
        window.reject();
    }

    // "Speichern unter": the proposal, the name written, and the question when
    // the original would be replaced.
    void saveAs_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("chosen"); // empty: the proposal
        QTest::addColumn<QString>("answer"); // to the question about the original
        QTest::addColumn<QString>("written");
        QTest::newRow("proposal") << "bild.jpg" << "" << "" << "bild 150x100.jpg";
        QTest::newRow("png name") << "bild.jpg" << "kopie.png" << "" << "kopie.png.jpg";
        QTest::newRow("png source") << "bild.png" << "bild.png" << "" << "bild.png.jpg";
        QTest::newRow("original kept") << "bild.jpg" << "bild.jpg" << "nein" << "";
        QTest::newRow("original replaced") << "bild.jpg" << "bild.jpg" << "ja" << "bild.jpg";
    }

    void saveAs()
    {
        QFETCH(QString, source);
        QFETCH(QString, chosen);
        QFETCH(QString, answer);
        QFETCH(QString, written);
        // A folder of the row's own, so that no earlier row's file is listed
        // (the dialog selects a listed proposal again once its folder has loaded).
        const QString folder = QString::fromLatin1(QTest::currentDataTag());
        QVERIFY(QDir(m_temp.path()).mkpath(folder));
        source = folder + u'/' + source;
        if (!chosen.isEmpty())
            chosen = folder + u'/' + chosen;
        if (!written.isEmpty())
            written = folder + u'/' + written;
        const QString path = picture(source, 300, 200);
        const QByteArray original = contentsOf(path);
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), path);
            settings.setValue(QStringLiteral("Setting/X"), 150);
        }
        CImageDlg window(store());
        window.OnInitDialog();
        QTRY_VERIFY(window.conversionsIdle());
        QString proposed;
        QString asked;
        int ticks = 0;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                if (proposed.isEmpty())
                    proposed = dialog->selectedFiles().value(0);
                // Typed over the proposal, as a user would. The dialog lists its
                // folder in the background and may select the proposal again once
                // it has: accepted only while the typed name is the one chosen.
                // After two seconds it is accepted whatever it shows, so that a
                // fault fails below instead of waiting for ever.
                const QString typed = QFileInfo(chosen).fileName();
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (!chosen.isEmpty() && name != nullptr && name->text() != typed)
                    name->setText(typed);
                const QString wanted = chosen.isEmpty() ? proposed : m_temp.filePath(chosen);
                if (dialog->selectedFiles().value(0) == wanted || ++ticks > 100)
                    static_cast<QDialog*>(dialog)->accept();
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                // An unexpected question is answered "Nein" and shows in `asked`.
                asked = box->objectName() + u':' + box->text();
                const QString reply = answer.isEmpty() ? QStringLiteral("nein") : answer;
                for (QAbstractButton* button : box->buttons()) {
                    if (button->text().remove(u'&').toLower() == reply)
                        button->click();
                }
            }
        });
        driver.start(20);
        window.OnSaveAs();
        driver.stop();
        QTRY_VERIFY(window.conversionsIdle());

        QCOMPARE(proposed, m_temp.filePath(QStringLiteral("%1/%2 150x100.jpg")
                                               .arg(folder, QFileInfo(source).completeBaseName())));
        QCOMPARE(asked.section(u':', 0, 0),
                 answer.isEmpty() ? QString() : QStringLiteral("ReplaceOriginalBox"));
        if (!written.isEmpty()) {
            const QImage result(m_temp.filePath(written), "JPEG");
            QCOMPARE(result.size(), QSize(150, 100));
        }
        if (written != source)
            QCOMPARE(contentsOf(path), original);
        // No JPEG bytes under another format's name.
        if (!chosen.isEmpty() && chosen != source && chosen != written)
            QVERIFY(!QFileInfo::exists(m_temp.filePath(chosen)));
        window.reject();
    }

    // Stored edges that cannot give a usable window give the default one: from
    // 20, 20 to 40 pixels before the screen's right and bottom edges.
    void storedWindowRectangle_data()
    {
        QTest::addColumn<QList<int>>("edges"); // top, left, right, bottom
        QTest::addColumn<QRect>("expected");   // null: the default
        QTest::newRow("as stored") << QList<int>{50, 60, 560, 450} << QRect(60, 50, 500, 400);
        QTest::newRow("1 x 1") << QList<int>{20, 20, 21, 21} << QRect();
        QTest::newRow("inverted") << QList<int>{400, 500, 100, 50} << QRect();
        QTest::newRow("ends of int") << QList<int>{0, INT_MAX, INT_MIN, 400} << QRect();
        QTest::newRow("off every screen")
            << QList<int>{-5000, -5000, -4400, -4500} << QRect(20, 20, 600, 500);
    }

    void storedWindowRectangle()
    {
        QFETCH(QList<int>, edges);
        QFETCH(QRect, expected);
        if (expected.isNull())
            expected = QRect(QPoint(20, 20), QGuiApplication::primaryScreen()->size() - QSize(60, 60));
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            const char* names[] = {"Top", "Left", "Right", "Bottom"};
            for (int i = 0; i < 4; ++i)
                settings.setValue(QStringLiteral("Setting/Position %1").arg(QLatin1String(names[i])),
                                  edges[i]);
        }
        {
            CImageDlg window(store());
            window.OnInitDialog();
            QCOMPARE(QRect(window.pos(), window.size()), expected);
            window.reject();
        }
        // Stored back as it was placed, never as it was broken.
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("Setting/Position Right")).toInt()
                     - settings.value(QStringLiteral("Setting/Position Left")).toInt(),
                 expected.width());
    }

    void programEndsCleanlyOnSigterm()
    {
        const QString program = QStringLiteral(PICTAVO_BINARY_DIR "/Pictavo");
        QVERIFY(QFileInfo::exists(program));
        const QString photo = picture(QStringLiteral("start.png"), 200, 100);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_temp.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_temp.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("TEMP"), m_temp.filePath(QStringLiteral("tmp")));
        process.setProcessEnvironment(environment);
        process.start(program, {photo});
        QVERIFY(process.waitForStarted());
        const QString settingsPath = m_temp.filePath(QStringLiteral("config/Orvendel AG/Pictavo.conf"));
        // The start-up conversions advance the counter; wait until the picture is in.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(settingsPath), 20000);
        QTest::qWait(1500);
        process.terminate();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QSettings settings(settingsPath, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("Setting/Testfile")).toString(), photo);
        QVERIFY(settings.value(QStringLiteral("Tempfile/TmpCnt")).toInt() >= 3);
        QVERIFY2(temporaryPictures().isEmpty(), qPrintable(temporaryPictures().join(u' ')));
        QVERIFY(QFileInfo::exists(m_temp.filePath(QStringLiteral("data/applications/pictavo.desktop"))));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
