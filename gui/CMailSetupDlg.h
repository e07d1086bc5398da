// The dialog "Mail Setup": the subject and text of every mail the program
// prepares, and the largest mail the user's provider takes. The caller sets the
// public values, runs the dialog and, on QDialog::Accepted, takes them back.
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
    // Largest mail in megabytes (1,000,000 bytes); 0: no limit.
    int m_nMaxMailMb = 0;

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_wndSubject = nullptr;
    QPlainTextEdit* m_wndText = nullptr;
    QLineEdit* m_wndMaxMb = nullptr;
    bool m_initialised = false;
};
