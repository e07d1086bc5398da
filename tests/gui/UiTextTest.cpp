// The live windows against the table of their texts (UiTextTable.h): every
// control's class, text, tooltip, tab stop, start value, list entries and
// visibility, the captions and default buttons, the menus in order, and that each
// command of the panel reaches the main window. A failure names the control's id
// and both texts. The windows open offscreen on a first start, with Effekt beside
// the test as beside the program.
#include "BatchTestSupport.h"
#include "CConfirmDlg.h"
#include "CFolderPicker.h"
#include "CPanelDlg.h"
#include "RecordingMessageSink.h"
#include "UiTextTable.h"

#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QRegularExpression>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <functional>

using namespace uitext;

namespace {

// The ids a spin field's arrows share; they belong to the field.
constexpr int kSpinArrows = 2000;

using Session = QHash<QString, QString>;

QString textOf(const QWidget* widget)
{
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (const auto* group = qobject_cast<const QGroupBox*>(widget))
        return group->title();
    return {};
}

QString valueOf(const QWidget* widget)
{
    if (const auto* picker = qobject_cast<const CFolderPicker*>(widget))
        return picker->path();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->isCheckable()
                   ? QString::fromLatin1(button->isChecked() ? "checked" : "unchecked")
                   : QString();
    if (const auto* field = qobject_cast<const QLineEdit*>(widget))
        return field->text();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(widget))
        return text->toPlainText();
    if (const auto* slider = qobject_cast<const QAbstractSlider*>(widget))
        return QString::number(slider->value());
    if (const auto* list = qobject_cast<const QComboBox*>(widget))
        return list->currentText();
    return {};
}

QString entriesOf(const QWidget* widget)
{
    QStringList entries;
    if (const auto* list = qobject_cast<const QComboBox*>(widget)) {
        for (int index = 0; index < list->count(); ++index)
            entries << list->itemText(index);
    }
    return entries.join(u'|');
}

bool isTabStop(const QWidget* widget)
{
    const QWidget* focus = widget->focusProxy() != nullptr ? widget->focusProxy() : widget;
    return (focus->focusPolicy() & Qt::TabFocus) != 0;
}

// "{name}" in a table value stands for the session's value of that name.
QString resolved(const char* value, const Session& session)
{
    QString text = QString::fromUtf8(value);
    for (auto it = session.begin(); it != session.end(); ++it)
        text.replace(u'{' + it.key() + u'}', it.value());
    return text;
}

struct LiveControl
{
    int id;
    QWidget* widget;
};

// The window's own controls: those with an id, and labels and frames without
// one; nothing of the windows it owns.
QList<LiveControl> controlsOf(QWidget* window)
{
    QList<LiveControl> controls;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() != window)
            continue;
        const QVariant id = widget->property("id");
        if (id.isValid() && id.toInt() != kSpinArrows)
            controls.append({id.toInt(), widget});
        else if (!id.isValid() &&
                 (qobject_cast<QLabel*>(widget) || qobject_cast<QGroupBox*>(widget)))
            controls.append({kStatic, widget});
    }
    return controls;
}

QWidget* takeControl(QList<LiveControl>& controls, const ControlRow& row)
{
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const LiveControl& live = controls[i];
        const bool same = row.id != kStatic
                              ? live.id == row.id
                              : live.id == kStatic &&
                                    textOf(live.widget) == QString::fromUtf8(row.text) &&
                                    live.widget->metaObject()->className() == QByteArray(row.kind);
        if (same)
            return controls.takeAt(i).widget;
    }
    return nullptr;
}

class Differences
{
public:
    void compare(const QString& what, const QString& expected, const QString& live)
    {
        if (expected != live)
            m_lines << QStringLiteral("%1: expected '%2', live '%3'").arg(what, expected, live);
    }
    void add(const QString& line) { m_lines << line; }
    // Each difference on a line of its own, then the count for the failure.
    QByteArray report() const
    {
        for (const QString& line : m_lines)
            qInfo().noquote() << line;
        return QByteArray::number(m_lines.size()) + " differences, listed above";
    }
    bool isEmpty() const { return m_lines.isEmpty(); }

private:
    QStringList m_lines;
};

// A control as a failure names it: its id and, where it has one, its text.
QString nameOf(int id, const QString& text)
{
    return text.isEmpty() ? QString::number(id) : QStringLiteral("%1 \"%2\"").arg(id).arg(text);
}

