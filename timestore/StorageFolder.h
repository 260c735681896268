#pragma once

// The storage folder's rules: which files are recordings, and what happens to the others.
// Plain functions, called on the main thread by the start-up scan and on the recording thread by
// CommitRecording. AVIFileInit must have been called on the calling thread.

#include <windows.h>

#include <string>

class CVideoStore;

// Whole seconds of an AVI file: frames / (rate / scale), 0 for less than a second. False for anything
// that is not a readable AVI file and for a stream slower than one frame per second (such a file is
// not a recording).
[[nodiscard]] bool ReadAviDuration(const std::wstring& path, unsigned& seconds);

// Catalogues one file when it is a recording: a valid name, a readable stream of at least one frame
// per second (however short: a stop in a file's first second, a repaired file), and openable with
// read sharing. startUtc orders it (CVideoInfo::m_llStartUtc); 0 takes the local time of its name
// by today's zone rules. TRUE when it was added.
BOOL RegisterExistingFile(CVideoStore& store, const std::wstring& path, LONGLONG startUtc = 0);

// Writes a closed file's data and metadata through to the disk, so that a power cut after this
// cannot leave it without its contents. FALSE when the file cannot be opened or flushed.
BOOL FlushToDisk(const std::wstring& path);

// The program's own sub-folder of the storage folder (created when missing): what it keeps there
// is never mistaken for an other file by the start-up scan, which does not look into sub-folders.
[[nodiscard]] std::wstring ProgramDataFolder(const std::wstring& storageFolder);

// Moves one file to the Recycle Bin without any dialog; the shell operation's result. Paths longer
// than the shell's 260-character buffer are refused (ERROR_FILENAME_EXCED_RANGE) and left in place.
int RecycleFile(const std::wstring& path);
