// The window's working state without a window: settings in, results, titles and
// messages out, as the window and the panel see them.
#include "session/ConversionSession.h"
#include "QtEventLoop.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace {

class ConversionSessionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qtloop::application();
        ASSERT_TRUE(m_dir.isValid());
        qputenv("TEMP", QFile::encodeName(m_dir.path()));
        m_store = std::make_unique<QSettings>(m_dir.filePath("store.ini"), QSettings::IniFormat);
        m_session = std::make_unique<ConversionSession>(*m_store, nullptr);
        QObject::connect(m_session.get(), &ConversionSession::titleChanged,
                         [this](const QString& title) { m_titles << title; });
        QObject::connect(m_session.get(), &ConversionSession::message,
                         [this](const QString& text, const QString& caption, MessageIcon icon) {
                             m_messages.emplace_back(text, caption, icon);
                         });
    }

    void TearDown() override
    {
        m_session.reset();
        qunsetenv("TEMP");
    }

    QString picture(const QString& name, int width, int height)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(image.save(path));
        return path;
    }

    bool idle() { return qtloop::runUntil([this] { return m_session->isIdle(); }); }

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<ConversionSession> m_session;
    QStringList m_titles;
    std::vector<std::tuple<QString, QString, MessageIcon>> m_messages;
};

// As the window starts: the picture is posted, the panel sets the size before
// the result is there; the view box still follows the result.
TEST_F(ConversionSessionTest, ViewBoxFollowsTheResultThatArrivesAfterTheSize)
{
    m_session->setCurrentPicture(picture("wide.png", 800, 600));
    m_session->showCurrentPicture();
    m_session->update(360, UpdateKind::Rescale);
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_session->settings().m_nTargetOther, 270);
    EXPECT_EQ(m_session->settings().m_nTargetSize, 360);
    EXPECT_TRUE(m_titles.value(0).startsWith("wide.png (")) << m_titles.join('|').toStdString();
}

// The chosen name is the title at once; a picture that cannot be read is named
// and changes nothing; the picture loader's own boxes read as they always did.
TEST_F(ConversionSessionTest, OpenTitlesAtOnceAndMessagesReachTheUser)
{
    const QString before = picture("vorher.png", 300, 200);
    m_session->setCurrentPicture(before);
    m_session->showCurrentPicture();
    ASSERT_TRUE(idle());
    const QString title = m_titles.last();

    m_session->openPicture(m_dir.filePath("weg.jpg"));
    EXPECT_EQ(m_titles.last(), "weg.jpg");
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_titles.last(), title);
    EXPECT_EQ(m_session->currentPicture(), before);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(std::get<0>(m_messages[0]).startsWith("«weg.jpg» kann nicht gelesen werden"));

    m_session->settings().m_nTargetSize = 60000;
    m_session->update(70, UpdateKind::Convert);
    ASSERT_TRUE(idle());
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[1], std::make_tuple(QStringLiteral("Can not allocate enough memory\t"),
                                             QStringLiteral("CPicture Error"), MessageIcon::Stop));
}

// The panel's setters: what each stores and which update follows, at once or
// once the user has paused (three ticks of 250 ms).
TEST_F(ConversionSessionTest, SettersStoreTheirValueAndUpdateThePreviewAsTheyNeed)
{
    m_session->setCurrentPicture(picture("a.png", 120, 90));
    m_session->showCurrentPicture();
    ASSERT_TRUE(idle());
    QList<ConversionKind> kinds;
    QObject::connect(m_session.get(), &ConversionSession::conversionApplied,
                     [&kinds](const ConversionOutcome& outcome) { kinds << outcome.kind; });
    // Everything a setter started, the deferred conversion included, has been applied.
    const auto settle = [&] {
        EXPECT_TRUE(qtloop::runUntil(
            [&] { return !m_session->conversionPending() && m_session->isIdle(); }));
        return std::exchange(kinds, {});
    };
    using K = ConversionKind;
    m_session->setQuality(150);
    EXPECT_EQ(settle(), QList<K>{K::Preview});
    EXPECT_EQ(m_session->settings().m_nQuality, 100);
    m_session->setAdjustment(ConversionSession::Adjustment::Contrast, -250);
    EXPECT_EQ(settle(), (QList<K>{K::Redraw, K::Preview}));
    EXPECT_EQ(m_session->settings().m_nContrast, -250);
    m_session->setDpi(72);
    m_session->setSize(4000);
    EXPECT_EQ(settle(), QList<K>{K::Preview});
    EXPECT_EQ(m_session->settings().m_nTargetSize, 3000);
    m_session->resetAdjustments();
    EXPECT_EQ(settle(), (QList<K>{K::Redraw, K::Preview}));
    EXPECT_FALSE(m_session->settings().hasColourAdjustments());
    m_session->setMaxKb(-5);
    EXPECT_EQ(settle(), QList<K>{});
}

// The directory conversion through the session: its settings are the
// session's, its question is answered by a stand-in for the window's dialog.
TEST_F(ConversionSessionTest, BatchQuestionIsAnsweredThroughTheSession)
{
    const QString folder = m_dir.filePath("fotos");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        picture(QStringLiteral("fotos/%1").arg(QLatin1String(name)), 80, 60);
    m_session->settings().m_nTargetSize = 40;
    const QList<BatchAnswer> answers = {BatchAnswer::No, BatchAnswer::YesToAll};
    int asked = 0;
    QObject::connect(m_session.get(), &ConversionSession::batchQuestion,
                     [&](const BatchFileResult&) {
                         // Answered later, as a dialog would be.
                         QTimer::singleShot(10, m_session.get(), [&, answer = answers[asked++]] {
                             m_session->answerBatch(answer);
                         });
                     });
    std::optional<BatchSummary> summary;
    QObject::connect(m_session.get(), &ConversionSession::batchFinished,
                     [&](const BatchSummary& done) { summary = done; });
    BatchJob job;
    job.sourceFolder = folder;
    job.destinationFolder = m_dir.filePath("aus");
    ASSERT_TRUE(QDir().mkpath(job.destinationFolder));
    m_session->startBatch(job, true);
    ASSERT_TRUE(qtloop::runUntil([&] { return summary.has_value(); }));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(summary->converted, 3);
    EXPECT_EQ(summary->accepted.size(), 2);
    EXPECT_TRUE(QFileInfo::exists(m_dir.filePath("aus/a 40x30.jpg")));
}

// The temporary-file counter advances once for the session and once per run,
// in the store it was given, and the last temporary file goes at the end.
TEST_F(ConversionSessionTest, TemporaryFilesAreCountedInTheGivenStore)
{
    m_store->setValue("Tempfile/TmpCnt", 10);
    m_session = std::make_unique<ConversionSession>(*m_store, nullptr);
    EXPECT_EQ(QFileInfo(m_session->temporaryPath()).fileName(), "Temppic.jpg10.jpg");
    m_session->setCurrentPicture(picture("a.png", 64, 48));
    m_session->showCurrentPicture();
    ASSERT_TRUE(idle());
    m_session->update(50, UpdateKind::Convert);
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_store->value("Tempfile/TmpCnt").toInt(), 13);
    const QString last = m_session->temporaryPath();
    m_session->shutdown();
    EXPECT_FALSE(QFileInfo::exists(last));
}

} // namespace