// `window` against its rows; `extended` for the panel's extended state.
void compareWindow(QWidget* window, int windowId, Differences& differences,
                   const Session& session = {}, bool extended = false)
{
    for (const WindowRow& row : kWindows) {
        if (row.window != windowId)
            continue;
        const QString name = nameOf(row.window, QString::fromUtf8(row.caption));
        differences.compare(name + QStringLiteral(" id"), QString::number(row.window),
                            window->property("id").toString());
        differences.compare(name + QStringLiteral(" class"), QString::fromUtf8(row.kind),
                            QString::fromLatin1(window->metaObject()->className()));
        differences.compare(name + QStringLiteral(" caption"), QString::fromUtf8(row.caption),
                            window->windowTitle());
        QStringList defaults;
        for (const QPushButton* button : window->findChildren<QPushButton*>()) {
            if (button->window() == window && button->isDefault())
                defaults << button->property("id").toString();
        }
        differences.compare(name + QStringLiteral(" default button"),
                            row.defaultButton != 0 ? QString::number(row.defaultButton) : QString(),
                            defaults.join(u' '));
    }

    QList<LiveControl> live = controlsOf(window);
    for (const ControlRow& row : kControls) {
        if (row.window != windowId)
            continue;
        const QString name =
            nameOf(row.id, QString::fromUtf8(row.text)) + (extended ? " (extended)" : "");
        QWidget* control = takeControl(live, row);
        if (control == nullptr) {
            differences.add(name + QStringLiteral(": missing"));
            continue;
        }
        const auto compare = [&](const char* what, const QString& expected, const QString& value) {
            differences.compare(name + u' ' + QLatin1String(what), expected, value);
        };
        compare("class", QString::fromUtf8(row.kind),
                QString::fromLatin1(control->metaObject()->className()));
        compare("text", QString::fromUtf8(row.text), textOf(control));
        const bool extendedTip = extended && windowId == kPanel && row.id == kMoreLess;
        compare("tooltip", QString::fromUtf8(extendedTip ? kMoreLessTipExtended : row.tip),
                control->toolTip());
        compare("tab stop", row.tabStop ? QStringLiteral("yes") : QStringLiteral("no"),
                isTabStop(control) ? QStringLiteral("yes") : QStringLiteral("no"));
        compare("value", resolved(row.value, session), valueOf(control));
        compare("entries", QString::fromUtf8(row.entries != nullptr ? row.entries : ""),
                entriesOf(control));
        if (row.shown != Varies) {
            const bool shown = row.shown == Always || (row.shown == Extended && extended);
            compare("shown", shown ? QStringLiteral("shown") : QStringLiteral("hidden"),
                    control->isHidden() ? QStringLiteral("hidden") : QStringLiteral("shown"));
        }
    }
    for (const LiveControl& extra : live)
        differences.add(nameOf(extra.id, textOf(extra.widget)) + QStringLiteral(" (") +
                        extra.widget->metaObject()->className() +
                        QStringLiteral("): not in the table"));
}

// One menu entry as a line: its popup, text and command; a null text is a separator.
QString menuEntry(const QString& popup, const QString& text, const QString& command)
{
    return text.isNull() ? popup + QStringLiteral(" | ----")
                         : QStringLiteral("%1 | %2 | %3").arg(popup, text, command);
}

QString menuEntry(const QString& popup, const QAction* action)
{
    return menuEntry(popup, action->isSeparator() ? QString() : action->text(),
                     action->property("id").toString());
}

// The entries of `windowId`'s menus against the table, in order.
void compareMenu(const QStringList& live, int windowId, Differences& differences)
{
    QStringList expected;
    for (const MenuRow& row : kMenus) {
        if (row.window == windowId)
            expected << menuEntry(QString::fromUtf8(row.popup),
                                  row.text != nullptr ? QString::fromUtf8(row.text) : QString(),
                                  QString::number(row.command));
    }
    for (qsizetype i = 0; i < std::max(expected.size(), live.size()); ++i)
        differences.compare(QStringLiteral("menu entry %1").arg(i + 1), expected.value(i),
                            live.value(i));
}

