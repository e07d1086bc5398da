// What the directory-conversion and mail tests share: a private folder with its
// own TEMP, TMPDIR and PATH, pictures written on the spot, a stand-in xdg-email
// that records its arguments (or the system's xdg-email with a mailer hook that
// records what it hands on), and a way to act on a modal dialog once it shows.
#pragma once

#include "CImageDlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <functional>
#include <memory>

namespace batchtest {

// Calls `handle` with the first visible top-level widget `accept` agrees to, as
// soon as one shows; checks every 10 ms while the event loop runs, from inside a
// modal dialog's exec() too.
inline void whenShown(std::function<bool(QWidget*)> accept, std::function<void(QWidget*)> handle)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, accept, handle] {
        const QWidgetList widgets = QApplication::topLevelWidgets();
        for (QWidget* widget : widgets) {
            if (widget->isVisible() && accept(widget)) {
                timer->stop();
                timer->deleteLater();
                handle(widget);
                return;
            }
        }
    });
    timer->start();
}

template <typename Dialog> void whenDialogShown(std::function<void(Dialog*)> handle)
{
    whenShown([](QWidget* widget) { return qobject_cast<Dialog*>(widget) != nullptr; },
              [handle](QWidget* widget) { handle(qobject_cast<Dialog*>(widget)); });
}

inline void whenObjectShown(const QString& name, std::function<void(QWidget*)> handle)
{
    whenShown([name](QWidget* widget) { return widget->objectName() == name; }, handle);
}

template <typename Control> Control* control(const QWidget* dialog, int id)
{
    return dialog->findChild<Control*>(QString::number(id));
}

// A folder of the test's own, which is also TEMP and TMPDIR for the program.
// With `mailClient` a stand-in xdg-email comes first on the PATH; without, the
// PATH holds only an empty folder, so the mailer finds no mail library, sends
// nothing and keeps its attachments (and no process is ever started, which
// ThreadSanitizer cannot follow). Restores the environment.
class Sandbox
{
public:
    // The system's xdg-email stays on the PATH; its MAILER hook records the
    // mailto address it was given, one file per hand-off.
    struct RealXdgEmail
    {
    };
    explicit Sandbox(RealXdgEmail) : Sandbox(false)
    {
        qputenv("PATH", m_saved[2]);
        m_hook = true;
        writeRecorder(QStringLiteral("bin/mailer-hook"), "printf '%s' \"$1\"");
        qputenv("MAILER", QFile::encodeName(path(QStringLiteral("bin/mailer-hook"))));
    }

    explicit Sandbox(bool mailClient = true)
    {
        for (const char* name : kNames)
            m_saved.push_back(qgetenv(name));
        QDir(m_dir.path()).mkpath(QStringLiteral("bin"));
        QDir(m_dir.path()).mkpath(QStringLiteral("tmp"));
        qputenv("TEMP", QFile::encodeName(path(QStringLiteral("tmp"))));
        qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
        const QByteArray bin = QFile::encodeName(path(QStringLiteral("bin")));
        qputenv("PATH", mailClient ? bin + ':' + m_saved[2] : bin);
        if (!mailClient)
            return;
        // Records every argument, each ended by a zero byte, one file per call.
        writeRecorder(QStringLiteral("bin/xdg-email"), "printf '%s\\0' \"$@\"");
    }

    ~Sandbox()
    {
        for (size_t i = 0; i < std::size(kNames); ++i)
            m_saved[i].isNull() ? qunsetenv(kNames[i]) : qputenv(kNames[i], m_saved[i]);
    }

    bool isValid() const { return m_dir.isValid(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    QString folder(const QString& relative) const
    {
        QDir().mkpath(path(relative));
        return path(relative);
    }

    std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat);
    }
    QString settingsPath() const { return path(QStringLiteral("Pictavo.ini")); }

    // The argument lists xdg-email was called with, in the order of the calls;
    // with the real xdg-email, read back from the mailto address it handed on.
    QList<QStringList> mails() const
    {
        QList<QStringList> calls;
        const QDir folder(path(QStringLiteral("mails")));
        for (int n = 0; folder.exists(QStringLiteral("mail%1").arg(n)); ++n) {
            QFile file(folder.filePath(QStringLiteral("mail%1").arg(n)));
            if (!file.open(QIODevice::ReadOnly))
                break;
            if (m_hook) {
                calls << argumentsOf(QString::fromUtf8(file.readAll()));
                continue;
            }
            QStringList arguments;
            for (const QByteArray& argument : file.readAll().split('\0'))
                arguments << QString::fromUtf8(argument);
            arguments.removeLast(); // after the last terminator
            calls << arguments;
        }
        return calls;
    }

    void writeScript(const QString& relative, const QByteArray& body) const
    {
        QFile file(path(relative));
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write("#!/bin/sh\n" + body);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private:
    // A script at `relative` whose `print` command's output goes into the next
    // file mails/mail<n>, one file per call.
    void writeRecorder(const QString& relative, const QByteArray& print) const
    {
        const QByteArray mails = QFile::encodeName(path(QStringLiteral("mails")));
        writeScript(relative, "n=$(ls '" + mails + "' 2>/dev/null | wc -l)\n"
                                  "mkdir -p '" + mails + "'\n" +
                                  print + " > '" + mails + "'/mail$n\n");
    }

    static QStringList argumentsOf(const QString& mailto)
    {
        QStringList arguments;
        const QUrlQuery query(QUrl(mailto).query(QUrl::FullyEncoded));
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
            arguments << QStringLiteral("--") + key << value;
        return arguments;
    }

    static constexpr const char* kNames[] = {"TEMP", "TMPDIR", "PATH", "MAILER"};
    bool m_hook = false;
    QTemporaryDir m_dir;
    QList<QByteArray> m_saved;
};

// The values of one "--option value" pair, or the paths after every "--attach".
inline QStringList optionValues(const QStringList& arguments, const QString& option)
{
    QStringList values;
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == option)
            values << arguments[i + 1];
    return values;
}

inline QStringList fileNames(const QStringList& paths)
{
    QStringList names;
    for (const QString& path : paths)
        names << QFileInfo(path).fileName();
    return names;
}

// Writes a small picture of `size`: JPEG or BMP after the name's extension.
// Qt writes no GIF, so a ".gif" holds PNG bytes; the decoder goes by content.
inline QString writePicture(const QString& path, QSize size = QSize(80, 60))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    const QString suffix = QFileInfo(path).suffix().toLower();
    const char* format = suffix == QLatin1String("bmp")   ? "BMP"
                         : suffix == QLatin1String("gif") ? "PNG"
                                                          : "JPEG";
    image.save(path, format);
    return path;
}

inline QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every entry of `folder`, hidden ones too, sorted by name.
inline QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// True when one line of `message` names the file `name` with a reason:
// "name: reason".
inline bool namesFile(const QString& message, const QString& name)
{
    const QStringList lines = message.split(u'\n');
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) {
        return line.startsWith(name + QStringLiteral(": ")) && line.size() > name.size() + 2;
    });
}

} // namespace batchtest
