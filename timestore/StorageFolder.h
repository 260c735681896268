#pragma once

// The storage folder's rules: which files are recordings, and what happens to the others.
// Plain functions, called on the main thread by the start-up scan and on the recording thread by
// CommitRecording. AVIFileInit must have been called on the calling thread.

#include <windows.h>

#include <string>

class CVideoStore;

// Whole seconds of an AVI file: frames / (rate / scale). 0 for anything that is not a readable AVI
// file and for a stream slower than one frame per second (such a file is not a recording).
[[nodiscard]] unsigned ReadAviDuration(const std::wstring& path);

// Catalogues one file when it is a recording: a valid name, at least one second of video, and
// openable with read sharing. TRUE when it was added.
BOOL RegisterExistingFile(CVideoStore& store, const std::wstring& path);

// Writes a closed file's data and metadata through to the disk, so that a power cut after this
// cannot leave it without its contents. FALSE when the file cannot be opened or flushed.
BOOL FlushToDisk(const std::wstring& path);

// The program's own sub-folder of the storage folder (created when missing): what it keeps there
// is never mistaken for an other file by the start-up scan, which does not look into sub-folders.
[[nodiscard]] std::wstring ProgramDataFolder(const std::wstring& storageFolder);

// Moves one file to the Recycle Bin without any dialog; the shell operation's result. Paths longer
// than the shell's 260-character buffer are refused (ERROR_FILENAME_EXCED_RANGE) and left in place.
int RecycleFile(const std::wstring& path);
