// Shows the core's messages as message boxes with an OK button, questions with "Ja"
// and "Nein". A box asked for from a worker thread is shown by the GUI thread; the
// worker waits until it is closed.
#pragma once

#include "MessageSink.h"

#include <QObject>

class QWidget;

class GuiMessageSink final : public QObject, public MessageSink
{
    Q_OBJECT
public:
    // Installs itself for its lifetime. `parent` is the window boxes belong to.
    explicit GuiMessageSink(QWidget* parent = nullptr);
    ~GuiMessageSink() override;

    void showMessage(const QString& text, const QString& caption, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& caption, MessageIcon icon) override;
    void showReport(const QString& text, const QString& details, const QString& caption,
                    MessageIcon icon) override;
    void setParentWindow(QWidget* parent) { m_parentWindow = parent; }

private:
    void showBox(const QString& text, const QString& caption, MessageIcon icon,
                 const QString& details = QString());
    bool askInBox(const QString& text, const QString& caption, MessageIcon icon);

    QWidget* m_parentWindow;
};
