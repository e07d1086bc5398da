// The mailer against the real xdg-email, whose hook xdg-email-hook.sh (found on the
// path before any mail client is tried) records the mailto URI it is handed, and
// against a stand-in xdg-email for the exit statuses the real one cannot be made to
// return. Every test gets its own PATH, TEMP (apart from TMPDIR, which the copies must not
// use) and working directory and restores them.
#include "mail/CMapiMailer.h"
#include "mail/MailHandOff.h"
#include "mail/MailSplit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;

const QString kFailure =
    QStringLiteral("One or more unspecified errors occurred. No message was sent.\r\n");
const QString kNotFound =
    QStringLiteral("The specified attachment was not found. No message was sent.\r\n");
const QString kOpenFailure =
    QStringLiteral("The specified attachment could not be opened. No message was sent.\r\n");
const QString kStopped = QStringLiteral(
    "Das Mailprogramm hat nicht geantwortet und wurde beendet; die Mail wurde nicht versendet.");

// A mailto URI as xdg-email builds it: the address, then field=value pairs.
struct Mailto
{
    QString address;
    QMap<QString, QStringList> fields;
};

QString decoded(const QString& text)
{
    return QUrl::fromPercentEncoding(text.toLatin1());
}

Mailto parseMailto(const QString& uri)
{
    Mailto mail;
    const QString rest = uri.mid(QStringLiteral("mailto:").size());
    const qsizetype query = rest.indexOf(QLatin1Char('?'));
    mail.address = decoded(rest.left(query));
    if (query >= 0) {
        const QStringList pairs = rest.mid(query + 1).split(QLatin1Char('&'), Qt::SkipEmptyParts);
        for (const QString& pair : pairs)
            mail.fields[pair.section(QLatin1Char('='), 0, 0)]
                << decoded(pair.section(QLatin1Char('='), 1));
    }
    return mail;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeScript(const QString& path, const QByteArray& body)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + '\n');
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

class MailerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        for (const char* folder : {"bin", "tmp", "systemtmp", "files"})
            ASSERT_TRUE(QDir(m_dir.path()).mkdir(QString::fromLatin1(folder)));
        qputenv("TEMP", QFile::encodeName(path("tmp")));
        qputenv("TMPDIR", QFile::encodeName(path("systemtmp")));
        qputenv("PATH", QFile::encodeName(path("bin")) + ':' + m_saved[0]);
    }

    void TearDown() override
    {
        for (int i = 0; i < 4; ++i)
            m_saved[i].isNull() ? qunsetenv(kSavedNames[i]) : qputenv(kSavedNames[i], m_saved[i]);
        QDir::setCurrent(m_savedDirectory);
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    // Creates files/<name> holding `content` and adds it as an attachment.
    QString attach(const char* name, const QByteArray& content = "JPEG")
    {
        const QString file = path("files/") + QString::fromUtf8(name);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(content);
        EXPECT_EQ(m_mailer.AddAttachment(file, CMapiMailer::kNoPosition), QString());
        return file;
    }

    CMapiMailer::SendResult send()
    {
        return m_mailer.SendMail(QStringLiteral("s"), QStringLiteral("t"));
    }

    bool useRealXdgEmail()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdg-email")).isEmpty()) {
            EXPECT_NE(qgetenv("CI"), "true") << "xdg-email (xdg-utils) is missing";
            return false;
        }
        writeScript(path("bin/xdg-email-hook.sh"),
                    "printf '%s\\n' \"$1\" >> '" + QFile::encodeName(path("mails")) + "'");
        return true;
    }

    void useFakeXdgEmail(const QByteArray& body) { writeScript(path("bin/xdg-email"), body); }

    std::vector<Mailto> recordedMails() const
    {
        std::vector<Mailto> mails;
        for (const QByteArray& line : readAll(path("mails")).split('\n'))
            if (!line.isEmpty())
                mails.push_back(parseMailto(QString::fromUtf8(line)));
        return mails;
    }

    QStringList handOffFolders() const
    {
        return QDir(path("tmp/pictavo-mail")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

    static constexpr const char* kSavedNames[4] = {"PATH", "TMPDIR", "LC_ALL", "TEMP"};
    const QByteArray m_saved[4] = {qgetenv("PATH"), qgetenv("TMPDIR"), qgetenv("LC_ALL"),
                                   qgetenv("TEMP")};
    const QString m_savedDirectory = QDir::currentPath();
    QTemporaryDir m_dir;
    CMapiMailer m_mailer;
};

QStringList attachedTo(const Mailto& mail)
{
    return mail.fields.value(QStringLiteral("attach"));
}

QString nameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

#define REQUIRE_XDG_EMAIL()                                                                        \
    if (!useRealXdgEmail())                                                                        \
    GTEST_SKIP() << "xdg-email (xdg-utils) is not installed"

TEST(MailerErrorText, CodesOutsideTheTableAreUnknown)
{
    for (unsigned code : {0u, 4u, 26u, 0xFFFFFFFFu})
        EXPECT_EQ(CMapiMailer::GetErrorText(code), QStringLiteral("Unknown error code.\r\n"));
    // No exit status of xdg-email means the user gave up, so this text is checked here.
    EXPECT_EQ(CMapiMailer::GetErrorText(1), QStringLiteral("Vorgang duch Benutzer abgebrochen"));
}

TEST_F(MailerTest, TwoAttachmentsGoOutInOneMessageInTheOrderAdded)
{
    REQUIRE_XDG_EMAIL();
    qputenv("LC_ALL", "C"); // texts must arrive intact whatever the locale
    attach("Urlaub.jpg", "first");
    attach("Berg.jpg", "second");
    const QString text =
        QStringLiteral("In der Beilage erhalten Sie die gewünschten Bilder\r\nGrüße");

    const CMapiMailer::SendResult result =
        m_mailer.SendMail(QStringLiteral("Beiliegend Ihre Bilder"), text);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.message, QString());

    const auto mails = recordedMails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].fields.value(QStringLiteral("subject")),
              QStringList{QStringLiteral("Beiliegend Ihre Bilder")});
    EXPECT_EQ(mails[0].fields.value(QStringLiteral("body")), QStringList{text});
    const QStringList attached = attachedTo(mails[0]);
    ASSERT_EQ(attached.size(), 2);
    EXPECT_EQ(nameOf(attached[0]), QStringLiteral("Urlaub.jpg"));
    EXPECT_EQ(nameOf(attached[1]), QStringLiteral("Berg.jpg"));
    EXPECT_EQ(readAll(attached[0]), "first");
    EXPECT_EQ(readAll(attached[1]), "second");
    EXPECT_TRUE(attached[0].startsWith(QFileInfo(path("tmp")).canonicalFilePath() +
                                       QStringLiteral("/pictavo-mail/")));
    EXPECT_TRUE(m_mailer.Attachments().empty());
}

TEST_F(MailerTest, EmptyTextsAreLeftOutAndARecipientBecomesTheAddress)
{
    REQUIRE_XDG_EMAIL();
    EXPECT_EQ(m_mailer.SendMail(QString(), QString()).code, 0);
    EXPECT_EQ(
        m_mailer.SendMail(QStringLiteral("Bilder"), QString(), QStringLiteral("a@b.org")).code, 0);

    const auto mails = recordedMails();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_TRUE(mails[0].address.isEmpty());
    EXPECT_TRUE(mails[0].fields.isEmpty());
    EXPECT_EQ(mails[1].address, QStringLiteral("a@b.org"));
    EXPECT_EQ(mails[1].fields.keys(), QStringList{QStringLiteral("subject")});
}

