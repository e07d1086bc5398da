#include "GuiMessageSink.h"

#include <QMessageBox>
#include <QThread>

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

void GuiMessageSink::showBox(const QString& text, const QString& caption, MessageIcon icon)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case MessageIcon::None: boxIcon = QMessageBox::NoIcon; break;
    case MessageIcon::Information: boxIcon = QMessageBox::Information; break;
    case MessageIcon::Warning: boxIcon = QMessageBox::Warning; break;
    case MessageIcon::Stop: boxIcon = QMessageBox::Critical; break;
    }
    QMessageBox box(boxIcon, caption, text, QMessageBox::Ok, m_parentWindow);
    box.exec();
}
