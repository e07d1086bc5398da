// The mail commands of the main window: "Mail Setup" keeping or taking the
// texts, "Versenden per Mail" handing a converted copy, and the mail at the end
// of a directory conversion, all to a stand-in xdg-email that records what it
// was given. The window hands each mail over in the background and shows the
// outcome once it arrives.
#include "BatchTestSupport.h"
#include "CFolderDlg.h"
#include "CMailSetupDlg.h"
#include "RecordingMessageSink.h"
#include "mail/MailSplit.h"
#include "resource.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using namespace batchtest;

class MailCommandTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<RecordingMessageSink> m_messages;

    // The converted copies handed to the mail client, which stay after the send.
    QStringList attachedCopies(int mail) const
    {
        return optionValues(m_box->mails().value(mail), QStringLiteral("--attach"));
    }

    // Folders the mail command made for its copies and has not removed.
    QStringList leftoverCopyFolders() const
    {
        return QDir(m_box->path(QStringLiteral("tmp")))
            .entryList({QStringLiteral("pictavo-send-*")}, QDir::Dirs | QDir::Hidden);
    }

    // The copy is converted first, then handed over.
    static bool mailHandedOver(CImageDlg& window)
    {
        return QTest::qWaitFor(
            [&] { return window.conversionsIdle() && !window.mailSender().isSending(); }, 30000);
    }