// The batch thread sends without an event loop of its own.
TEST_F(MailerTest, EachSendCarriesOnlyItsOwnFilesAlsoFromAWorkerThread)
{
    REQUIRE_XDG_EMAIL();
    attach("old.jpg");
    m_mailer.ClearAttachments();
    attach("first.jpg");
    EXPECT_EQ(send().code, 0);
    int result = -1;
    std::thread worker([&] {
        attach("second.jpg");
        result = send().code;
    });
    worker.join();
    EXPECT_EQ(result, 0);

    const auto mails = recordedMails();
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(attachedTo(mails[0]).size(), 1);
    EXPECT_EQ(nameOf(attachedTo(mails[0]).value(0)), QStringLiteral("first.jpg"));
    EXPECT_EQ(attachedTo(mails[1]).size(), 1);
    EXPECT_EQ(nameOf(attachedTo(mails[1]).value(0)), QStringLiteral("second.jpg"));
}

TEST_F(MailerTest, RelativePathIsTakenAtAddingAndTheWorkingDirectoryIsKept)
{
    REQUIRE_XDG_EMAIL();
    attach("photo.jpg", "here");
    m_mailer.ClearAttachments();
    ASSERT_TRUE(QDir::setCurrent(path("files")));
    const QString expected = QDir::currentPath() + QStringLiteral("/photo.jpg");
    EXPECT_EQ(m_mailer.AddAttachment(QStringLiteral("./sub/../photo.jpg"), CMapiMailer::kNoPosition),
              QString());
    ASSERT_EQ(m_mailer.Attachments().size(), 1u);
    EXPECT_EQ(m_mailer.Attachments()[0].fullPath, expected);
    EXPECT_EQ(m_mailer.Attachments()[0].fileName, QStringLiteral("photo.jpg"));

    ASSERT_TRUE(QDir::setCurrent(path("bin")));
    const QString before = QDir::currentPath();
    EXPECT_EQ(send().code, 0);
    EXPECT_EQ(QDir::currentPath(), before);
    const auto mails = recordedMails();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(readAll(attachedTo(mails[0]).value(0)), "here");
}

TEST_F(MailerTest, HandedOverCopiesOutliveTheCallersFilesAndKeepTheirNames)
{
    REQUIRE_XDG_EMAIL();
    const QString first = attach("a/photo.jpg", "one");
    const QString second = attach("b/photo.jpg", "two");
    EXPECT_EQ(send().code, 0);
    ASSERT_TRUE(QFile::remove(first));
    ASSERT_TRUE(QFile::remove(second));

    const auto mails = recordedMails();
    ASSERT_EQ(mails.size(), 1u);
    const QStringList attached = attachedTo(mails[0]);
    ASSERT_EQ(attached.size(), 2);
    EXPECT_EQ(nameOf(attached[0]), QStringLiteral("photo.jpg"));
    EXPECT_EQ(nameOf(attached[1]), QStringLiteral("photo.jpg"));
    EXPECT_EQ(readAll(attached[0]), "one");
    EXPECT_EQ(readAll(attached[1]), "two");
}

TEST_F(MailerTest, HandOffFoldersOlderThanADayGoAtTheNextSend)
{
    REQUIRE_XDG_EMAIL();
    namespace fs = std::filesystem;
    for (const auto& [name, age] : {std::pair{"old", 49h}, {"recent", 1h}}) {
        const fs::path folder = (path("tmp/pictavo-mail/") + QLatin1String(name)).toStdString();
        fs::create_directories(folder / "copy");
        fs::last_write_time(folder, fs::file_time_type::clock::now() - age);
    }
    attach("new.jpg");
    EXPECT_EQ(send().code, 0);

    const QStringList folders = handOffFolders();
    EXPECT_FALSE(folders.contains(QStringLiteral("old")));
    EXPECT_TRUE(folders.contains(QStringLiteral("recent")));
    EXPECT_EQ(folders.size(), 2); // the recent one and this send's
}

