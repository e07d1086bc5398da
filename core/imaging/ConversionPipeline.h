// One conversion of a picture to a JPEG file of the wanted size and quality, and
// everything the user sees of it: the preview, the file's size, the title and
// the information text. The main window, the directory conversion and
// pictavo-cli all run this unit, so the same settings give the same bytes.
#pragma once

#include "imaging/CPicture.h"
#include "imaging/CaptureData.h"
#include "imaging/ConversionSettings.h"
#include "imaging/DecodePlan.h"
#include "imaging/FileFailure.h"
#include "imaging/PictureHeader.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class EffectHost;

// Longest side JPEG can store, in pixels.
inline constexpr int kMaxOutputSide = 65500;

// With a size limit and "notfalls verkleinern", a picture is made smaller
// rather than encoded below this quality (or below the chosen one, when that is
// lower): it is the quality of the example tables of the JPEG standard, and
// below it the quantisation steps grow until blocks show.
inline constexpr int kLowestCleanQuality = 50;

// Size of the output for a source of `sourceSize` (already swapped for a quarter
// turn) and the longer side `targetSize`: the longer side becomes targetSize, the
// other follows in proportion, truncated, at least 1. Sides are limited to
// kMaxOutputSide. An empty source gives an empty size.
QSize outputSizeFor(QSize sourceSize, int targetSize);
// The size a conversion with `settings` gives a source of `uprightSize`: its
// quarter turn swaps the sides, and a source smaller than the target size keeps
// its size when settings.m_bNoEnlarge is set.
QSize convertedSize(QSize uprightSize, const ConversionSettings& settings);

// The shorter side of the view box for `targetSize` and a preview of
// `previewSize`: targetSize x shorter side / longer side, truncated. A preview
// without pixels counts as square.
int viewBoxOtherSide(int targetSize, QSize previewSize);

// The print size: "%.1f x %.1f cm" for `dpi` above 0 (always with a decimal
// point), "Automatisch" for 0.
QString printFormatText(QSize outputSize, int dpi);

// The colour (0xRRGGBB) a picture of `format` (PictureHeader::format) is drawn
// on for the chosen one (ConversionSettings::m_nBackground): the chosen colour,
// else white, as editors and printers flatten a transparent picture, but -1 (no
// background, the black of a fresh bitmap) for GIF, whose transparency Pictavo
// has always shown black.
std::int32_t backgroundFor(const QByteArray& format, std::int32_t chosen);

// "<TEMP>/Temppic.jpg<number>.jpg", with TEMP from the environment or the
// system's temporary folder.
QString temporaryPicturePath(int number);

// "<folder>/<source name without extension> <width>x<height>.jpg".
QString directoryOutputPath(const QString& folder, const QString& sourcePath, QSize outputSize);

struct ConversionResult
{
    // The file written; for a preview the temporary path, which is never kept.
    QString outputPath;
    QSize outputSize;
    // Size of the converted JPEG file in bytes; -1 when nothing was converted.
    qint64 fileBytes = -1;
    // fileBytes / 1000, truncated; 0 when nothing was converted.
    int kilobytes = 0;
    // "NAME.EXT (N Kb)"
    QString title;
    // Original size (only in the run that loaded the source), resulting size and
    // print format, lines separated by "\r\n".
    QString information;
    // With a size limit (settings.m_nMaxKb): the quality the file was encoded
    // with, true when even quality 1 stayed above the limit (a file to be kept is
    // then not written; writeFailure says so), the bytes at quality 1 then, and
    // true when the picture was made smaller than asked to fit (outputSize is
    // the size it got).
    int qualityUsed = 0;
    bool limitMissed = false;
    qint64 bytesAtLowestQuality = -1;
    bool shrunk = false;
    // What the core has to tell the user about this run beyond the failures
    // above, as "caption: text" lines (a missing resource, memory).
    QStringList messages;
    // True when this run loaded the source from its path and it decoded.
    bool sourceLoaded = false;
    // True when the sample photograph was converted: asked for by an empty path.
    bool usedSample = false;
    // Why the source could not be read or decoded. Nothing was converted or
    // written then, and the pipeline still holds the picture of its last run.
    FileFailure readFailure;
    // Why the conversion could not be made (memory) or written (a full disk, a
    // read-only folder, ...); an existing file at outputPath is then unchanged.
    FileFailure writeFailure;
    // The converted JPEG file's bytes; empty when nothing was converted.
    QByteArray jpeg;
    // True when the converted file was written to outputPath (never for a preview).
    bool written = false;
    // The frames or pages the source holds (see PictureFrames.h); the first was converted.
    int frames = 1;

    // The conversion was made (whether or not it was to be written).
    bool converted() const { return !jpeg.isEmpty(); }
};

// The memory one conversion may take, worked out from the source's header
// before the source is read.
struct MemoryEstimate
{
    qint64 bytes = 0;
    // Why the source cannot be converted at all, found before reading it.
    FileFailure failure;
};