private slots:
    void init()
    {
        m_box = std::make_unique<Sandbox>();
        QVERIFY(m_box->isValid());
        m_messages = std::make_unique<RecordingMessageSink>();
    }

    void cleanup()
    {
        m_messages.reset();
        m_box.reset();
    }

    void mailSetupKeepsOrTakesTheTexts_data()
    {
        QTest::addColumn<int>("button");
        QTest::newRow("OK") << int(IDOK);
        QTest::newRow("Abbrechen") << int(IDCANCEL);
    }

    void mailSetupKeepsOrTakesTheTexts()
    {
        QFETCH(int, button);
        CImageDlg window(m_box->settings());
        window.values().m_strMailText = QStringLiteral("Zeile eins\r\nZeile zwei");
        QString shownSubject;
        QString shownText;
        whenDialogShown<CMailSetupDlg>([&](CMailSetupDlg* dialog) {
            auto* subject = control<QLineEdit>(dialog, IDC_MAIL_SUBJECT);
            auto* text = control<QPlainTextEdit>(dialog, IDC_MAIL_TEXT);
            shownSubject = subject->text();
            shownText = text->toPlainText();
            subject->setText(QStringLiteral("Ferien"));
            text->setPlainText(QStringLiteral("Hallo\nbis bald"));
            control<QPushButton>(dialog, button)->click();
        });
        window.OnMailSetup();
        QCOMPARE(shownSubject, QStringLiteral("Beiliegend Ihre Bilder"));
        QCOMPARE(shownText, QStringLiteral("Zeile eins\nZeile zwei"));
        const bool ok = button == IDOK;
        QCOMPARE(window.values().m_strMailSubject,
                 ok ? QStringLiteral("Ferien") : QStringLiteral("Beiliegend Ihre Bilder"));
        QCOMPARE(window.values().m_strMailText, ok ? QStringLiteral("Hallo\nbis bald")
                                          : QStringLiteral("Zeile eins\r\nZeile zwei"));
    }

    void sendMailHandsOverAConvertedCopyAndRemovesItsOwn()
    {
        const QString picture =
            writePicture(m_box->folder(QStringLiteral("bilder")) + QStringLiteral("/Urlaub.bmp"));
        CImageDlg window(m_box->settings());
        window.settings().m_nTargetSize = 40;
        window.setCurrentPicture(picture);

        window.OnSendMail();
        QVERIFY(mailHandedOver(window));
        QCOMPARE(m_box->mails().size(), 1);
        const QStringList arguments = m_box->mails()[0];
        QCOMPARE(optionValues(arguments, QStringLiteral("--subject")),
                 QStringList{"Beiliegend Ihre Bilder"});
        QCOMPARE(optionValues(arguments, QStringLiteral("--body")),
                 QStringList{"In der Beilage erhalten Sie die gewünschten Bilder"});
        const QStringList copies = attachedCopies(0);
        QCOMPARE(fileNames(copies), QStringList{"Urlaub.jpg"});
        const QImage sent(copies[0]);
        QCOMPARE(sent.size(), QSize(40, 30));
        QVERIFY(leftoverCopyFolders().isEmpty());
        QVERIFY(m_messages->messages().empty());

        // A second send carries its own single copy.
        window.OnSendMail();
        QVERIFY(mailHandedOver(window));
        QCOMPARE(m_box->mails().size(), 2);
        QCOMPARE(fileNames(attachedCopies(1)), QStringList{"Urlaub.jpg"});
        QVERIFY(QFileInfo::exists(copies[0]));
        QVERIFY(leftoverCopyFolders().isEmpty());
    }

    void sendMailNeverTouchesAPictureInTheTemporaryFolder()
    {
        const QString picture =
            writePicture(m_box->path(QStringLiteral("tmp/Foto.jpg")), {120, 90});
        const QByteArray before = contentOf(picture);
        CImageDlg window(m_box->settings());
        window.settings().m_nTargetSize = 40;
        window.setCurrentPicture(picture);

        window.OnSendMail();
        QVERIFY(mailHandedOver(window));
        QCOMPARE(contentOf(picture), before);
        QCOMPARE(fileNames(attachedCopies(0)), QStringList{"Foto.jpg"});
        QCOMPARE(QImage(attachedCopies(0)[0]).size(), QSize(40, 30));
    }

    void failedSendStillRemovesTheCopy()
    {
        // xdg-email that finds no mail client, after a while: the window goes on
        // meanwhile, then shows the failure, and the copy goes.
        m_box->writeScript(QStringLiteral("bin/xdg-email"), "sleep 1\nexit 3\n");
        const QString picture = writePicture(m_box->path(QStringLiteral("Bild.gif")));
        CImageDlg window(m_box->settings());
        window.setCurrentPicture(picture);
        window.OnSendMail();
        QTRY_VERIFY(window.conversionsIdle());
        QVERIFY(window.mailSender().isSending());
        QVERIFY(m_messages->messages().empty());
        QVERIFY(mailHandedOver(window));
        QCOMPARE(m_messages->messages().size(), size_t(1));
        QCOMPARE(
            m_messages->messages()[0].text,
            QStringLiteral("One or more unspecified errors occurred. No message was sent.\r\n"));
        QVERIFY(leftoverCopyFolders().isEmpty());
    }

    void batchMailCarriesEveryConvertedFile()
    {
        const QString source = m_box->folder(QStringLiteral("quelle"));
        writePicture(source + QStringLiteral("/b.jpg"));
        writePicture(source + QStringLiteral("/a.bmp"));
        QFile broken(source + QStringLiteral("/kaputt.jpg"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("kein Bild");
        broken.close();
        CImageDlg window(m_box->settings());
        window.settings().m_nTargetSize = 32;
        window.values().m_strMailSubject = QStringLiteral("Ferienfotos");
        window.values().m_strSourceDir = source;
        window.values().m_strDestDir = m_box->folder(QStringLiteral("ziel"));
        window.values().m_bAskEachFile = 0;
        window.values().m_bMailAfter = 1;
        whenDialogShown<CFolderDlg>([](CFolderDlg* dialog) { dialog->accept(); });
        window.OnConvertDirectory();
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBatchRunning(), 60000);
        QVERIFY(mailHandedOver(window));

        QCOMPARE(m_box->mails().size(), 1);
        const QStringList arguments = m_box->mails()[0];
        QCOMPARE(optionValues(arguments, QStringLiteral("--subject")), QStringList{"Ferienfotos"});
        QCOMPARE(optionValues(arguments, QStringLiteral("--body")),
                 QStringList{window.values().m_strMailText});
        QCOMPARE(fileNames(attachedCopies(0)), QStringList({"b 32x24.jpg", "a 32x24.jpg"}));
        QVERIFY(window.mailer().Attachments().empty());
        // No "all converted" with the mail; the skipped picture is named all the same.
        QCOMPARE(m_messages->messages().size(), size_t(1));
        QVERIFY(namesFile(m_messages->messages()[0].details, QStringLiteral("kaputt.jpg")));
        QVERIFY(!m_messages->messages()[0].text.startsWith(QStringLiteral("Alle Dateine")));
    }

    // Under "Mail höchstens 1 MB" the pictures go out in order over as many mails
    // as needed, each within the limit, and one that alone exceeds it is named
    // and left out. Through the system's xdg-email, whose mailer hook records
    // each hand-off.
    void batchMailIsSplitUnderTheLimit()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdg-email")).isEmpty())
            QSKIP("xdg-email (xdg-utils) is not installed");
        m_box.reset(); // gives the environment back first
        m_box = std::make_unique<Sandbox>(Sandbox::RealXdgEmail{});
        const QString source = m_box->folder(QStringLiteral("quelle"));
        // Noise keeps the JPEG files large: about 0.3 MB at 560 px, 1.5 MB at 1300 px.
        const auto noise = [&](const QString& name, int side) {
            QImage image(side, side, QImage::Format_RGB32);
            quint32 state = 12345u + quint32(side);
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) {
                    state = state * 1664525u + 1013904223u;
                    image.setPixel(x, y, 0xff000000u | (state >> 8));
                }
            QVERIFY(image.save(source + u'/' + name, "BMP"));
        };
        const QStringList names{"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"};
        for (const QString& name : names)
            noise(name, name == QStringLiteral("c.bmp") ? 1300 : 560);
        CImageDlg window(m_box->settings());
        window.settings().m_nTargetSize = 1300;
        window.settings().m_bNoEnlarge = 1;
        window.settings().m_nQuality = 90;
        window.values().m_nMaxMailMb = 1;
        window.values().m_strMailSubject = QStringLiteral("Ferienfotos");
        window.values().m_strSourceDir = source;
        window.values().m_strDestDir = m_box->folder(QStringLiteral("ziel"));
        window.values().m_bMailAfter = 1;
        whenDialogShown<CFolderDlg>([](CFolderDlg* dialog) { dialog->accept(); });
        window.OnConvertDirectory();
        QTRY_VERIFY_WITH_TIMEOUT(!window.IsBatchRunning(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(m_box->mails().size() >= 2 && !window.mailSender().isSending(), 30000);
        QTest::qWait(200);

        const QList<QStringList> mails = m_box->mails();
        QStringList sentInOrder;
        for (qsizetype k = 0; k < mails.size(); ++k) {
            QCOMPARE(optionValues(mails[k], QStringLiteral("--subject")),
                     QStringList{QStringLiteral("Ferienfotos (%1/%2)").arg(k + 1).arg(mails.size())});
            qint64 bytes = 0;
            for (const QString& copy : attachedCopies(int(k))) {
                bytes += mailBytesOfAttachment(QFileInfo(copy).size());
                sentInOrder << QFileInfo(copy).fileName().left(1);
            }
            QVERIFY2(bytes <= 1'000'000, qPrintable(QString::number(bytes)));
        }
        QCOMPARE(sentInOrder, QStringList({"a", "b", "d", "e"}));
        QVERIFY(mails.size() >= 2);
        QCOMPARE(m_messages->messages().size(), size_t(1));
        QVERIFY(m_messages->messages()[0].text.contains(QStringLiteral("c 1300x1300.jpg")));
    }
};

QTEST_MAIN(MailCommandTest)
#include "MailCommandTest.moc"