// Only folders of the program's own patterns go, and a link is never followed out of TEMP.
TEST_F(MailerTest, StartUpRemovesOnlyOwnCopyFoldersOlderThanADay)
{
    namespace fs = std::filesystem;
    const fs::path temp = path("tmp").toStdString();
    const fs::path outside = path("files/elsewhere").toStdString();
    fs::create_directories(outside / "keep");
    fs::create_directory_symlink(outside, temp / "pictavo-send-linked");
    struct Folder
    {
        const char* name;
        std::chrono::hours age;
        bool stays;
    };
    const Folder folders[] = {{"pictavo-mail/send-old", 49h, false},
                              {"pictavo-send-oldold", 49h, false},
                              {"pictavo-mail/send-new", 1h, true},
                              {"pictavo-send-newnew", 1h, true},
                              {"Urlaub", 49h, true}};
    for (const Folder& folder : folders) {
        fs::create_directories(temp / folder.name / "copy");
        fs::last_write_time(temp / folder.name, fs::file_time_type::clock::now() - folder.age);
    }
    fs::last_write_time(outside, fs::file_time_type::clock::now() - 49h);

    MailHandOff::removeStaleCopies();
    for (const Folder& folder : folders)
        EXPECT_EQ(fs::exists(temp / folder.name), folder.stays) << folder.name;
    EXPECT_TRUE(fs::exists(outside / "keep"));
}

TEST_F(MailerTest, MissingFileIsReportedByTheMailClientAtSendTime)
{
    REQUIRE_XDG_EMAIL();
    EXPECT_EQ(m_mailer.AddAttachment(path("files/missing.jpg"), CMapiMailer::kNoPosition),
              QString());
    EXPECT_EQ(m_mailer.Attachments().size(), 1u);

    const CMapiMailer::SendResult result = send();
    EXPECT_EQ(result.code, 11);
    EXPECT_EQ(result.message, kNotFound);
    EXPECT_TRUE(recordedMails().empty());
    EXPECT_TRUE(m_mailer.Attachments().empty());
    EXPECT_TRUE(handOffFolders().isEmpty());
}

TEST_F(MailerTest, PathNamingNoFileIsNotAdded)
{
    const QString folder = path("files/");
    const QString tooLong = QStringLiteral("/") + QString(1100, QLatin1Char('x'));
    attach("a.jpg");
    const QString text = QStringLiteral("Anhang '%1' kann nicht gefunden werden");
    for (const QString& bad : {QString(), folder, tooLong})
        EXPECT_EQ(m_mailer.AddAttachment(bad, CMapiMailer::kNoPosition), text.arg(bad));
    attach("b.jpg");

    ASSERT_EQ(m_mailer.Attachments().size(), 2u);
    EXPECT_EQ(m_mailer.Attachments()[0].fileName, QStringLiteral("a.jpg"));
    EXPECT_EQ(m_mailer.Attachments()[1].fileName, QStringLiteral("b.jpg"));
}

TEST_F(MailerTest, WithoutXdgEmailTheResultSaysSoAndWhereTheFilesAre)
{
    qputenv("PATH", QFile::encodeName(path("bin")));
    EXPECT_EQ(m_mailer.LoadMapi(), 0);
    EXPECT_FALSE(m_mailer.IsLoaded());
    attach("a.jpg");
    ASSERT_TRUE(QDir::setCurrent(path("files")));
    const QString before = QDir::currentPath();

    const CMapiMailer::SendResult result = send();
    EXPECT_EQ(result.code, 2);
    EXPECT_TRUE(result.noMailClient);
    EXPECT_TRUE(result.message.contains(QStringLiteral("xdg-email")))
        << result.message.toStdString();
    EXPECT_EQ(result.folder, path("files"));
    EXPECT_EQ(m_mailer.Attachments().size(), 1u);
    EXPECT_EQ(QDir::currentPath(), before);
    EXPECT_FALSE(QFileInfo::exists(path("tmp/pictavo-mail")));
}

