// The control panel "Schnellstart" on a real main window: what each control writes
// into the settings, which changes convert at once and which through the timer,
// compact and extended, the effect list, its place, Escape and Enter, and that
// every control is reachable and readable.
#include "CFaceButton.h"
#include "CImageDlg.h"
#include "CPanelDlg.h"
#include "RecordingMessageSink.h"
#include "resource.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <climits>
#include <functional>
#include <memory>

class PanelTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<CImageDlg> m_main;
    CPanelDlg* m_panel = nullptr;
    // The quality and the time (ms since the window opened) of every conversion.
    QList<int> m_conversions;
    QList<qint64> m_conversionTimes;
    QElapsedTimer m_clock;

    QString settingsFile() const { return m_temp->filePath(QStringLiteral("Pictavo.ini")); }

    // Opens the main window with its panel on a fresh settings file, after
    // `preset` has written into it, and waits until the start's deferred
    // conversion has run.
    void open(const std::function<void(QSettings&)>& preset = {})
    {
        if (preset) {
            QSettings settings(settingsFile(), QSettings::IniFormat);
            preset(settings);
        }
        m_main = std::make_unique<CImageDlg>(
            std::make_unique<QSettings>(settingsFile(), QSettings::IniFormat));
        connect(m_main.get(), &CImageDlg::informationChanged, this, [this] {
            m_conversions << m_main->settings().m_nQuality;
            m_conversionTimes << m_clock.elapsed();
        });
        m_clock.start();
        m_main->OnInitDialog();
        // The start picture arrives first, the panel's deferred conversion after it.
        QTRY_VERIFY(m_main->conversionsIdle());
        const qsizetype started = m_conversions.size();
        m_panel = m_main->findChild<CPanelDlg*>();
        QVERIFY(m_panel != nullptr);
        m_main->show();
        // The panel follows once its owner is on the screen.
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QTRY_VERIFY(m_panel->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(m_panel));
        QTRY_COMPARE_WITH_TIMEOUT(m_conversions.size(), started + 1, 2000);
        m_conversions.clear();
        m_conversionTimes.clear();
    }

    template <class Control = QWidget>
    Control* control(int id) const
    {
        for (Control* candidate : m_panel->findChildren<Control*>()) {
            if (candidate->property("id").toInt() == id)
                return candidate;
        }
        return nullptr;
    }

    void extend()
    {
        if (m_panel->isCompact())
            control<QAbstractButton>(IDC_PANEL_MORE_LESS)->click();
        QVERIFY(!m_panel->isCompact());
    }

    // Replaces the text of field `id` key by key, as the user types.
    void type(int id, const QString& text)
    {
        auto* field = control<QLineEdit>(id);
        field->selectAll();
        QTest::keyClicks(field, text);
    }

    ConversionSettings& settings() { return m_main->settings(); }

    // The ids the Tab key visits, from button 1006 round to it again.
    QList<int> tabOrder()
    {
        QList<int> order;
        QWidget* focus = control(IDC_PANEL_OPEN);
        focus->setFocus();
        for (int step = 0; step < 40 && focus != nullptr; ++step) {
            const int id = focus->property("id").toInt();
            if (!order.isEmpty() && id == order.first())
                break;
            order << id;
            QTest::keyClick(focus, Qt::Key_Tab);
            focus = QApplication::focusWidget();
        }
        return order;
    }

