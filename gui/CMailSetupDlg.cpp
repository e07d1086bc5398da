#include "CMailSetupDlg.h"

#include "DialogUnits.h"
#include "resource.h"

#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

namespace {

// A label keeps its template place but grows to show its whole text in the
// platform's font, which is wider than the template's.
QLabel* label(QLabel* label)
{
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
    return label;
}

} // namespace

CMailSetupDlg::CMailSetupDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CMailSetupDlg"));
    setProperty("id", IDD_MAIL_SETUP);
    setWindowTitle(QStringLiteral("Mail Setup"));
    const DialogUnits units(font());
    setFixedSize(units.size(354, 194));

    auto* ok = units.place(new QPushButton(QStringLiteral("OK"), this), IDOK, 119, 173, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CMailSetupDlg::accept);
    auto* cancel =
        units.place(new QPushButton(QStringLiteral("Abbrechen"), this), IDCANCEL, 185, 173, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CMailSetupDlg::reject);

    label(units.place(new QLabel(QStringLiteral("Betreff:"), this), 0, 7, 13, 24, 8));
    m_wndSubject = units.place(new QLineEdit(this), IDC_MAIL_SUBJECT, 58, 7, 289, 14);

    label(units.place(new QLabel(QStringLiteral("Nachricht"), this), 0, 7, 30, 32, 8));
    // Enter starts a new line here instead of pressing "OK"; long lines scroll
    // sideways rather than wrap.
    m_wndText = units.place(new QPlainTextEdit(this), IDC_MAIL_TEXT, 58, 28, 289, 134);
    m_wndText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_wndText->setTabChangesFocus(true);

    // The provider's limit: a batch's pictures are spread over as many mails as
    // it needs.
    auto* before = label(units.place(new QLabel(QStringLiteral("Mail höchstens"), this), 0, 7, 176, 52, 8));
    m_wndMaxMb = units.place(new QLineEdit(this), IDC_MAIL_MAX_MB, 62, 173, 28, 14);
    m_wndMaxMb->setAlignment(Qt::AlignCenter);
    m_wndMaxMb->setValidator(new QIntValidator(0, 100000, m_wndMaxMb));
    before->setBuddy(m_wndMaxMb);
    label(units.place(new QLabel(QStringLiteral("MB"), this), 0, 93, 176, 14, 8));
}

void CMailSetupDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CMailSetupDlg::OnInitDialog()
{
    m_wndSubject->setText(m_strMailSubject);
    QString text = m_strMailText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_wndText->setPlainText(text);
    m_wndMaxMb->setText(QString::number(m_nMaxMailMb));
}

void CMailSetupDlg::accept()
{
    m_strMailSubject = m_wndSubject->text();
    m_strMailText = m_wndText->toPlainText();
    m_nMaxMailMb = std::max(m_wndMaxMb->text().toInt(), 0);
    QDialog::accept();
}
