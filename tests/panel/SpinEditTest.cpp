// The number fields with arrows: where the arrows go, that they come only once,
// how the arrows and cursor keys step, and how field text reads as a number.
#include "CSpinEdit.h"
#include "resource.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

QList<QWidget*> arrowControls(const QWidget& parent)
{
    QList<QWidget*> found;
    for (QWidget* child : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->property("id").toInt() == IDC_SPIN)
            found << child;
    }
    return found;
}

} // namespace

class SpinEditTest : public QObject
{
    Q_OBJECT

private slots:
    void firstRangeMakesRoomForArrows()
    {
        QWidget parent;
        auto* field = new CSpinEdit(&parent);
        field->setGeometry(10, 12, 80, 24);
        QVERIFY(arrowControls(parent).isEmpty());

        field->SetRange(-100, 100);
        QCOMPARE(field->geometry(), QRect(10, 12, 60, 24));
        QCOMPARE(arrowControls(parent).size(), 1);
        QCOMPARE(field->spinArrows()->geometry(), QRect(70, 12, 20, 24));

        field->SetRange(0, 5);
        QCOMPARE(field->geometry(), QRect(10, 12, 60, 24));
        QCOMPARE(arrowControls(parent).size(), 1);
    }

    void steps_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("shown");
        QTest::newRow("up") << -100 << 100 << "5" << 1 << "6";
        QTest::newRow("down") << -100 << 100 << "5" << -1 << "4";
        QTest::newRow("down through 0") << -100 << 100 << "0" << -1 << "-1";
        QTest::newRow("top stays") << -100 << 100 << "100" << 1 << "100";
        QTest::newRow("bottom stays") << -100 << 100 << "-100" << -1 << "-100";
        QTest::newRow("text counts as 0") << -100 << 100 << "abc" << 1 << "1";
        QTest::newRow("typed beyond the range") << -100 << 100 << "-250" << 1 << "-99";
        QTest::newRow("second range") << 0 << 3 << "3" << 1 << "3";
    }

    void steps()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(QString, start);
        QFETCH(int, direction);
        QFETCH(QString, shown);
        QWidget parent;
        auto* field = new CSpinEdit(&parent);
        field->setGeometry(0, 0, 80, 24);
        field->SetRange(-100, 100);
        field->SetRange(low, high);
        auto* button = field->spinArrows()->findChild<QToolButton*>(
            direction > 0 ? QStringLiteral("up") : QStringLiteral("down"));
        QVERIFY(button != nullptr);

        // Once by the arrow, once by the cursor key, each from the start text.
        for (const bool byKey : {false, true}) {
            field->setText(start);
            QSignalSpy changes(field, &QLineEdit::textChanged);
            if (byKey)
                QTest::keyClick(field, direction > 0 ? Qt::Key_Up : Qt::Key_Down);
            else
                QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(field->text(), shown);
            QCOMPARE(changes.size(), shown == start ? 0 : 1);
        }
    }

    void fieldText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("number") << "42" << 42;
        QTest::newRow("negative") << "-250" << -250;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("blanks") << " 12 " << 12;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("minus alone") << "-" << 0;
        QTest::newRow("word") << "abc" << 0;
        QTest::newRow("trailing letters") << "12abc" << 0;
        QTest::newRow("fraction") << "1.5" << 0;
        QTest::newRow("beyond 32 bits") << "4294967296" << 0;
    }

    void fieldText()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(fieldInteger(text), value);
    }
};

QTEST_MAIN(SpinEditTest)
#include "SpinEditTest.moc"
