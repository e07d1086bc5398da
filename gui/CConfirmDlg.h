// The question "Umwandlung" that a directory conversion asks after each written
// file when "Rückfrage beim Umwandeln" is ticked. A modeless window of its own
// on the GUI thread (no parent, so that keys typed into the main window never
// answer it): ask() shows it and returns at once, and the answer comes as
// answered(); the window hands it on to the batch, which waits on its thread.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;

class CConfirmDlg final : public QDialog
{
    Q_OBJECT
public:
    // The answers, with the numbers of the buttons that give them.
    enum Answer : int
    {
        kNoAnswer = -1,
        kCancel = 2,     // "&Abbrechen", Escape, the close box
        kYes = 6,        // "&Ja", Enter unless another button has the focus
        kNo = 7,         // "&Nein"
        kYesToAll = 1069 // "Ja zu allen"
    };

    // Created hidden, as a window without a parent. GUI thread, like every
    // member.
    CConfirmDlg();

    // Shows `text` as the question, "&Ja" focused, and opens it for one answer.
    void ask(const QString& text);

    // The answer to the last ask(); kNoAnswer while it is open.
    int answer() const { return m_nAnswer; }

signals:
    // A button, Escape or the close box answered the open question; the dialog
    // is hidden by then. Once for each ask().
    void answered(int answer);

public slots:
    // Enter reaches the focused or the default button instead; nothing to do here.
    void accept() override;
    // "&Abbrechen", Escape and the close box answer kCancel.
    void reject() override;

private:
    void answerWith(int answer);

    int m_nAnswer = kNoAnswer;
    QLabel* m_wndText = nullptr;
};
