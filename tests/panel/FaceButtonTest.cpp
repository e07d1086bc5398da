// The picture buttons: the faces built from a bitmap, pixel by pixel, the size
// they give the button, and which face a state paints.
#include "CFaceButton.h"
#include "resource.h"

#include <QTest>

#include <memory>

namespace {

// A blue picture with one black pixel at (1, 1): every other colour of a face
// is its frame.
QImage picture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(qRgb(0, 0, 255));
    picture.setPixel(1, 1, qRgb(0, 0, 0));
    return picture;
}

// A face as rows of letters: W white, K black, G grey (192), b the plain blue.
QStringList letters(const QImage& face)
{
    QStringList rows;
    for (int y = 0; y < face.height(); ++y) {
        QString row;
        for (int x = 0; x < face.width(); ++x) {
            switch (face.pixel(x, y) & 0xffffff) {
            case 0xffffff: row += u'W'; break;
            case 0x000000: row += u'K'; break;
            case 0xc0c0c0: row += u'G'; break;
            case 0x0000ff: row += u'b'; break;
            default: row += u'?'; break;
            }
        }
        rows << row;
    }
    return rows;
}

QImage painted(CFaceButton& button)
{
    QImage target(button.size(), QImage::Format_RGB32);
    target.fill(qRgb(255, 0, 0));
    button.render(&target, QPoint(), QRegion(), QWidget::RenderFlags());
    return target;
}

} // namespace

class FaceButtonTest : public QObject
{
    Q_OBJECT

private slots:
    void framesFollowTheirLines()
    {
        const CFaceButton::Faces faces = CFaceButton::makeFaces(picture(6, 5));
        QCOMPARE(letters(faces[CFaceButton::Normal]),
                 QStringList({"WWWWWW", "WKbbGK", "WbbbGK", "WbbbGK", "KKKKKK"}));
        QCOMPARE(letters(faces[CFaceButton::Focus]),
                 QStringList({"WWWWWW", "WKKKKK", "WKbGKK", "WKKKKK", "KKKKKK"}));
        // The picture one pixel right and down, sunk in.
        QCOMPARE(letters(faces[CFaceButton::Pressed]),
                 QStringList({"GGGGGG", "GbbbbW", "GbKbbW", "GbbbbW", "WWWWWW"}));
        // Column by column: the first pixel of each run of one colour grey, the
        // rest of the run white.
        QCOMPARE(letters(faces[CFaceButton::Disabled]),
                 QStringList({"GGGGGG", "WGGGGG", "WGWWWW", "WWWWWW", "GGGGGW"}));
    }

    void buttonTakesTheBitmapSize_data()
    {
        QTest::addColumn<int>("bitmap");
        QTest::addColumn<QSize>("size");
        QTest::newRow("save") << IDB_FACE_SAVE << QSize(22, 22);
        QTest::newRow("reset") << IDB_FACE_RESET << QSize(22, 22);
        QTest::newRow("more") << IDB_FACE_MORE << QSize(44, 22);
        QTest::newRow("less") << IDB_FACE_LESS << QSize(44, 22);
    }

    void buttonTakesTheBitmapSize()
    {
        QFETCH(int, bitmap);
        QFETCH(QSize, size);
        QWidget parent;
        auto* button = new CFaceButton(&parent);
        button->setGeometry(10, 12, 31, 17);
        QVERIFY(button->LoadFaces(bitmap));
        QCOMPARE(button->geometry(), QRect(QPoint(10, 12), size));
        // The drawings leave the frames' pixels to the button: the picture's
        // corner shows the light grey of the background.
        const QImage picture(QStringLiteral(":/faces/%1").arg(bitmap));
        QCOMPARE(picture.size(), size);
        QCOMPARE(picture.pixel(1, 1) & 0xffffff, 0xc0c0c0u);
    }

    void paintsTheFaceOfItsState()
    {
        QWidget window;
        window.resize(80, 40);
        auto* button = new CFaceButton(&window);
        auto* other = new CFaceButton(&window);
        other->move(40, 0);
        QVERIFY(button->LoadFaces(IDB_FACE_SEND));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();

        QCOMPARE(painted(*button), button->face(CFaceButton::Normal));
        button->setDown(true);
        QCOMPARE(painted(*button), button->face(CFaceButton::Pressed));
        button->setFocus();
        QCOMPARE(painted(*button), button->face(CFaceButton::Pressed));
        button->setDown(false);
        QCOMPARE(painted(*button), button->face(CFaceButton::Focus));
        other->setFocus();
        button->setEnabled(false);
        QCOMPARE(painted(*button), button->face(CFaceButton::Disabled));
    }

    void withoutFacesPaintsNothing()
    {
        CFaceButton never;
        never.resize(22, 22);
        const QImage untouched = painted(never);
        QCOMPARE(untouched.pixel(11, 11), qRgb(255, 0, 0));
        QCOMPARE(untouched, painted(never));

        CFaceButton lost;
        QVERIFY(lost.LoadFaces(IDB_FACE_OPEN));
        QVERIFY(!lost.LoadFaces(99999));
        QVERIFY(!lost.hasFaces());
        QCOMPARE(painted(lost).pixel(5, 5), qRgb(255, 0, 0));
    }
};

QTEST_MAIN(FaceButtonTest)
#include "FaceButtonTest.moc"
