#include "CMailSetupDlg.h"

#include "DialogUnits.h"
#include "resource.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

namespace {

void identify(QWidget* control, int id)
{
    control->setObjectName(QString::number(id));
    control->setProperty("id", id);
}

// A label keeps its template place but grows to show its whole text in the
// platform's font, which is wider than the template's.
void label(QWidget* parent, const QString& text, const QRect& rect)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(rect);
    label->resize(std::max(rect.width(), label->sizeHint().width()), rect.height());
}

} // namespace

CMailSetupDlg::CMailSetupDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CMailSetupDlg"));
    setProperty("id", IDD_MAIL_SETUP);
    setWindowTitle(QStringLiteral("Mail Setup"));
    const DialogUnits units(font());
    setFixedSize(units.size(354, 194));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    identify(ok, IDOK);
    ok->setGeometry(units.rect(119, 173, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CMailSetupDlg::accept);
    auto* cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    identify(cancel, IDCANCEL);
    cancel->setGeometry(units.rect(185, 173, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &CMailSetupDlg::reject);

    label(this, QStringLiteral("Betreff:"), units.rect(7, 13, 24, 8));
    m_wndSubject = new QLineEdit(this);
    identify(m_wndSubject, IDC_MAIL_SUBJECT);
    m_wndSubject->setGeometry(units.rect(58, 7, 289, 14));

    label(this, QStringLiteral("Nachricht"), units.rect(7, 30, 32, 8));
    // Enter starts a new line here instead of pressing "OK"; long lines scroll
    // sideways rather than wrap.
    m_wndText = new QPlainTextEdit(this);
    identify(m_wndText, IDC_MAIL_TEXT);
    m_wndText->setGeometry(units.rect(58, 28, 289, 134));
    m_wndText->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_wndText->setTabChangesFocus(true);
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
}

void CMailSetupDlg::accept()
{
    m_strMailSubject = m_wndSubject->text();
    m_strMailText = m_wndText->toPlainText();
    QDialog::accept();
}