private slots:
    void init()
    {
        m_temp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temp->isValid());
        qputenv("TEMP", m_temp->path().toLocal8Bit());
        m_conversions.clear();
        m_conversionTimes.clear();
    }

    void cleanup()
    {
        m_main.reset();
        m_panel = nullptr;
        m_temp.reset();
    }

    // Run twice by CTest, as effectListFollowsPlugins: without and with the
    // effect list, which then is the extended panel's lowest control.
    void compactAndExtended()
    {
        open();
        auto* moreLess = control<CFaceButton>(IDC_PANEL_MORE_LESS);
        // A control's place in the panel window, below its menu bar.
        const auto inPanel = [this](const QWidget* widget) {
            return QRect(widget->mapTo(m_panel, QPoint(0, 0)), widget->size());
        };
        // As wide as the right group's right edge plus the margin the size group
        // keeps at the left; as high as the lowest control shown plus 20 pixels.
        const auto ruleSize = [&](int rightGroup, int lowest) {
            return QSize(inPanel(control(rightGroup)).right() + 1 +
                             inPanel(control(IDC_PANEL_SIZE_GROUP)).left(),
                         inPanel(control(lowest)).bottom() + 1 + 20);
        };
        // Nothing shown reaches below the lowest control or beyond the panel.
        const auto checkInside = [&](int lowest) {
            const QWidget* client = control(IDC_PANEL_OPEN)->parentWidget();
            for (const QWidget* widget :
                 client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (widget->isHidden())
                    continue;
                const QString name =
                    widget->property("id").toString() + u' ' + widget->metaObject()->className();
                QVERIFY2(inPanel(widget).bottom() <= inPanel(control(lowest)).bottom(),
                         qPrintable(name));
                QVERIFY2(inPanel(widget).right() < m_panel->width(), qPrintable(name));
            }
        };
        const auto face = [](int bitmap) {
            return CFaceButton::makeFaces(
                QImage(QStringLiteral(":/faces/%1").arg(bitmap)))[CFaceButton::Normal];
        };
        // The panel starts compact: size and quality only, the more/less button lowest.
        QVERIFY(m_panel->isCompact());
        QCOMPARE(m_panel->size(), ruleSize(IDC_PANEL_QUALITY_GROUP, IDC_PANEL_MORE_LESS));
        checkInside(IDC_PANEL_MORE_LESS);
        QVERIFY(!control(IDC_PANEL_BRIGHTNESS)->isVisible());
        QVERIFY(!control(IDC_PANEL_RESET)->isVisible());
        QCOMPARE(moreLess->toolTip(), QStringLiteral("Schaltet zusätzliche Erweiterungen ein"));
        QCOMPARE(moreLess->face(CFaceButton::Normal), face(IDB_FACE_MORE));

        moreLess->click();
        // The choices about capture data and size lie lowest, below the effect
        // list's frame.
        QVERIFY(control(IDC_PANEL_KEEP_EXIF)->isVisible());
        QCOMPARE(control(IDC_PANEL_EFFECT_GROUP)->isVisible(), qgetenv("PICTAVO_EXPECT_EFFECTS") == "1");
        const int lowest = IDC_PANEL_NO_ENLARGE;
        QCOMPARE(m_panel->size(), ruleSize(IDC_PANEL_COLOUR_GROUP, lowest));
        checkInside(lowest);
        QVERIFY(control(IDC_PANEL_BRIGHTNESS)->isVisible());
        QVERIFY(control(IDC_PANEL_RESET)->isVisible());
        QCOMPARE(moreLess->toolTip(), QStringLiteral("Schaltet Erweiterungen aus"));
        QCOMPARE(moreLess->face(CFaceButton::Normal), face(IDB_FACE_LESS));
        for (int id = IDC_PANEL_PROMOTION_1; id <= IDC_PANEL_PROMOTION_3; ++id)
            QVERIFY(control(id)->isHidden());

        // Values typed while extended survive the compact state.
        type(IDC_PANEL_CONTRAST, QStringLiteral("12"));
        moreLess->click();
        QCOMPARE(m_panel->size(), ruleSize(IDC_PANEL_QUALITY_GROUP, IDC_PANEL_MORE_LESS));
        QCOMPARE(control<QLineEdit>(IDC_PANEL_CONTRAST)->text(), QStringLiteral("12"));
        QCOMPARE(settings().m_nContrast, 12);
    }

    // The compact panel names in one line what its extended part has switched
    // on, and follows a change made there; extended, the choices show themselves.
    void compactLineNamesActiveChoices_data()
    {
        QTest::addColumn<int>("maxKb");
        QTest::addColumn<bool>("shrink");
        QTest::addColumn<bool>("noEnlarge");
        QTest::addColumn<bool>("keepExif");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("exifClicked"); // after "Aufnahmedaten behalten" was clicked
        QTest::newRow("nothing") << 0 << false << false << false << QString()
                                 << QStringLiteral("Aktiv: Aufnahmedaten behalten");
        QTest::newRow("everything")
            << 200 << true << true << true
            << QStringLiteral("Aktiv: höchstens 200 Kb, notfalls verkleinern, nie vergrössern, "
                              "Aufnahmedaten behalten")
            << QStringLiteral("Aktiv: höchstens 200 Kb, notfalls verkleinern, nie vergrössern");
        // Without a limit nothing is ever made smaller.
        QTest::newRow("shrinking without a limit")
            << 0 << true << true << false << QStringLiteral("Aktiv: nie vergrössern")
            << QStringLiteral("Aktiv: nie vergrössern, Aufnahmedaten behalten");
    }

    void compactLineNamesActiveChoices()
    {
        QFETCH(int, maxKb);
        QFETCH(bool, shrink);
        QFETCH(bool, noEnlarge);
        QFETCH(bool, keepExif);
        QFETCH(QString, line);
        QFETCH(QString, exifClicked);
        open([&](QSettings& stored) {
            stored.setValue(QStringLiteral("Setting/Max Kb"), maxKb);
            stored.setValue(QStringLiteral("Setting/Notfalls verkleinern"), int(shrink));
            stored.setValue(QStringLiteral("Setting/Nie vergroessern"), int(noEnlarge));
            stored.setValue(QStringLiteral("Setting/Exif behalten"), int(keepExif));
        });
        auto* label = control<QLabel>(IDC_PANEL_ACTIVE_CHOICES);
        QVERIFY(label != nullptr);
        const QWidget* client = label->parentWidget();
        // What the line shows, all of it inside the panel, which ends below it.
        const auto shown = [&] {
            if (label->isHidden())
                return QString();
            if (!client->rect().contains(label->geometry()) ||
                label->height() < label->heightForWidth(label->width()) ||
                client->height() != label->geometry().bottom() + 1 + 20)
                return QStringLiteral("cut off: ") + label->text();
            return label->text();
        };
        QCOMPARE(shown(), line);
        extend();
        QVERIFY(label->isHidden());
        control<QAbstractButton>(IDC_PANEL_KEEP_EXIF)->click();
        control<QAbstractButton>(IDC_PANEL_MORE_LESS)->click();
        QCOMPARE(shown(), exifClicked);
    }

    void qualityTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("checked"); // id of the checked radio button, 0 for none
        QTest::newRow("above 100") << "150" << 100 << "100" << 0;
        QTest::newRow("below 10") << "5" << 5 << "5" << 0;
        QTest::newRow("47") << "47" << 47 << "47" << IDC_PANEL_QUALITY_10 + 3;
        QTest::newRow("90") << "90" << 90 << "90" << IDC_PANEL_QUALITY_90;
        QTest::newRow("not a number") << "x" << 0 << "x" << 0;
    }

    void qualityTyped()
    {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QFETCH(QString, shown);
        QFETCH(int, checked);
        open();
        type(IDC_PANEL_QUALITY, typed);
        QCOMPARE(settings().m_nQuality, stored);
        QCOMPARE(control<QLineEdit>(IDC_PANEL_QUALITY)->text(), shown);
        for (int id = IDC_PANEL_QUALITY_10; id <= IDC_PANEL_QUALITY_90; ++id)
            QCOMPARE(control<QRadioButton>(id)->isChecked(), id == checked);
        // Converted at once, with the stored quality last.
        QTRY_VERIFY(m_main->conversionsIdle());
        QVERIFY(!m_conversions.isEmpty());
        QCOMPARE(m_conversions.last(), stored);
    }

    void qualityTypedIntoEmptyField()
    {
        open();
        auto* field = control<QLineEdit>(IDC_PANEL_QUALITY);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        m_conversions.clear();
        QTest::keyClicks(field, QStringLiteral("85"));
        // A conversion per key, the first one given up when the second came
        // while it still waited; the field left as typed.
        QTRY_VERIFY(m_main->conversionsIdle());
        QVERIFY(m_conversions == QList<int>({85}) || m_conversions == QList<int>({85, 85}));
        QCOMPARE(field->text(), QStringLiteral("85"));
        QCOMPARE(field->cursorPosition(), 2);
        QVERIFY(field->isUndoAvailable());
        QVERIFY(control<QRadioButton>(IDC_PANEL_QUALITY_10 + 7)->isChecked());
    }

    void qualityButtonConvertsAtOnce()
    {
        open();
        control<QRadioButton>(IDC_PANEL_QUALITY_10 + 6)->click();
        QCOMPARE(settings().m_nQuality, 70);
        QCOMPARE(control<QLineEdit>(IDC_PANEL_QUALITY)->text(), QStringLiteral("70"));
        QTRY_VERIFY(m_main->conversionsIdle());
        QVERIFY(!m_conversions.isEmpty());
        QCOMPARE(m_conversions.last(), 70);
    }

    void sizeSliderAndFieldMirrorEachOther()
    {
        open();
        auto* slider = control<QSlider>(IDC_PANEL_SIZE_SLIDER);
        auto* field = control<QLineEdit>(IDC_PANEL_SIZE);
        slider->setSliderPosition(800);
        QCOMPARE(field->text(), QStringLiteral("800"));
        QCOMPARE(settings().m_nTargetSize, 800);
        // Typed beyond the slider: stored, limited by the rescale, thumb at its end.
        type(IDC_PANEL_SIZE, QStringLiteral("4000"));
        QCOMPARE(settings().m_nTargetSize, 3000);
        QCOMPARE(slider->value(), 2000);
        QCOMPARE(field->text(), QStringLiteral("4000"));
        // Only rescaled so far; one conversion follows through the timer.
        QVERIFY(m_conversions.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_conversions.size(), 1, 1500);
    }

    void burstConvertsOnceAfterThreeTicks()
    {
        open();
        extend();
        auto* field = control<QLineEdit>(IDC_PANEL_BRIGHTNESS);
        field->selectAll();
        qint64 lastChange = 0;
        for (const QChar key : QStringLiteral("-250")) {
            QTest::keyClicks(field, QString(key));
            lastChange = m_clock.elapsed();
            QTest::qWait(120);
        }
        // Applied to the preview at once and not limited, converted only later.
        QCOMPARE(settings().m_nBrightness, -250);
        QVERIFY(m_conversions.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_conversions.size(), 1, 2000);
        const qint64 delay = m_conversionTimes.first() - lastChange;
        QVERIFY2(delay >= 480 && delay <= 900, qPrintable(QString::number(delay)));
        QTest::qWait(800);
        QCOMPARE(m_conversions.size(), 1);
    }

    void resetTouchesOnlyAdjustments()
    {
        open();
        extend();
        const QList<int> fields = {IDC_PANEL_BRIGHTNESS, IDC_PANEL_CONTRAST, IDC_PANEL_RED, IDC_PANEL_GREEN,
                                   IDC_PANEL_BLUE};
        for (int id : fields)
            type(id, QString::number(id % 100 - 60));
        control<QCheckBox>(IDC_PANEL_GRAYSCALE)->click();
        control<QCheckBox>(IDC_PANEL_MIRROR)->click();
        type(IDC_PANEL_QUALITY, QStringLiteral("40"));
        type(IDC_PANEL_SIZE, QStringLiteral("700"));
        QVERIFY(settings().m_nBlue != 0 && settings().m_bGrayscale == 1);
        QTRY_VERIFY(m_main->conversionsIdle());
        const qsizetype converted = m_conversions.size();

        control<QAbstractButton>(IDC_PANEL_RESET)->click();
        for (int id : fields)
            QCOMPARE(control<QLineEdit>(id)->text(), QStringLiteral("0"));
        QVERIFY(!control<QCheckBox>(IDC_PANEL_GRAYSCALE)->isChecked());
        QVERIFY(!settings().hasColourAdjustments());
        QCOMPARE(settings().m_nQuality, 40);
        QCOMPARE(settings().m_nTargetSize, 700);
        QCOMPARE(settings().m_nDpi, 90);
        QCOMPARE(settings().m_nOrientation, 4);
        // The file size follows through the timer, once.
        QCOMPARE(m_conversions.size(), converted);
        QTRY_COMPARE_WITH_TIMEOUT(m_conversions.size(), converted + 1, 1500);
        QTest::qWait(800);
        QCOMPARE(m_conversions.size(), converted + 1);
    }

    void orientationFromRotationAndMirror()
    {
        open();
        extend();
        auto* rotation = control<QComboBox>(IDC_PANEL_ROTATION);
        QCOMPARE(rotation->currentText(), QStringLiteral("Normal"));
        QTest::keyClick(rotation, Qt::Key_End);
        QCOMPARE(rotation->currentText(), QStringLiteral("Drehung 270°"));
        QCOMPARE(settings().m_nOrientation, 3);
        QTRY_COMPARE(m_conversions.size(), 1);
        control<QCheckBox>(IDC_PANEL_MIRROR)->click();
        QCOMPARE(settings().m_nOrientation, 7);
        QTRY_COMPARE(m_conversions.size(), 2);
        control<QCheckBox>(IDC_PANEL_MIRROR)->click();
        QCOMPARE(settings().m_nOrientation, 3);
        QTRY_COMPARE(m_conversions.size(), 3);
    }

    void automaticResolutionWaitsForTimer()
    {
        open();
        extend();
        auto* resolution = control<QComboBox>(IDC_PANEL_RESOLUTION);
        // The start value 90 is none of the entries.
        QCOMPARE(settings().m_nDpi, 90);
        QCOMPARE(resolution->currentIndex(), -1);
        QTest::keyClick(resolution, Qt::Key_End);
        QCOMPARE(settings().m_nDpi, 144);
        QTest::keyClick(resolution, Qt::Key_Home);
        QCOMPARE(resolution->currentText(), QStringLiteral("Automatisch"));
        QCOMPARE(settings().m_nDpi, 0);
        QVERIFY(m_conversions.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_conversions.size(), 1, 1500);
    }

    // Run twice by CTest: without Effekt.dll beside the tests, and with it on the
    // library path (PICTAVO_EXPECT_EFFECTS=1).
    void effectListFollowsPlugins()
    {
        const bool expected = qgetenv("PICTAVO_EXPECT_EFFECTS") == "1";
        open();
        extend();
        QCOMPARE(!m_main->effects().plugins().empty(), expected);
        auto* list = control<QComboBox>(IDC_PANEL_EFFECT);
        QCOMPARE(list->isVisible(), expected);
        QCOMPARE(control(IDC_PANEL_EFFECT_GROUP)->isVisible(), expected);
        if (!expected) {
            QCOMPARE(settings().m_nEffect, 0);
            return;
        }
        QStringList entries;
        for (int index = 0; index < list->count(); ++index)
            entries << list->itemText(index);
        QCOMPARE(entries, QStringList{QStringLiteral("(ohne)")} + m_main->effects().effectNames());
        QCOMPARE(list->currentIndex(), 0);
        QTest::keyClick(list, Qt::Key_Down);
        QTRY_COMPARE(m_conversions.size(), 1);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(settings().m_nEffect, 2);
        QTRY_COMPARE(m_conversions.size(), 2);
    }

    void informationFieldShowsLines()
    {
        open();
        control<QRadioButton>(IDC_PANEL_QUALITY_10 + 2)->click();
        QTRY_VERIFY(m_main->conversionsIdle());
        QString expected = m_main->lastResult().information;
        QVERIFY(expected.contains(QStringLiteral("\r\n")));
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QCOMPARE(control<QPlainTextEdit>(IDC_PANEL_INFORMATION)->toPlainText(), expected);
    }

    // A size limit lowers the quality of the file, not the chosen one: the
    // buttons and the field show what was used until the limit is taken away.
    void sizeLimitShowsTheQualityUsed()
    {
        open();
        extend();
        QCOMPARE(settings().m_nQuality, 60);
        type(IDC_PANEL_MAX_KB, QStringLiteral("12"));
        QTest::keyClick(control(IDC_PANEL_MAX_KB), Qt::Key_Return);
        QCOMPARE(settings().m_nMaxKb, 12);
        QTRY_VERIFY(m_main->conversionsIdle());
        const ConversionResult& limited = m_main->lastResult();
        QVERIFY(limited.fileBytes <= 12000);
        QVERIFY2(limited.qualityUsed < 60, qPrintable(QString::number(limited.qualityUsed)));
        QVERIFY(limited.information.endsWith(QStringLiteral("Qualität automatisch: %1 %").arg(limited.qualityUsed)));
        QCOMPARE(control<QLineEdit>(IDC_PANEL_QUALITY)->text(), QString::number(limited.qualityUsed));
        QCOMPARE(settings().m_nQuality, 60);

        type(IDC_PANEL_MAX_KB, QStringLiteral("0"));
        QTest::keyClick(control(IDC_PANEL_MAX_KB), Qt::Key_Return);
        QTRY_VERIFY(m_main->conversionsIdle());
        QCOMPARE(control<QLineEdit>(IDC_PANEL_QUALITY)->text(), QStringLiteral("60"));
        QVERIFY(control<QRadioButton>(IDC_PANEL_QUALITY_10 + 5)->isChecked());
        QVERIFY(!m_main->lastResult().information.contains(QStringLiteral("automatisch")));
    }

    void layoutKeptBetweenStarts()
    {
        open([](QSettings& settings) {
            settings.setValue(QStringLiteral("SettingSub1/Position Top"), 140);
            settings.setValue(QStringLiteral("SettingSub1/Position Left"), 230);
            settings.setValue(QStringLiteral("SettingSub1/Position Right"), 1);
            settings.setValue(QStringLiteral("SettingSub1/Position Bottom"), 1);
        });
        QCOMPARE(m_panel->frameGeometry().topLeft(), QPoint(230, 140));
        m_panel->move(250, 160);
        const QRect frame = m_panel->frameGeometry();
        m_main.reset();
        QSettings stored(settingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("SettingSub1/Position Left")).toInt(), 250);
        QCOMPARE(stored.value(QStringLiteral("SettingSub1/Position Top")).toInt(), 160);
        QCOMPARE(stored.value(QStringLiteral("SettingSub1/Position Right")).toInt(), 250 + frame.width());
        QCOMPARE(stored.value(QStringLiteral("SettingSub1/Position Bottom")).toInt(), 160 + frame.height());
    }

    // On a screen too small for it (CTest runs this once more with
    // QT_SCALE_FACTOR=2) the panel stays inside the available area and scrolls.
    void panelStaysWithinTheScreen()
    {
        open();
        extend();
        const QRect available = m_panel->screen()->availableGeometry();
        QVERIFY2(
            available.contains(m_panel->frameGeometry()),
            qPrintable(QStringLiteral("%1 %2").arg(QVariant(m_panel->frameGeometry()).toString(),
                                                   QVariant(available).toString())));
        auto* area = m_panel->findChild<QScrollArea*>();
        QWidget* client = control(IDC_PANEL_OPEN)->parentWidget();
        const int hidden = client->height() - area->viewport()->height();
        QCOMPARE(area->verticalScrollBar()->isVisible(), hidden > 0);
        QCOMPARE(area->verticalScrollBar()->maximum(), std::max(hidden, 0));
        // Scrolled to its end, the panel shows its lowest control.
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        QWidget* moreLess = control(IDC_PANEL_MORE_LESS);
        const QRect shown = QRect(moreLess->mapTo(area->viewport(), QPoint()), moreLess->size());
        QVERIFY(area->viewport()->rect().contains(shown));
    }

    void placeOffEveryScreenComesBack_data()
    {
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("left");
        QTest::newRow("far away") << -9000 << 40000;
        QTest::newRow("at the ends of int") << INT_MIN << INT_MAX;
        QTest::newRow("a corner showing") << 590 << 790;
    }

    void placeOffEveryScreenComesBack()
    {
        QFETCH(int, top);
        QFETCH(int, left);
        open([=](QSettings& settings) {
            settings.setValue(QStringLiteral("SettingSub1/Position Top"), top);
            settings.setValue(QStringLiteral("SettingSub1/Position Left"), left);
        });
        const QRect shown =
            m_panel->screen()->availableGeometry().intersected(m_panel->frameGeometry());
        QVERIFY(shown.width() >= 48 && shown.height() >= 48);
    }

    void cancelEndsProgram_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("Beenden") << "menu";
        QTest::newRow("close box") << "close";
    }

    void cancelEndsProgram()
    {
        QFETCH(QString, how);
        open();
        auto* size = control<QLineEdit>(IDC_PANEL_SIZE);
        // Enter neither closes the panel nor ends the program.
        QTest::keyClick(size, Qt::Key_Return);
        QTest::keyClick(control(IDC_PANEL_OPEN), Qt::Key_Return);
        QVERIFY(m_main->isVisible());
        QVERIFY(m_panel->isVisible());
        if (how == QLatin1String("escape")) {
            QTest::keyClick(size, Qt::Key_Escape);
        } else if (how == QLatin1String("menu")) {
            for (QAction* action : m_panel->findChildren<QAction*>()) {
                if (action->property("id").toInt() == IDCANCEL)
                    action->trigger();
            }
        } else {
            m_panel->close();
        }
        QVERIFY(!m_main->isVisible());
        QCOMPARE(m_main->result(), int(QDialog::Rejected));
    }

    void keysWorkInEitherWindow_data()
    {
        QTest::addColumn<QKeyCombination>("keys");
        QTest::addColumn<QString>("shows"); // the dialog that opens, or what happens
        const QList<std::pair<QKeyCombination, QString>> keys = {
            {Qt::CTRL | Qt::Key_O, QStringLiteral("open")},
            {Qt::CTRL | Qt::Key_S, QStringLiteral("save")},
            {Qt::CTRL | Qt::Key_D, QStringLiteral("CFolderDlg")},
            {Qt::CTRL | Qt::Key_M, QStringLiteral("mail")},
            {QKeyCombination(Qt::Key_F1), QStringLiteral("AboutBox")},
            {Qt::CTRL | Qt::Key_Q, QStringLiteral("quit")},
        };
        for (const auto& [combination, shows] : keys) {
            const QString name = QKeySequence(combination).toString();
            QTest::addRow("%s in the panel", qPrintable(name)) << combination << shows;
            QTest::addRow("%s in the main window", qPrintable(name)) << combination << shows;
        }
    }

    // The menu's keys, whichever window has the focus: in the panel the size
    // field, whose own keys must not win.
    void keysWorkInEitherWindow()
    {
        QFETCH(QKeyCombination, keys);
        QFETCH(QString, shows);
        const bool inPanel =
            QString::fromLatin1(QTest::currentDataTag()).endsWith(QLatin1String("panel"));
        const RecordingMessageSink messages;
        open();
        QWidget* target = inPanel ? control(IDC_PANEL_SIZE) : m_main.get();
        target->window()->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), target->window());
        target->setFocus();
        QString shown;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&shown] {
            auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (modal == nullptr)
                return;
            const auto* files = qobject_cast<QFileDialog*>(modal);
            shown = files == nullptr                                 ? modal->objectName()
                    : files->acceptMode() == QFileDialog::AcceptSave ? QStringLiteral("save")
                                                                     : QStringLiteral("open");
            modal->reject();
        });
        watcher.start(10);
        QTest::keyClick(target, keys.key(), keys.keyboardModifiers());
        if (shows == QLatin1String("mail")) {
            QCOMPARE(int(messages.messages().size()), 1);
            QVERIFY(messages.messages().front().text.startsWith(
                QStringLiteral("Es ist kein Bild geöffnet")));
        } else if (shows == QLatin1String("quit")) {
            QVERIFY(!m_main->isVisible());
            QCOMPARE(m_main->result(), int(QDialog::Rejected));
        } else {
            QTRY_COMPARE(shown, shows);
        }
    }

    void tabOrderFollowsLayout()
    {
        open();
        m_panel->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), m_panel);
        // The quality buttons are one stop: the checked one.
        QCOMPARE(settings().m_nQuality, 60);
        const int checked = IDC_PANEL_QUALITY_10 + 5;
        // Compact: nothing the panel hides is reached.
        QCOMPARE(tabOrder(), QList<int>({IDC_PANEL_OPEN, IDC_PANEL_SAVE, IDC_PANEL_DIRECTORY, IDC_PANEL_SEND,
                                         IDC_PANEL_INFORMATION, IDC_PANEL_SIZE_SLIDER, IDC_PANEL_SIZE, checked,
                                         IDC_PANEL_QUALITY, IDC_PANEL_MIRROR, IDC_PANEL_MORE_LESS}));
        extend();
        QList<int> expected = {IDC_PANEL_OPEN, IDC_PANEL_SAVE, IDC_PANEL_DIRECTORY, IDC_PANEL_SEND,
                               IDC_PANEL_RESET, IDC_PANEL_INFORMATION, IDC_PANEL_SIZE_SLIDER, IDC_PANEL_SIZE,
                               checked, IDC_PANEL_QUALITY, IDC_PANEL_BRIGHTNESS, IDC_PANEL_CONTRAST,
                               IDC_PANEL_RED, IDC_PANEL_GREEN, IDC_PANEL_BLUE, IDC_PANEL_GRAYSCALE,
                               IDC_PANEL_RESOLUTION, IDC_PANEL_ROTATION, IDC_PANEL_MIRROR};
        if (control(IDC_PANEL_EFFECT)->isVisible())
            expected << IDC_PANEL_EFFECT;
        expected << IDC_PANEL_MORE_LESS << IDC_PANEL_KEEP_EXIF << IDC_PANEL_MAX_KB << IDC_PANEL_SHRINK
                 << IDC_PANEL_NO_ENLARGE;
        QCOMPARE(tabOrder(), expected);
    }

    // Nothing may be cut off in the platform's font: texts get the room they ask
    // for, and every control lies inside the panel.
    void controlsFitTheirTexts()
    {
        open();
        extend();
        QWidget* client = control(IDC_PANEL_OPEN)->parentWidget();
        for (QWidget* widget : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!widget->isVisible())
                continue;
            const QString name = widget->metaObject()->className() + QStringLiteral(" ")
                                 + widget->property("id").toString();
            QVERIFY2(client->rect().contains(widget->geometry()), qPrintable(name));
            const bool text = qobject_cast<QLabel*>(widget) || qobject_cast<QCheckBox*>(widget)
                              || qobject_cast<QRadioButton*>(widget) || qobject_cast<QComboBox*>(widget);
            if (text)
                QVERIFY2(widget->width() >= widget->sizeHint().width(), qPrintable(name));
            // The lists stay inside the frames of the right column.
            if (qobject_cast<QComboBox*>(widget))
                QVERIFY2(widget->geometry().right() < control(IDC_PANEL_COLOUR_GROUP)->geometry().right(),
                         qPrintable(name));
        }
        // The result text keeps every line on one row of its field.
        auto* information = control<QPlainTextEdit>(IDC_PANEL_INFORMATION);
        const QTextDocument* text = information->document();
        QCOMPARE(text->lineCount(), text->blockCount());
        QVERIFY(QFontMetrics(information->font()).lineSpacing() * text->blockCount()
                <= information->viewport()->height());
    }
};

QTEST_MAIN(PanelTest)
#include "PanelTest.moc"
