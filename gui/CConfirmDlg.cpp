#include "CConfirmDlg.h"

#include "DialogUnits.h"
#include "resource.h"

#include <QLabel>
#include <QPushButton>

CConfirmDlg::CConfirmDlg() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("CConfirmDlg"));
    setProperty("id", IDD_CONFIRM);
    setWindowTitle(QStringLiteral("Umwandlung"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/pictavo.png")));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);
    const DialogUnits units(font());
    setFixedSize(units.size(273, 70));

    m_wndText =
        units.place(new QLabel(QStringLiteral("Static"), this), IDC_CONFIRM_TEXT, 7, 7, 259, 29);
    m_wndText->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_wndText->setWordWrap(true);

    const struct
    {
        int id;
        const char* text;
        int left;
    } buttons[] = {{kNo, "&Nein", 15},
                   {kYes, "&Ja", 79},
                   {kCancel, "&Abbrechen", 143},
                   {kYesToAll, "Ja zu allen", 207}};
    for (const auto& entry : buttons) {
        auto* button = units.place(new QPushButton(QString::fromUtf8(entry.text), this), entry.id,
                                   entry.left, 49, 50, 14);
        // Enter presses the button that has the focus, "&Ja" when none has.
        button->setAutoDefault(true);
        button->setDefault(entry.id == kYes);
        const int id = entry.id;
        connect(button, &QPushButton::clicked, this,
                [this, id] { id == kCancel ? reject() : answerWith(id); });
    }
}

void CConfirmDlg::ask(const QString& text)
{
    m_nAnswer = kNoAnswer;
    m_wndText->setText(text);
    show();
    raise();
    activateWindow();
    if (auto* yes = findChild<QPushButton*>(QString::number(kYes)))
        yes->setFocus();
}

// A second answer to the same question (a click queued behind the first)
// finds the question closed.
void CConfirmDlg::answerWith(int answer)
{
    if (m_nAnswer != kNoAnswer)
        return;
    m_nAnswer = answer;
    hide();
    emit answered(answer);
}

void CConfirmDlg::accept() {}

void CConfirmDlg::reject()
{
    answerWith(kCancel);
}