TEST_F(MailerTest, HandOffThatHangsIsEndedAfterTheTimeoutAndNotSent)
{
    useFakeXdgEmail("exec sleep 30");
    m_mailer.SetClientTimeout(300ms);
    attach("a.jpg");
    QElapsedTimer timer;
    timer.start();
    const CMapiMailer::SendResult result = send();
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.message, kStopped);
    EXPECT_FALSE(result.noMailClient);
    EXPECT_TRUE(m_mailer.Attachments().empty());
    EXPECT_EQ(handOffFolders().size(), 1); // the client may still read the copy
}

struct ExitCase
{
    int exitStatus;
    int result;
    QString text;
    bool copiesKept; // false where xdg-email refused before any mail client saw the message
};

void PrintTo(const ExitCase& c, std::ostream* out)
{
    *out << "exit status " << c.exitStatus;
}

class MailerExitStatusTest : public MailerTest, public ::testing::WithParamInterface<ExitCase>
{
};

TEST_P(MailerExitStatusTest, MapsOntoSimpleMapiResult)
{
    const ExitCase& c = GetParam();
    useFakeXdgEmail("exit " + QByteArray::number(c.exitStatus));
    attach("a.jpg");

    const CMapiMailer::SendResult result = send();
    EXPECT_EQ(result.code, c.result);
    EXPECT_EQ(result.message, c.text);
    EXPECT_TRUE(m_mailer.Attachments().empty());
    EXPECT_EQ(handOffFolders().size(), c.copiesKept ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    XdgEmail, MailerExitStatusTest,
    ::testing::Values(ExitCase{1, 2, kFailure, false}, ExitCase{2, 11, kNotFound, false},
                      ExitCase{3, 2, kFailure, false}, ExitCase{4, 2, kFailure, true},
                      ExitCase{5, 12, kOpenFailure, false}, ExitCase{6, 2, kFailure, false},
                      ExitCase{77, 2, kFailure, true}),
    [](const auto& info) { return "Exit" + std::to_string(info.param.exitStatus); });

} // namespace

TEST(MailSplit, AttachmentsAreCountedAsBase64AndSpreadInOrder)
{
    // Four characters per three bytes, CR LF after every 76, and the allowance.
    EXPECT_EQ(mailBytesOfAttachment(0), kAttachmentAllowance);
    EXPECT_EQ(mailBytesOfAttachment(57), 76 + 2 + kAttachmentAllowance);
    EXPECT_EQ(mailBytesOfAttachment(58), 80 + 4 + kAttachmentAllowance);
    EXPECT_EQ(mailBytesOfAttachment(3'000'000), 4'000'000 + 52'632 * 2 + kAttachmentAllowance);

    const qint64 share = mailBytesOfAttachment(300'000); // 0.41 MB in a mail
    const QList<std::pair<QString, qint64>> files{
        {"a", 300'000}, {"b", 300'000}, {"c", 900'000}, {"d", 300'000}, {"e", 300'000}, {"f", 300'000}};
    const MailParts unlimited = splitForMail(files, 0);
    EXPECT_EQ(unlimited.mails, (QList<QStringList>{{"a", "b", "c", "d", "e", "f"}}));
    EXPECT_TRUE(unlimited.tooLarge.isEmpty());

    const MailParts split = splitForMail(files, 1'000'000);
    EXPECT_EQ(split.mails, (QList<QStringList>{{"a", "b"}, {"d", "e"}, {"f"}}));
    EXPECT_EQ(split.tooLarge, QStringList{"c"});
    EXPECT_EQ(splitForMail(files, 2 * share).mails.size(), 3);
    EXPECT_EQ(splitForMail(files, 2 * share - 1).mails.size(), 5);

    EXPECT_EQ(partSubject(QStringLiteral("Fotos"), 2, 3), QStringLiteral("Fotos (2/3)"));
    EXPECT_EQ(partSubject(QStringLiteral("Fotos"), 1, 1), QStringLiteral("Fotos"));
}
