// Reading a device with a few of its bytes replaced, without copying the rest:
// a library that must not see part of a file reads it through this.
#pragma once

#include <QByteArray>
#include <QIODevice>

class PatchedDevice final : public QIODevice
{
public:
    // Reads `base` (seekable, open for reading, outliving this device) with the
    // bytes from `at` on replaced by `patch`; open for reading from the start,
    // unbuffered, so that every read reaches `base` as it is asked for.
    PatchedDevice(QIODevice* base, qint64 at, QByteArray patch);

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_base->size(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    QIODevice* const m_base;
    const qint64 m_at;
    const QByteArray m_patch;
};
