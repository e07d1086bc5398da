// The question "Umwandlung" that a directory conversion asks before each file
// when "Rückfrage beim Umwandeln" is ticked. A modeless window of its own on
// the GUI thread (no parent, so that keys typed into the main window never
// answer it); the batch thread shows it with Ask() and waits for the answer.
#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <mutex>

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

    // Created hidden on the GUI thread, as a window without a parent.
    CConfirmDlg();

    // Sets the question the next Ask() shows; any thread.
    void setQuestion(const QString& text);

    // Shows the question and returns the answer once a button gave one. Polls
    // every 100 ms; returns kCancel at once when `stop` (if given) becomes
    // non-zero. Never call it on the GUI thread: the clicks it waits for come
    // from there.
    int Ask(const std::atomic<int>* stop = nullptr);

    // The last answer; kNoAnswer while a question is open. Any thread.
    int answer() const { return m_nAnswer.load(); }

signals:
    // A button, Escape or the close box gave `answer`; GUI thread.
    void answered(int answer);

public slots:
    // Enter reaches the focused or the default button instead; nothing to do here.
    void accept() override;
    // "&Abbrechen", Escape and the close box answer kCancel; the dialog stays
    // until Ask() hides it.
    void reject() override;

private:
    Q_INVOKABLE void showQuestion();
    void answerWith(int answer);

    mutable std::mutex m_questionMutex;
    QString m_strQuestion; // guarded by m_questionMutex
    std::atomic<int> m_nAnswer{kNoAnswer};
    QLabel* m_wndText = nullptr;
};
