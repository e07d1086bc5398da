// A command button that shows a picture instead of a text. From one small bitmap
// of the program's resources it builds four complete faces once (normal, focus,
// pressed, disabled), with their raised or sunken frames; painting then copies
// the face that matches the button's state.
#pragma once

#include <QAbstractButton>
#include <QImage>

#include <array>

class CFaceButton : public QAbstractButton
{
    Q_OBJECT
public:
    enum Face
    {
        Normal,
        Focus,
        Pressed,
        Disabled,
    };
    using Faces = std::array<QImage, 4>;

    explicit CFaceButton(QWidget* parent = nullptr);

    // Builds the faces from bitmap `id` (":/faces/<id>") and gives the button the
    // bitmap's size, keeping its place. May be called again with another bitmap;
    // the old faces go. False when the bitmap cannot be loaded: the button then
    // has no faces and paints nothing.
    bool LoadFaces(int id);

    // The four faces for `bitmap`, in the order of Face. Every face has the
    // bitmap's size; the bitmap should be at least 3 x 3 pixels.
    static Faces makeFaces(const QImage& bitmap);

    bool hasFaces() const { return !m_face[Normal].isNull(); }
    const QImage& face(Face which) const { return m_face[which]; }

    // The face for the button's state at the moment: pushed, else focused, else
    // disabled, else normal.
    Face currentFace() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Faces m_face;
};
