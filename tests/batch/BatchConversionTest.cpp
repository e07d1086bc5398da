// The directory conversion end to end on the real main window: the batch on
// its own threads, in parallel behind the progress dialog or file by file with
// the question answered on the GUI thread while the batch waits, the closing
// message, the files handed to the mail, skipped pictures, and the commands
// refused while a batch runs.
//
// No mail client is on the PATH here: the mailer then sends nothing and keeps
// what the batch attached, which is what these tests look at. The mail itself
// is tested in MailCommandTest.
#include "BatchTestSupport.h"
#include "CConfirmDlg.h"
#include "CFolderDlg.h"
#include "imaging/ConversionPipeline.h"
#include "RecordingMessageSink.h"
#include "resource.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

using namespace batchtest;

namespace {

const QString kAllDone = QStringLiteral("Alle Dateine sind umgewandelt");

// The titles the window showed for the files of a batch ("a.jpg (1 Kb) – 1 / 3").
class TitleLog
{
public:
    explicit TitleLog(QWidget& window)
    {
        QObject::connect(&window, &QWidget::windowTitleChanged, &window,
                         [this](const QString& title) {
                             if (title.contains(QStringLiteral(" – ")))
                                 m_titles << title;
                         });
    }

    // The source names in the order they were converted or skipped.
    QStringList files() const
    {
        QStringList names;
        for (const QString& title : m_titles)
            names << title.section(QStringLiteral(" ("), 0, 0).section(QStringLiteral(" – "), 0, 0);
        return names;
    }

private:
    QStringList m_titles;
};

void answer(CConfirmDlg* question, const QString& how)
{
    if (how == QLatin1String("escape"))
        QTest::keyClick(question, Qt::Key_Escape);
    else if (how == QLatin1String("enter"))
        QTest::keyClick(question, Qt::Key_Return);
    else if (how == QLatin1String("enter on nein")) {
        // Enter presses the button that has the focus, not the default one.
        QPushButton* no = control<QPushButton>(question, CConfirmDlg::kNo);
        no->setFocus();
        QTest::keyClick(no, Qt::Key_Return);
    }
    else if (how == QLatin1String("close box"))
        question->close();
    else {
        const int id = how == QLatin1String("ja")          ? CConfirmDlg::kYes
                       : how == QLatin1String("nein")      ? CConfirmDlg::kNo
                       : how == QLatin1String("abbrechen") ? CConfirmDlg::kCancel
                                                           : CConfirmDlg::kYesToAll;
        control<QPushButton>(question, id)->click();
    }
}

// The names the mailer would send, in the order they were attached.
QStringList attachedNames(CImageDlg& window)
{
    QStringList names;
    for (const CMapiMailer::Attachment& attachment : window.mailer().Attachments())
        names << attachment.fileName;
    return names;
}

bool questionOpen(CImageDlg& window)
{
    const CConfirmDlg* question = window.confirmDialog();
    return question->isVisible() && question->answer() == CConfirmDlg::kNoAnswer;
}

} // namespace

class BatchConversionTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<RecordingMessageSink> m_messages;

    std::unique_ptr<CImageDlg> newWindow()
    {
        auto window = std::make_unique<CImageDlg>(m_box->settings());
        window->settings().m_nTargetSize = 32;
        window->setCurrentPicture(writePicture(m_box->path(QStringLiteral("user.jpg")), {50, 50}));
        return window;
    }

    // Runs the command, accepts the dialog with the given values and leaves
    // the batch running.
    static void startBatch(CImageDlg& window, const QString& source, const QString& destination,
                           bool askEachFile, bool mailAfter)
    {
        window.values().m_strSourceDir = source;
        window.values().m_strDestDir = destination;
        window.values().m_bAskEachFile = askEachFile;
        window.values().m_bMailAfter = mailAfter;
        whenDialogShown<CFolderDlg>(
            [](CFolderDlg* dialog) { control<QPushButton>(dialog, IDOK)->click(); });
        window.OnConvertDirectory();
    }

    QStringList messageTexts() const
    {
        QStringList texts;
        for (const RecordingMessageSink::Message& message : m_messages->messages())
            texts << message.text;
        return texts;
    }

    QString abc()
    {
        const QString source = m_box->folder(QStringLiteral("abc"));
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            writePicture(source + u'/' + QString::fromLatin1(name));
        return source;
    }

