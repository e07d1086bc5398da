// The asynchronous mail hand-off against a stand-in xdg-email that keeps the sender
// waiting, as a mail client does that returns only when the user has sent the
// message: the owner's event loop runs on, the result arrives as a signal, and the
// copies stay for the client, also when the sender goes first. Each test has its own
// PATH and TEMP.
#include "mail/MailSender.h"
#include "QtEventLoop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

class MailSenderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qtloop::application();
        ASSERT_TRUE(m_dir.isValid());
        for (const char* folder : {"bin", "tmp", "files"})
            ASSERT_TRUE(QDir(m_dir.path()).mkdir(QString::fromLatin1(folder)));
        qputenv("TEMP", QFile::encodeName(path("tmp")));
        qputenv("PATH", QFile::encodeName(path("bin")) + ':' + m_savedPath);
    }

    void TearDown() override
    {
        qputenv("PATH", m_savedPath);
        m_savedTemp.isNull() ? qunsetenv("TEMP") : qputenv("TEMP", m_savedTemp);
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    // A stand-in xdg-email: notes that it runs, waits `seconds`, then reads every
    // attachment into "read" and exits with `exitStatus`.
    void useClient(const char* seconds, int exitStatus = 0)
    {
        const QByteArray dir = QFile::encodeName(m_dir.path());
        const QByteArray script =
            "#!/bin/sh\ntouch '" + dir + "/started'\nsleep " + seconds +
            "\nwhile [ $# -gt 0 ]; do\n"
            "  [ \"$1\" = --attach ] && cat \"$2\" >> '" + dir + "/read'\n  shift\ndone\n"
            "exit " + QByteArray::number(exitStatus) + '\n';
        ASSERT_TRUE(writeFile(path("bin/xdg-email"), script));
        QFile::setPermissions(path("bin/xdg-email"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A picture in a folder that only the message keeps: it goes when the send lets go.
    MailSender::Message messageWithOwnedFile(const QByteArray& content)
    {
        auto folder = std::make_shared<QTemporaryDir>(path("files/owned-XXXXXX"));
        const QString file = folder->filePath(QStringLiteral("Urlaub.jpg"));
        EXPECT_TRUE(writeFile(file, content));
        m_ownedFolder = folder->path();
        return {{file}, QStringLiteral("Bilder"), QStringLiteral("Hallo"), folder};
    }

    QStringList handOffFolders() const
    {
        return QDir(path("tmp/pictavo-mail")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

    const QByteArray m_savedPath = qgetenv("PATH");
    const QByteArray m_savedTemp = qgetenv("TEMP");
    QTemporaryDir m_dir;
    QString m_ownedFolder;
};

TEST_F(MailSenderTest, EventLoopRunsWhileTheClientWaitsAndTheResultArrivesAsASignal)
{
    useClient("1.5");
    MailSender sender;
    std::optional<CMapiMailer::SendResult> result;
    QObject::connect(&sender, &MailSender::sent,
                     [&](const CMapiMailer::SendResult& sent) { result = sent; });
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);

    QElapsedTimer clock;
    clock.start();
    sender.send(messageWithOwnedFile("JPEG"));
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_TRUE(sender.isSending());
    // While the client holds the send, the owner's loop keeps turning and the
    // original files are still there for the copies.
    ASSERT_TRUE(qtloop::runUntil([&] { return QFile::exists(path("started")); }));
    EXPECT_TRUE(QFileInfo::exists(m_ownedFolder));
    const int ticksBefore = ticks;
    ASSERT_TRUE(qtloop::runUntil([&] { return result.has_value(); }));
    EXPECT_GE(ticks - ticksBefore, 20);

    EXPECT_EQ(result->code, CMapiMailer::SUCCESS_SUCCESS);
    EXPECT_EQ(result->message, QString());
    EXPECT_FALSE(sender.isSending());
    // The client read the handed-over copy after its wait; the copy stays for it, the
    // original's folder went with the send.
    EXPECT_EQ(readAll(path("read")), "JPEG");
    EXPECT_EQ(handOffFolders().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(m_ownedFolder));
}

TEST_F(MailSenderTest, ErrorsComeBackInTheResult)
{
    useClient("0", 2);
    MailSender sender;
    std::vector<CMapiMailer::SendResult> results;
    QObject::connect(&sender, &MailSender::sent,
                     [&](const CMapiMailer::SendResult& sent) { results.push_back(sent); });

    MailSender::Message message = messageWithOwnedFile("JPEG");
    message.attachments.prepend(QString());
    sender.send(std::move(message));
    ASSERT_TRUE(qtloop::runUntil([&] { return results.size() == 1; }));
    EXPECT_EQ(results[0].code, CMapiMailer::MAPI_E_ATTACHMENT_NOT_FOUND);
    EXPECT_EQ(results[0].message,
              QStringLiteral("Anhang '' kann nicht gefunden werden\n"
                             "The specified attachment was not found. No message was sent.\r\n"));

    // Without a mail library the collected attachments stay, and the result names the
    // folder the user finds them in: the attachments' own, or the message's when its
    // attachments are copies that go with the send.
    qputenv("PATH", QFile::encodeName(path("tmp")));
    CMapiMailer collected;
    ASSERT_EQ(collected.AddAttachment(path("files/a.jpg"), CMapiMailer::kNoPosition), QString());
    sender.send(collected, QStringLiteral("s"), QStringLiteral("t"));
    EXPECT_TRUE(sender.isSending());
    MailSender::Message copy = messageWithOwnedFile("JPEG");
    copy.folder = path("bin");
    sender.send(std::move(copy));
    ASSERT_TRUE(qtloop::runUntil([&] { return results.size() == 3; }));
    EXPECT_EQ(collected.Attachments().size(), 1u);
    for (const CMapiMailer::SendResult& result : {results[1], results[2]}) {
        EXPECT_EQ(result.code, CMapiMailer::MAPI_E_FAILURE);
        EXPECT_TRUE(result.noMailClient);
        EXPECT_FALSE(result.message.isEmpty());
    }
    EXPECT_EQ(QStringList({results[1].folder, results[2].folder}),
              QStringList({path("files"), path("bin")}));
}

TEST_F(MailSenderTest, DestroyingTheSenderLeavesAWaitingClientItsCopies)
{
    useClient("2");
    bool reported = false;
    QElapsedTimer clock;
    {
        MailSender sender;
        QObject::connect(&sender, &MailSender::sent, [&] { reported = true; });
        sender.send(messageWithOwnedFile("JPEG"));
        ASSERT_TRUE(qtloop::runUntil([&] { return QFile::exists(path("started")); }));
        clock.start();
    }
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(QFileInfo::exists(m_ownedFolder));

    // The client, left running, still reads its copy.
    ASSERT_TRUE(qtloop::runUntil([&] { return !readAll(path("read")).isEmpty(); }, 20000));
    EXPECT_EQ(readAll(path("read")), "JPEG");
    EXPECT_FALSE(reported);
}

} // namespace