// What a window that a command opened shows the user, in a word.
QString describe(QWidget* window)
{
    if (const auto* files = qobject_cast<QFileDialog*>(window)) {
        QStringList filters = files->nameFilters();
        filters.replaceInStrings(QRegularExpression(QStringLiteral("^Alle Bilder \\(.*\\)$")),
                                 QStringLiteral("Alle Bilder (…)"));
        return (files->acceptMode() == QFileDialog::AcceptOpen ? QStringLiteral("Öffnen: ")
                                                               : QStringLiteral("Speichern: ")) +
               filters.join(QStringLiteral(";;"));
    }
    if (qobject_cast<QMenu*>(window) != nullptr)
        return QStringLiteral("Menü");
    return window->windowTitle();
}

// Runs `command` and closes each dialog or menu it opens once `inspect` has seen
// it, as the user would with Escape. Returns what showed: the windows, the
// messages (`messages` recorded them) and the end of the program (`mainWindow`
// closed).
QStringList answered(const std::function<void()>& command, const RecordingMessageSink& messages,
                     const QWidget* mainWindow, const std::function<void(QWidget*)>& inspect = {})
{
    QStringList shown;
    QList<QPointer<QWidget>> seen;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            seen << widget;
    }
    const std::size_t messagesBefore = messages.messages().size();
    const bool mainWasVisible = mainWindow != nullptr && mainWindow->isVisible();
    QTimer watcher;
    watcher.setInterval(10);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            const bool opened = qobject_cast<QDialog*>(widget) != nullptr ||
                                qobject_cast<QMenu*>(widget) != nullptr;
            if (!opened || !widget->isVisible() || seen.contains(widget))
                continue;
            seen << widget;
            shown << describe(widget);
            // Outside the watcher, so that what `inspect` opens is seen too.
            QMetaObject::invokeMethod(
                widget,
                [&inspect, widget] {
                    if (inspect)
                        inspect(widget);
                    if (auto* dialog = qobject_cast<QDialog*>(widget))
                        dialog->reject();
                    else
                        widget->close();
                },
                Qt::QueuedConnection);
        }
    });
    watcher.start();
    command();
    watcher.stop();
    const auto recorded = messages.messages();
    for (std::size_t i = messagesBefore; i < recorded.size(); ++i)
        shown << QStringLiteral("Meldung: ") + recorded[i].text;
    if (mainWasVisible && !mainWindow->isVisible())
        shown << QStringLiteral("Programmende");
    return shown;
}

} // namespace

class UiTextTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<batchtest::Sandbox> m_box;
    std::unique_ptr<RecordingMessageSink> m_messages;

