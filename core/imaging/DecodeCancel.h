// How a stop reaches a decode that is under way.
//
// A conversion thread decodes under a DecodeCancelScope naming the flag that
// says "stop" (the batch's cancel flag, the window service's stop). The
// decoders read the picture's bytes through a CancellableDevice made on that
// thread: once the flag is set, every read fails, and the decoders that read
// piecewise while they decode end at their next read (libpng and libtiff, which
// reads a strip at a time, with an error; libjpeg, whose source asks
// decodeCancelled() before each piece, at a faked end of the file;
// libheif between the tiles of a grid, Pictavo's GIF decoder after a row). stopEveryDecode() sets a flag of the whole program that every device
// reads as well: a termination signal ends every decode at once.
//
// A decode that fails, or that a refused read left incomplete, while its flag
// is set reports FileProblem::Cancelled, never damage.
//
// Pictavo's WebP and TIFF decoders ask decodeCancelled() themselves, between the
// pieces they feed libwebp and between bands of a TIFF's strips. Where a reader
// cannot stop a decoder, the stop waits for it: the strips Qt's TIFF reader reads
// are read to the end (see serveAfterStop()).
#pragma once

#include <QByteArray>
#include <QIODevice>

#include <atomic>

// While it lives, the decodes on the constructing thread stop once `flag` is
// non-zero. Scopes nest; the innermost one counts. `flag` must outlive the scope.
class DecodeCancelScope
{
public:
    explicit DecodeCancelScope(const std::atomic<int>& flag);
    ~DecodeCancelScope();
    DecodeCancelScope(const DecodeCancelScope&) = delete;
    DecodeCancelScope& operator=(const DecodeCancelScope&) = delete;

    // The flag of the calling thread's innermost scope; null outside any scope.
    static const std::atomic<int>* current();

private:
    const std::atomic<int>* m_outer;
};

// Asks every decode in the program, now and later, to stop. Async-signal-safe
// (one lock-free atomic store), so a signal handler may call it.
void stopEveryDecode();
bool everyDecodeStopped();

// True when the calling thread's decodes are to stop: its scope's flag is set,
// or stopEveryDecode() was called.
bool decodeCancelled();

// The piece size libjpeg is handed a JPEG's bytes in (see JpegDecoder.h): a few
// scans of a hostile file at most. On the shared photos, 4 KiB pieces decode no
// faster.
inline constexpr qint64 kJpegReadBytes = 64;

// Read-only random access over `bytes` (which must outlive the device) that
// fails every read once `flag` (may be null: the program's stop alone) is set
// or stopEveryDecode() was called. Unlike a QBuffer, which Qt's JPEG and TIFF
// readers recognise and hand to the library whole, it is read piecewise. The
// flag is kept in the device, so a library may read from threads of its own.
class CancellableDevice final : public QIODevice
{
public:
    // Open for reading from the start, unbuffered: a read after the stop fails
    // at once instead of serving what a buffer holds.
    CancellableDevice(const QByteArray& bytes, const std::atomic<int>* flag);
    // A device for the calling thread's decodes: the flag of its scope.
    explicit CancellableDevice(const QByteArray& bytes);

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_bytes.size(); }

    // For a reader whose failed reads are unsafe: libtiff 4.5 clears a whole
    // strip's worth past the end of a shorter buffer when a strip cannot be read.
    // Reads then go on after a stop; the stop is seen before the reader starts.
    void serveAfterStop() { m_servesAfterStop = true; }
    // True once a read was refused: what was decoded from the device is incomplete.
    bool refusedRead() const { return m_refused.load(); }

    // For a reader that must never see a read fail (libheif 1.15 asserts that
    // its reads succeed, and aborts): the stop shows where it asks whether the
    // data reaches `end`, which libheif does before it reads a coded picture or
    // a tile; the answer "no" counts as a refused read. readWhole() copies
    // `size` bytes from the position on and moves past them, stop or not;
    // false (copying nothing) past the end.
    bool reaches(qint64 end);
    bool readWhole(char* data, qint64 size);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    bool stopped() const;

    const QByteArray& m_bytes;
    const std::atomic<int>* const m_flag;
    bool m_servesAfterStop = false;
    std::atomic<bool> m_refused{false};
};
