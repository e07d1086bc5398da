// The dialog "Mail Setup": the subject and text of every mail the program
// prepares. The caller sets the two public texts, runs the dialog and, on
// QDialog::Accepted, takes them back.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPlainTextEdit;

class CMailSetupDlg final : public QDialog
{
    Q_OBJECT
public:
    explicit CMailSetupDlg(QWidget* parent = nullptr);

    // Puts the texts into the fields; runs once, when the dialog is first shown.
    void OnInitDialog();

    // Line breaks of the text come back as "\n".
    QString m_strMailText;
    QString m_strMailSubject;

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_wndSubject = nullptr;
    QPlainTextEdit* m_wndText = nullptr;
    bool m_initialised = false;
};
