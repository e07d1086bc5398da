// Why a picture could not be read, decoded or written: a value the core returns
// and the user is told about, in German by the window, in English by pictavo-cli.
#pragma once

#include <QString>

enum class FileProblem
{
    None,
    NotFound,
    IsFolder,
    NotAFolder,
    IsPipe,
    IsDevice,
    IsSocket,
    Empty,
    TooLarge,
    AccessDenied,
    ReadOnlyFileSystem,
    DiskFull,
    NotAPicture,
    Damaged,
    Undecodable,
    TooManyPixels,
    OutOfMemory,
    ReadError,
    WriteError,
    // The converted file stays above the user's size limit even at quality 1.
    AboveSizeLimit,
    // A stop came while the picture was decoded (see DecodeCancel.h): nothing is
    // wrong with the file, and no caller reports it as failed.
    Cancelled,
};

struct FileFailure
{
    FileProblem problem = FileProblem::None;
    // The system's error number behind ReadError and WriteError; 0 when none.
    int error = 0;

    bool failed() const { return problem != FileProblem::None; }
    friend bool operator==(const FileFailure&, const FileFailure&) = default;
};

// The failure a system call reported with `error` (an errno value) while reading
// (`writing` false) or writing a file.
FileFailure failureFromError(int error, bool writing);

// The reason as a German clause for "«name» kann nicht gelesen werden: …"; empty
// for FileProblem::None.
QString germanReason(const FileFailure& failure);

// The reason in English for pictavo-cli's lines; empty for FileProblem::None.
QString englishReason(const FileFailure& failure);

// "«name» kann nicht gelesen werden: <reason>." for the file at `path`.
QString cannotReadMessage(const QString& path, const FileFailure& failure);

// "«name» kann nicht gespeichert werden: <reason>." for the file at `path`.
QString cannotSaveMessage(const QString& path, const FileFailure& failure);