private slots:
    void init()
    {
        // No mail client: nothing is ever handed to one.
        m_box = std::make_unique<batchtest::Sandbox>(false);
        QVERIFY(m_box->isValid());
        m_messages = std::make_unique<RecordingMessageSink>();
    }

    void cleanup()
    {
        m_messages.reset();
        m_box.reset();
    }

    void mainWindow()
    {
        CImageDlg window(m_box->settings());
        Differences differences;
        compareWindow(&window, kMainWindow, differences);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QStringList menu;
        const QStringList shown = answered(
            [&window] {
                const QPoint at(20, 20);
                QContextMenuEvent click(QContextMenuEvent::Mouse, at, window.mapToGlobal(at));
                QApplication::sendEvent(&window, &click);
            },
            *m_messages, &window,
            [&menu](QWidget* opened) {
                auto* popup = qobject_cast<QMenu*>(opened);
                if (popup == nullptr)
                    return;
                for (QAction* action : popup->actions())
                    menu << menuEntry(QString(), action);
                if (!popup->actions().isEmpty())
                    popup->actions().constLast()->trigger();
            });
        compareMenu(menu, kMainWindow, differences);
        differences.compare(QStringLiteral("context menu shows"),
                            QStringLiteral("Menü, Info über Pictavo"),
                            shown.join(QStringLiteral(", ")));
        QVERIFY2(differences.isEmpty(), differences.report().constData());
    }

    void panel()
    {
        CImageDlg window(m_box->settings());
        window.OnInitDialog();
        window.show();
        auto* panel = window.findChild<CPanelDlg*>();
        QVERIFY(panel != nullptr);
        // The panel follows once its owner is on the screen.
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(panel->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QTRY_VERIFY(window.conversionsIdle());
        const auto session = [&window] {
            QString result = window.lastResult().information;
            return Session{{QStringLiteral("Ergebnis"),
                            result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))}};
        };

        Differences differences;
        compareWindow(panel, kPanel, differences, session());
        panel->findChild<QAbstractButton*>(QString::number(kMoreLess))->click();
        compareWindow(panel, kPanel, differences, session(), true);

        QStringList menu;
        const QMenuBar* menuBar = panel->findChild<QMenuBar*>();
        QVERIFY(menuBar != nullptr);
        for (const QAction* popup : menuBar->actions()) {
            for (const QAction* action : popup->menu()->actions())
                menu << menuEntry(popup->text(), action);
        }
        compareMenu(menu, kPanel, differences);

        // Each command reaches the main window: what its handler shows appears.
        const auto menuCommand = [panel](int id) -> QAction* {
            for (QAction* action : panel->findChildren<QAction*>()) {
                if (action->property("id").toInt() == id)
                    return action;
            }
            return nullptr;
        };
        for (const CommandRow& row : kCommands) {
            if (row.button != 0) {
                auto* button = panel->findChild<QAbstractButton*>(QString::number(row.button));
                QVERIFY2(button != nullptr, qPrintable(QString::number(row.button)));
                const QStringList shown =
                    answered([button] { button->click(); }, *m_messages, &window);
                differences.compare(QStringLiteral("button %1 shows").arg(row.button),
                                    QString::fromUtf8(row.shows), shown.join(QStringLiteral(", ")));
            }
            QAction* action = menuCommand(row.command);
            if (action == nullptr) {
                differences.add(QStringLiteral("menu command %1: missing").arg(row.command));
                continue;
            }
            const QStringList shown =
                answered([action] { action->trigger(); }, *m_messages, &window);
            differences.compare(
                QStringLiteral("menu command %1 \"%2\" shows").arg(row.command).arg(action->text()),
                QString::fromUtf8(row.shows), shown.join(QStringLiteral(", ")));
        }
        QVERIFY2(differences.isEmpty(), differences.report().constData());
    }

    void folderDialog()
    {
        CImageDlg window(m_box->settings());
        window.values().m_strSourceDir = m_box->folder(QStringLiteral("Quelle"));
        window.values().m_strDestDir = m_box->folder(QStringLiteral("Ziel"));
        // A turn and a mirror left over from the last picture are named.
        window.settings().m_nTargetSize = 800;
        window.settings().m_nQuality = 70;
        window.settings().m_nOrientation = 1 + 4;
        const Session session{{QStringLiteral("Quelle"), window.values().m_strSourceDir},
                              {QStringLiteral("Ziel"), window.values().m_strDestDir}};
        Differences differences;
        const QStringList shown = answered(
            [&window] { window.OnConvertDirectory(); }, *m_messages, nullptr,
            [&](QWidget* dialog) { compareWindow(dialog, kFolderDialog, differences, session); });
        QCOMPARE(shown, QStringList{QStringLiteral("Verzeichnis umwandeln")});
        QVERIFY2(differences.isEmpty(), differences.report().constData());
        QVERIFY(!window.IsBatchRunning());
    }

    void question()
    {
        // The question as a directory conversion makes it, before its first use.
        CImageDlg window(m_box->settings());
        CConfirmDlg* question = window.confirmDialog();
        QVERIFY(question != nullptr);
        // A window of its own: nothing typed into the main window reaches it.
        QVERIFY(question->parentWidget() == nullptr);
        QVERIFY(question->isHidden());
        question->show();
        QVERIFY(QTest::qWaitForWindowExposed(question));
        Differences differences;
        compareWindow(question, kQuestion, differences);
        QVERIFY2(differences.isEmpty(), differences.report().constData());
    }

    void mailSetup()
    {
        CImageDlg window(m_box->settings());
        Differences differences;
        const QStringList shown = answered(
            [&window] { window.OnMailSetup(); }, *m_messages, nullptr,
            [&differences](QWidget* dialog) { compareWindow(dialog, kMailSetup, differences); });
        QCOMPARE(shown, QStringList{QStringLiteral("Mail Setup")});
        QVERIFY2(differences.isEmpty(), differences.report().constData());
    }
};

QTEST_MAIN(UiTextTest)
#include "UiTextTest.moc"
