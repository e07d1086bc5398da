#include "GuiMessageSink.h"

#include <QMessageBox>
#include <QPushButton>
#include <QThread>

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::None: return QMessageBox::NoIcon;
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Stop: return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

GuiMessageSink::GuiMessageSink(QWidget* parent) : m_parentWindow(parent)
{
    installMessageSink(this);
}

GuiMessageSink::~GuiMessageSink()
{
    installMessageSink(nullptr);
}

void GuiMessageSink::showMessage(const QString& text, const QString& caption, MessageIcon icon)
{
    if (QThread::currentThread() == thread()) {
        showBox(text, caption, icon);
        return;
    }
    QMetaObject::invokeMethod(
        this, [=, this] { showBox(text, caption, icon); }, Qt::BlockingQueuedConnection);
}

bool GuiMessageSink::askYesNo(const QString& text, const QString& caption, MessageIcon icon)
{
    if (QThread::currentThread() == thread())
        return askInBox(text, caption, icon);
    bool yes = false;
    QMetaObject::invokeMethod(
        this, [=, &yes, this] { yes = askInBox(text, caption, icon); },
        Qt::BlockingQueuedConnection);
    return yes;
}

void GuiMessageSink::showReport(const QString& text, const QString& details,
                                const QString& caption, MessageIcon icon)
{
    if (QThread::currentThread() == thread()) {
        showBox(text, caption, icon, details);
        return;
    }
    QMetaObject::invokeMethod(
        this, [=, this] { showBox(text, caption, icon, details); }, Qt::BlockingQueuedConnection);
}

void GuiMessageSink::showBox(const QString& text, const QString& caption, MessageIcon icon,
                             const QString& details)
{
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::Ok, m_parentWindow);
    box.setObjectName(QStringLiteral("MessageBox"));
    // Folded away: QMessageBox shows it in a scrolling field of a fixed height.
    box.setDetailedText(details);
    box.exec();
}

bool GuiMessageSink::askInBox(const QString& text, const QString& caption, MessageIcon icon)
{
    QMessageBox box(boxIcon(icon), caption, text, QMessageBox::NoButton, m_parentWindow);
    QPushButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.exec();
    return box.clickedButton() == yes;
}