private slots:
    void init()
    {
        m_box = std::make_unique<Sandbox>(false);
        QVERIFY(m_box->isValid());
        m_messages = std::make_unique<RecordingMessageSink>();
    }

    void cleanup()
    {
        m_messages.reset();
        m_box.reset();
    }

    void patternsInOrderWithoutRegardToCase()
    {
        const QString source = m_box->folder(QStringLiteral("quelle"));
        const QString target = m_box->folder(QStringLiteral("ziel"));
        for (const char* name :
             {"b.JPG", "f.BMP", "e.gif", "a.jpg", "d.jpeg", "c.Jpe", "g.png", "j.xpm"})
            writePicture(source + u'/' + QString::fromLatin1(name));
        QDir(source).mkpath(QStringLiteral("h.jpg"));
        writePicture(m_box->folder(QStringLiteral("quelle/sub")) + QStringLiteral("/i.jpg"));

        auto window = newWindow();
        const TitleLog log(*window);
        startBatch(*window, source, target, false, false);
        QVERIFY(window->IsBatchRunning());
        QProgressDialog* progress = window->progressDialog();
        QVERIFY(progress != nullptr && progress->isVisible());
        QVERIFY(!window->confirmDialog()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 60000);
        QVERIFY(!progress->isVisible());
        // Its updates are spaced out, but the last figures are never left out.
        QCOMPARE(progress->labelText(), QStringLiteral("Die Bilder werden umgewandelt … 7 / 7"));
        QCOMPARE(progress->value(), 7);

        QCOMPARE(log.files(),
                 QStringList({"a.jpg", "b.JPG", "c.Jpe", "d.jpeg", "e.gif", "f.BMP", "g.png"}));
        QCOMPARE(entries(target),
                 QStringList({"a 32x24.jpg", "b 32x24.jpg", "c 32x24.jpg", "d 32x24.jpg",
                              "e 32x24.jpg", "f 32x24.jpg", "g 32x24.jpg"}));
        QCOMPARE(messageTexts(), QStringList{kAllDone});
        QVERIFY(attachedNames(*window).isEmpty());
        // Made like any new file of the user's, not like a private temporary one.
        QFile fresh(m_box->path(QStringLiteral("fresh")));
        QVERIFY(fresh.open(QIODevice::WriteOnly));
        QCOMPARE(QFile::permissions(target + QStringLiteral("/a 32x24.jpg")), fresh.permissions());
        // The view is back on the user's own picture.
        QTRY_VERIFY(window->conversionsIdle());
        QVERIFY2(window->windowTitle().startsWith(QStringLiteral("user.jpg (")),
                 qPrintable(window->windowTitle()));
        QCOMPARE(window->lastResult().outputSize, QSize(32, 32));
    }

    // Without the question the files convert in parallel behind a progress
    // dialog; its "Abbrechen" ends the batch after the files under way, without
    // a closing message, and the view returns to the user's picture.
    void progressDialogCancels()
    {
        const QString source = m_box->folder(QStringLiteral("viele"));
        const QString target = m_box->folder(QStringLiteral("ziel"));
        // Enough work that the click lands long before the last file, even on a
        // fast machine.
        const int total = 40;
        for (int i = 0; i < total; ++i)
            writePicture(source + QStringLiteral("/%1.jpg").arg(i, 2, 10, QLatin1Char('0')),
                         {2400, 1800});
        auto window = newWindow();
        startBatch(*window, source, target, false, false);
        QProgressDialog* progress = window->progressDialog();
        QVERIFY(progress != nullptr && progress->isVisible());
        QPushButton* cancel = nullptr;
        for (QPushButton* button : progress->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Abbrechen"))
                cancel = button;
        QVERIFY(cancel != nullptr);
        cancel->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 60000);

        QVERIFY(!progress->isVisible());
        QVERIFY2(entries(target).size() < total, qPrintable(entries(target).join(u',')));
        QVERIFY(messageTexts().isEmpty());
        QTRY_VERIFY(window->conversionsIdle());
        QVERIFY(window->windowTitle().startsWith(QStringLiteral("user.jpg (")));
    }

    // A same-stem pair into its own folder: the second gets a free name, and a
    // second run adds no file.
    void destinationEqualToSourceConvertsEachFileOnce()
    {
        const QString folder = m_box->folder(QStringLiteral("hier"));
        for (const char* name : {"a.jpg", "a.jpeg", "b.jpg", "c.bmp"})
            writePicture(folder + u'/' + QString::fromLatin1(name));

        auto window = newWindow();
        const TitleLog log(*window);
        const QStringList after = {"a 32x24 (2).jpg", "a 32x24.jpg", "a.jpeg", "a.jpg",
                                   "b 32x24.jpg",     "b.jpg",       "c 32x24.jpg", "c.bmp"};
        for (int run = 0; run < 2; ++run) {
            startBatch(*window, folder, folder, false, false);
            QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 60000);
            QCOMPARE(entries(folder), after);
        }
        QCOMPARE(log.files().mid(0, 4), QStringList({"a.jpg", "b.jpg", "a.jpeg", "c.bmp"}));
        QCOMPARE(messageTexts(), QStringList({kAllDone, kAllDone}));
        const auto messages = m_messages->messages();
        QVERIFY2(messages[0].details.contains(QStringLiteral("a 32x24.jpg → a 32x24 (2).jpg")),
                 qPrintable(messages[0].details));
        QVERIFY2(messages[1].details.contains(QStringLiteral("Frühere Ergebnisse")),
                 qPrintable(messages[1].details));
    }

    void questionAnswers_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QStringList>("attached");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("askAfterwards");

        const QStringList all{"a 32x24.jpg", "b 32x24.jpg", "c 32x24.jpg"};
        QTest::newRow("Ja") << "ja" << 3 << all << 3 << 1;
        QTest::newRow("Enter") << "enter" << 3 << all << 3 << 1;
        QTest::newRow("Nein") << "nein" << 3 << QStringList{"b 32x24.jpg", "c 32x24.jpg"} << 3 << 1;
        QTest::newRow("Enter on Nein")
            << "enter on nein" << 3 << QStringList{"b 32x24.jpg", "c 32x24.jpg"} << 3 << 1;
        QTest::newRow("Ja zu allen") << "ja zu allen" << 1 << all << 3 << 0;
        QTest::newRow("Abbrechen") << "abbrechen" << 1 << QStringList() << 1 << 1;
        QTest::newRow("Escape") << "escape" << 1 << QStringList() << 1 << 1;
        QTest::newRow("close box") << "close box" << 1 << QStringList() << 1 << 1;
    }

    // The first question gets `first`, every later one "&Ja".
    void questionAnswers()
    {
        QFETCH(QString, first);
        QFETCH(int, questions);
        QFETCH(QStringList, attached);
        QFETCH(int, written);
        QFETCH(int, askAfterwards);
        const QString source = abc();
        const QString target = m_box->folder(QStringLiteral("ziel"));
        const QString userPicture = m_box->path(QStringLiteral("user.jpg"));

        auto window = newWindow();
        startBatch(*window, source, target, true, true);
        CConfirmDlg* question = window->confirmDialog();
        int asked = 0;
        for (;;) {
            QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning() || questionOpen(*window), 30000);
            if (!window->IsBatchRunning())
                break;
            if (asked == 0) {
                // Asked after the conversion: the file is written and shown, and
                // stands in for the current picture while the question is open.
                QCOMPARE(control<QLabel>(question, IDC_CONFIRM_TEXT)->text(),
                         QStringLiteral("Möchten Sie diese Datei umwandeln?"));
                QVERIFY(QFileInfo::exists(target + QStringLiteral("/a 32x24.jpg")));
                QCOMPARE(window->currentPicture(), source + QStringLiteral("/a.jpg"));
                QVERIFY(window->windowTitle().startsWith(QStringLiteral("a.jpg (")));
                QVERIFY(window->windowTitle().endsWith(QStringLiteral("1 / 3")));
                QVERIFY(window->lastResult().title.startsWith(QStringLiteral("a.jpg (")));
                QCOMPARE(window->lastResult().outputSize, QSize(32, 24));
                // The question is a window of its own: Enter in the main window
                // does not answer it.
                QTest::keyClick(window.get(), Qt::Key_Return);
                QCOMPARE(question->answer(), CConfirmDlg::kNoAnswer);
                QVERIFY(question->isVisible());
            }
            answer(question, asked == 0 ? first : QStringLiteral("ja"));
            ++asked;
            QTRY_VERIFY(!question->isVisible() || !questionOpen(*window));
        }

        QCOMPARE(asked, questions);
        QCOMPARE(entries(target).size(), written);
        QCOMPARE(window->values().m_bAskEachFile, askAfterwards);
        QCOMPARE(window->currentPicture(), userPicture);
        QVERIFY(!question->isVisible());
        // The mail replaces the closing message; with no mail client here, the
        // destination folder is offered instead.
        const QStringList shown = messageTexts();
        QCOMPARE(shown.size(), attached.isEmpty() ? 0 : 1);
        if (!attached.isEmpty())
            QVERIFY2(shown[0].contains(QDir::toNativeSeparators(target)), qPrintable(shown[0]));
        QCOMPARE(attachedNames(*window), attached);
    }

    void yesToAllStaysOff()
    {
        const QString source = abc();
        auto window = newWindow();
        startBatch(*window, source, m_box->folder(QStringLiteral("ziel")), true, false);
        QTRY_VERIFY_WITH_TIMEOUT(questionOpen(*window), 30000);
        answer(window->confirmDialog(), QStringLiteral("ja zu allen"));
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 30000);
        QCOMPARE(messageTexts(), QStringList{kAllDone});

        bool ticked = true;
        whenDialogShown<CFolderDlg>([&ticked](CFolderDlg* dialog) {
            ticked = control<QCheckBox>(dialog, IDC_FOLDER_ASK_EACH_FILE)->isChecked();
            dialog->reject();
        });
        window->OnConvertDirectory();
        QVERIFY(!ticked);
        window.reset();
        const QSettings stored(m_box->settingsPath(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Setting/Nachfragen")).toInt(), 0);
    }

    // The closing box says how many were converted and names the others, with
    // their reasons, in its folded part; with mail on and nothing to mail it
    // says so.
    void closingBoxCountsAndNamesWhatWasSkipped()
    {
        const QString source = m_box->folder(QStringLiteral("quelle"));
        const QString target = m_box->folder(QStringLiteral("ziel"));
        writePicture(source + QStringLiteral("/a.jpg"));
        QFile broken(source + QStringLiteral("/kaputt.jpg"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("kein Bild");
        broken.close();
        QFile empty(source + QStringLiteral("/leer.gif"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();

        auto window = newWindow();
        startBatch(*window, source, target, false, false);
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 60000);

        // Nothing at all for the two, not even a temporary file.
        QCOMPARE(entries(target), QStringList({"a 32x24.jpg"}));
        auto messages = m_messages->messages();
        QCOMPARE(messages.size(), size_t(1));
        QCOMPARE(messages[0].text,
                 QStringLiteral("1 von 3 Dateien sind umgewandelt, 2 übersprungen."));
        QVERIFY2(namesFile(messages[0].details, QStringLiteral("kaputt.jpg")) &&
                     messages[0].details.contains(QStringLiteral("leer.gif: die Datei ist leer")),
                 qPrintable(messages[0].details));
        QVERIFY(!namesFile(messages[0].details, QStringLiteral("a.jpg")));

        startBatch(*window, m_box->folder(QStringLiteral("leer")), target, false, true);
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 60000);
        messages = m_messages->messages();
        QCOMPARE(messages.size(), size_t(2));
        QCOMPARE(messages[1].text, QStringLiteral("Im Quellordner ist kein Bild zum Umwandeln.\n"
                                                  "Es wird keine Mail versendet."));
    }

    // A missing destination is made only when the user agrees; one that cannot
    // take files is named. Either way no picture is read before.
    void theDestinationIsSettledBeforeTheFirstPicture()
    {
        auto window = newWindow();
        const QString source = abc();
        const QString target = m_box->path(QStringLiteral("fehlt/tief"));
        startBatch(*window, source, target, false, true);
        QVERIFY(!window->IsBatchRunning());
        QVERIFY(!QFileInfo::exists(target));
        QVERIFY(messageTexts().value(0).startsWith(QStringLiteral("Der Zielordner „%1“ existiert "
                                                                  "nicht.").arg(target)));

        startBatch(*window, source, QStringLiteral("/proc"), false, true);
        QVERIFY(!window->IsBatchRunning());
        QCOMPARE(messageTexts().value(1),
                 QStringLiteral("In den Zielordner „/proc“ kann nicht geschrieben werden: keine "
                                "Berechtigung (Zugriff verweigert)."));

        m_messages->setAnswer(true);
        startBatch(*window, source, target, false, false);
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 60000);
        QCOMPARE(entries(target), QStringList({"a 32x24.jpg", "b 32x24.jpg", "c 32x24.jpg"}));
        QCOMPARE(messageTexts().size(), 4);
        QCOMPARE(messageTexts().last(), kAllDone);
    }

    void overlappingCommandsAreRefused()
    {
        const QString target = m_box->folder(QStringLiteral("ziel"));
        auto window = newWindow();
        startBatch(*window, abc(), target, true, false);
        QTRY_VERIFY_WITH_TIMEOUT(questionOpen(*window), 30000);

        // Open, save and mail are refused; a file dialog would mean they were not.
        bool fileDialogShown = false;
        const QPointer<QTimer> guard = new QTimer;
        connect(guard, &QTimer::timeout, guard, [&fileDialogShown] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QFileDialog*>(widget);
                    dialog && dialog->isVisible()) {
                    fileDialogShown = true;
                    dialog->reject();
                }
        });
        guard->start(10);
        window->OnOpen();
        window->OnSaveAs();
        window->OnSendMail();
        delete guard.data();
        QVERIFY(!fileDialogShown);
        const QStringList refusals = messageTexts();
        QCOMPARE(refusals.size(), 3);
        for (const QString& text : refusals)
            QVERIFY2(text.startsWith(QStringLiteral("Während ein Verzeichnis umgewandelt wird")) &&
                         text.contains(QStringLiteral("(1 / 3)")),
                     qPrintable(text));
        QVERIFY(attachedNames(*window).isEmpty());

        // A second directory command offers to stop the batch; "&Nein" keeps it.
        const auto pressInStopBox = [](const QString& button) {
            whenObjectShown(QStringLiteral("StopBatchBox"), [button](QWidget* box) {
                for (QPushButton* candidate : box->findChildren<QPushButton*>())
                    if (candidate->text() == button)
                        candidate->click();
            });
        };
        pressInStopBox(QStringLiteral("&Nein"));
        window->OnConvertDirectory();
        QVERIFY(window->IsBatchRunning());
        QVERIFY(questionOpen(*window));

        // "&Ja" stops it: no further file, no closing message, the user's picture back.
        pressInStopBox(QStringLiteral("&Ja"));
        window->OnConvertDirectory();
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 30000);
        QCOMPARE(entries(target), QStringList{"a 32x24.jpg"});
        QCOMPARE(messageTexts().size(), 3);
        QCOMPARE(window->currentPicture(), m_box->path(QStringLiteral("user.jpg")));
    }

    void aCancelledBatchLeavesNothingForTheNextMail()
    {
        auto window = newWindow();
        startBatch(*window, abc(), m_box->folder(QStringLiteral("ziel")), true, true);
        QTRY_VERIFY_WITH_TIMEOUT(questionOpen(*window), 30000);
        answer(window->confirmDialog(), QStringLiteral("ja"));
        QTRY_VERIFY_WITH_TIMEOUT(questionOpen(*window), 30000);
        answer(window->confirmDialog(), QStringLiteral("abbrechen"));
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 30000);
        // A cancelled batch sends nothing, not even the file accepted before.
        QVERIFY(attachedNames(*window).isEmpty());
        QVERIFY(messageTexts().isEmpty());

        const QString second = m_box->folder(QStringLiteral("zweite"));
        writePicture(second + QStringLiteral("/x.bmp"));
        startBatch(*window, second, m_box->folder(QStringLiteral("ziel2")), false, true);
        QTRY_VERIFY_WITH_TIMEOUT(!window->IsBatchRunning(), 30000);
        QCOMPARE(attachedNames(*window), QStringList{"x 32x24.jpg"});
    }

    void closingTheWindowEndsAWaitingBatch()
    {
        const QString target = m_box->folder(QStringLiteral("ziel"));
        auto window = newWindow();
        startBatch(*window, abc(), target, true, false);
        QTRY_VERIFY_WITH_TIMEOUT(questionOpen(*window), 30000);
        QElapsedTimer clock;
        clock.start();
        window->reject();
        QVERIFY(!window->IsBatchRunning());
        QVERIFY(clock.elapsed() < 5000);
        window.reset();
        // The picture the question had stood in for is not what was stored.
        const QSettings stored(m_box->settingsPath(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Setting/Testfile")).toString(),
                 m_box->path(QStringLiteral("user.jpg")));
        QCOMPARE(entries(target), QStringList{"a 32x24.jpg"});
        QVERIFY(messageTexts().isEmpty());
    }
};

QTEST_MAIN(BatchConversionTest)
#include "BatchConversionTest.moc"