class ConversionPipeline
{
public:
    // `effects` may be null (no effects) and must outlive the pipeline.
    explicit ConversionPipeline(const EffectHost* effects = nullptr);
    ~ConversionPipeline();
    ConversionPipeline(const ConversionPipeline&) = delete;
    ConversionPipeline& operator=(const ConversionPipeline&) = delete;

    // Converts the picture at `sourcePath` with `settings`; an empty path
    // converts the built-in sample photograph. The result is written to
    // `outputPath` when given, else into `destinationFolder` named after the
    // source and the output size when given, in both cases through a
    // PendingFile, so the target holds its old bytes or the whole new file.
    // Otherwise the conversion is a preview: it is written to `temporaryPath`
    // (see TemporaryPictureFile), measured there, and removed again at the end of
    // the run; `outputPath` names that path.
    //
    // The source stays loaded for the next run with exactly the same path. A
    // source that cannot be read or decoded is reported in readFailure; the
    // pipeline then keeps the source, preview and view of its last run and
    // writes nothing. Takes no lock: one pipeline must not run on two threads at
    // once.
    ConversionResult Convert(const QString& sourcePath, const ConversionSettings& settings,
                             const QString& destinationFolder, const QString& outputPath,
                             const QString& temporaryPath);

    // The memory a conversion of `sourcePath` with `settings` in a new pipeline
    // may take: the file's bytes, its decode (see DecodePlan) and the output
    // pictures. Only the file's header is read. A file that is no regular file,
    // too large, or no picture that can be converted is refused here already.
    static MemoryEstimate estimateMemory(const QString& sourcePath,
                                         const ConversionSettings& settings);

    // Redraws the view from the last run's first encoding, decoded and not yet
    // adjusted, with the adjustments, effect and half turn or mirror of
    // `settings`: a quick update without a new conversion that shows what the
    // next conversion's second encoding starts from.
    void RedrawView(const ConversionSettings& settings);

    // The output of the last run decoded again; decoded at the first call after
    // a run, so that a run whose preview nobody looks at does not decode it.
    const CPicture& preview() const;
    // The picture the view shows: the preview after the adjustments, Format_BGR888.
    const QImage& view() const { return m_view; }
    // The source as the last run scaled it, before any encoding, turned and
    // mirrored as `settings` asks but without adjustments or effect: what the
    // result is compared with. The size of view(); null when the run converted
    // nothing. A copy only when it has to be mirrored or flipped.
    QImage sourceView(const ConversionSettings& settings) const;
    // The path the source was last loaded from ("dddd" before the first run).
    const QString& loadedPath() const { return m_strLoaded; }
    // Size of the source picture of the last run.
    QSize originalSize() const { return {m_nOrigWidth, m_nOrigHeight}; }
    // The output size a run with `settings` gives for the source loaded now.
    QSize expectedOutputSize(const ConversionSettings& settings) const;

    // A source is decoded at a reduced size only while that covers this many
    // times the size it is drawn at, so that what the reduced decode folds back
    // from beyond the output's resolution lands where the Lanczos filter stops
    // it (bench/quality.sh: at 1.5 a zone plate kept moire of amplitude 11.7 of
    // 127, at 2 of 1.2; see docs/DESIGN.md).
    static constexpr double kDecodeMargin = 2.0;

private:
    static QSize sourceDrawingSize(QSize outputSize, const ConversionSettings& settings);
    static QSize decodeMinimum(QSize drawingSize);
    static QSize minimumForSource(QSize uprightSize, const ConversionSettings& settings);
    void loadSample(ConversionResult& result);
    bool loadSource(const QString& sourcePath, const ConversionSettings& settings,
                    QString& originalSizeText, ConversionResult& result);
    void ensureDecodeFor(QSize drawingSize);
    QImage scaledSource(QSize outputSize, const ConversionSettings& settings) const;
    void encodeTwice(const QImage& converted, const ConversionSettings& settings,
                     ConversionResult& result);
    QByteArray exifSegmentFor(QSize pixelSize, const ConversionSettings& settings);
    void convertWithinLimit(const ConversionSettings& settings, ConversionResult& result);

    const EffectHost* m_effects;
    std::unique_ptr<CPicture> m_pSource;
    QString m_strLoaded = QStringLiteral("dddd");
    bool m_sourceIsSample = false;
    // The source's full size, upright, even when it is decoded smaller.
    QSize m_sourceSize;
    // The source file's bytes, its header and how it is decoded now: decoded
    // again whenever an output size needs another reduction.
    QByteArray m_sourceBytes;
    PictureHeader m_sourceHeader;
    int m_sourceFrames = 1;
    DecodePlan m_decodePlan;
    // The source's capture data, read at the first conversion that keeps it.
    std::optional<CaptureData> m_captureData;
    int m_nOrigWidth = 0;
    int m_nOrigHeight = 0;
    // The first encoding of the last run decoded again, before the adjustments.
    CPicture m_firstDecode;
    mutable CPicture m_preview;
    // The last run's file while its preview is not decoded yet.
    mutable QByteArray m_previewJpeg;
    QImage m_view;
    // The last run's scaled source with its quarter turn, for sourceView().
    QImage m_scaledSource;
};
