// The main window: view arithmetic, scrolling, settings kept between starts,
// Enter and Escape, the command line, and the real program ended by SIGTERM.
#include "CImageDlg.h"
#include "RecordingMessageSink.h"
#include "SettingsStore.h"
#include "ViewGeometry.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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

    void windowShowsScrollBarsOnlyWhenNeeded()
    {
        const QString landscape = picture(QStringLiteral("wide.png"), 800, 600);
        {
            QSettings settings(m_settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Setting/Testfile"), landscape);
            settings.setValue(QStringLiteral("Setting/X"), 800);
        }
        CImageDlg window(store());
        window.OnInitDialog();
        window.resize(436, 336); // a view of 400 x 300
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Update(800, 0);
        QCOMPARE(window.settings().m_nTargetOther, 600);
        window.repaint();
        auto* horizontal = window.findChild<QScrollBar*>(QStringLiteral("1002"));
        auto* vertical = window.findChild<QScrollBar*>(QStringLiteral("1003"));
        QVERIFY(horizontal != nullptr && vertical != nullptr);
        QTRY_VERIFY(horizontal->isVisible());
        QCOMPARE(horizontal->maximum(), 400);
        QCOMPARE(vertical->maximum(), 300);
        // A page is the view's length: the thumbs show how much of the picture is in view.
        QCOMPARE(horizontal->pageStep(), 400);
        QCOMPARE(vertical->pageStep(), 300);

        window.Update(2, 0); // clamped to 5: the picture fits, the bars go
        QCOMPARE(window.settings().m_nTargetSize, 5);
        window.repaint();
        QTRY_VERIFY(!horizontal->isVisible());
        QCOMPARE(horizontal->value(), 0);
        window.Update(5000, 0);
        QCOMPARE(window.settings().m_nTargetSize, 3000);
        window.reject();
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
        window.Update(200, 0);
        window.Update(90, 1);
        QCOMPARE(window.lastResult().outputSize, QSize(200, 133));
        auto* view = window.findChild<QWidget*>(QStringLiteral("1000"));
        const QImage shot = view->grab().toImage();
        QCOMPARE(shot.size(), view->size() * view->devicePixelRatioF());
        // The dark green picture on the grey background.
        QRect drawn;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QColor colour = shot.pixelColor(x, y);
                if (colour.red() < 64 && colour.green() > 64)
                    drawn |= QRect(x, y, 1, 1);
            }
        }
        QCOMPARE(drawn.size(), QSize(200, 133));
        window.reject();
    }

    void settingsSurviveARestartButAdjustmentsDoNot()
    {
        const QString photo = picture(QStringLiteral("photo.png"), 300, 200);
        {
            CImageDlg window(store());
            window.OnInitDialog();
            window.setCurrentPicture(photo);
            window.Update(1024, 0);
            window.Update(80, 1);
            window.settings().m_nBrightness = 30;
            window.settings().m_nOrientation = 5;
            window.settings().m_nDpi = 144;
            QCOMPARE(window.lastResult().outputSize, QSize(1024, 682));
            window.reject();
        }
        CImageDlg again(store());
        again.OnInitDialog();
        QCOMPARE(again.settings().m_nQuality, 80);
        QCOMPARE(again.settings().m_nTargetSize, 1024);
        QCOMPARE(again.currentPicture(), photo);
        QCOMPARE(again.settings().m_nBrightness, 0);
        QCOMPARE(again.settings().m_nOrientation, 0);
        QCOMPARE(again.settings().m_nDpi, 90);
        QCOMPARE(again.windowTitle().left(10), QStringLiteral("photo.png "));
        again.reject();
        QVERIFY(temporaryPictures().isEmpty());
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

    void commandLinePictureIsConvertedTwice()
    {
        const QString photo = picture(QStringLiteral("Mein Bild.png"), 120, 90);
        CImageDlg window(store());
        window.setCommandLine({QStringLiteral("\"Mein Bild.png\"")}, m_temp.path());
        QSignalSpy conversions(&window, &CImageDlg::informationChanged);
        window.OnInitDialog();
        const int atStart = int(conversions.count());
        QTRY_COMPARE(window.currentPicture(), photo);
        // Converted, then converted again with the current quality.
        QTRY_COMPARE(int(conversions.count()), atStart + 2);
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
        QCOMPARE(window.m_strSourceDir, QStringLiteral("/var/Meine Bilder"));
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
            QVERIFY(messages.messages().front().text.contains(m_temp.filePath(argument)));
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
